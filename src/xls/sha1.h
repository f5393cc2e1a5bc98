#pragma once

#include "xls/block_hash.h"

namespace xls {

// Incremental SHA-1 (FIPS 180), for the keys of CryptoAPI-encrypted workbooks.
class TSHA1 : public TBlockHash<TSHA1, 5, true> {
public:
  static constexpr uint32_t Initial[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  static TWords Transform(const uint32_t state[5], const uint32_t block[16]);
};

using TSHA1Digest = TSHA1::TDigest;
inline TSHA1Digest Sha1(const void *data, size_t n) { return TSHA1::Of(data, n); }

} // namespace xls
