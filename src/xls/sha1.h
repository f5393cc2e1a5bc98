#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "xls/block_hash.h"

namespace xls {

using TSHA1Digest = std::array<uint8_t, 20>;

// Incremental SHA-1 (FIPS 180), for the keys of CryptoAPI-encrypted workbooks.
class TSHA1 : public TBlockHash<TSHA1, true> {
public:
  TSHA1() { Reset(); }
  // Finishes the digest; the object starts over afterwards.
  TSHA1Digest Final();

private:
  friend class TBlockHash<TSHA1, true>;
  void Reset();
  void Transform(const uint8_t block[64]);

  uint32_t FState[5];
};

TSHA1Digest Sha1(const void *data, size_t n);

} // namespace xls
