#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "xls/block_hash.h"

namespace xls {

using TMD5Digest = std::array<uint8_t, 16>;

// Incremental MD5 (RFC 1321).
class TMD5 : public TBlockHash<TMD5, false> {
public:
  TMD5();
  // Finishes the digest; the object starts over afterwards.
  TMD5Digest Final();

private:
  friend class TBlockHash<TMD5, false>;
  void Reset();
  void Transform(const uint8_t block[64]);

  uint32_t FState[4];
};

TMD5Digest Md5(const void *data, size_t n);

} // namespace xls
