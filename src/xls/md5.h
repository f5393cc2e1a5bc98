#pragma once

#include "xls/block_hash.h"

namespace xls {

// Incremental MD5 (RFC 1321).
class TMD5 : public TBlockHash<TMD5, 4, false> {
public:
  static constexpr uint32_t Initial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  static TWords Transform(const uint32_t state[4], const uint32_t m[16]);
};

using TMD5Digest = TMD5::TDigest;
inline TMD5Digest Md5(const void *data, size_t n) { return TMD5::Of(data, n); }

} // namespace xls
