#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace xls {

using TSHA1Digest = std::array<uint8_t, 20>;

// Incremental SHA-1 (FIPS 180), for the keys of CryptoAPI-encrypted workbooks.
class TSHA1 {
public:
  TSHA1() { Reset(); }
  void Update(const void *data, size_t n);
  // Finishes the digest; the object starts over afterwards.
  TSHA1Digest Final();

private:
  void Reset();
  void Transform(const uint8_t block[64]);

  uint32_t FState[5];
  uint64_t FLength = 0; // bytes hashed so far
  uint8_t FBuffer[64];
  size_t FBuffered = 0;
};

TSHA1Digest Sha1(const void *data, size_t n);

} // namespace xls
