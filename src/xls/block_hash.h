#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace xls {

// The 64-byte blocks and the closing pad that MD5 and SHA-1 share. Hash supplies
// Transform(const uint8_t *block); the closing bit count is written big-endian for SHA-1 and
// little-endian for MD5.
template <class Hash, bool BigEndianLength> class TBlockHash {
public:
  void Update(const void *data, size_t n) {
    const auto *p = static_cast<const uint8_t *>(data);
    FLength += n;
    while (n > 0) {
      const size_t take = std::min(n, sizeof FBuffer - FBuffered);
      std::memcpy(FBuffer + FBuffered, p, take);
      FBuffered += take;
      p += take;
      n -= take;
      if (FBuffered == sizeof FBuffer) {
        static_cast<Hash *>(this)->Transform(FBuffer);
        FBuffered = 0;
      }
    }
  }

protected:
  // Ends the message: 0x80, zeros up to the last 8 bytes of a block, then the length in bits.
  void Pad() {
    const uint64_t bits = FLength * 8;
    const uint8_t pad = 0x80;
    Update(&pad, 1);
    const uint8_t zero = 0;
    while (FBuffered != 56)
      Update(&zero, 1);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i)
      length[i] = static_cast<uint8_t>(bits >> (BigEndianLength ? 56 - 8 * i : 8 * i));
    Update(length, sizeof length);
  }
  void ResetBlocks() {
    FLength = 0;
    FBuffered = 0;
  }

private:
  uint64_t FLength = 0; // bytes hashed so far
  uint8_t FBuffer[64];
  size_t FBuffered = 0;
};

} // namespace xls
