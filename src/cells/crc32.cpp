#include "cells/crc32.h"

#include <array>

namespace xls {

namespace {
// Table[k][b]: the register change of byte b followed by k zero bytes, so that eight bytes take
// eight lookups and no loop-carried step between them.
const std::array<std::array<uint32_t, 256>, 8> Table = [] {
  std::array<std::array<uint32_t, 256>, 8> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[0][i] = c;
  }
  for (size_t k = 1; k < 8; ++k)
    for (size_t i = 0; i < 256; ++i)
      table[k][i] = (table[k - 1][i] >> 8) ^ table[0][table[k - 1][i] & 0xFF];
  return table;
}();

uint32_t Load32(const uint8_t *p) {
  return p[0] | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
} // namespace

uint32_t Crc32Update(uint32_t crc, const void *data, size_t n) {
  const auto *p = static_cast<const uint8_t *>(data);
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t lo = crc ^ Load32(p), hi = Load32(p + 4);
    crc = Table[7][lo & 0xFF] ^ Table[6][(lo >> 8) & 0xFF] ^ Table[5][(lo >> 16) & 0xFF] ^
          Table[4][lo >> 24] ^ Table[3][hi & 0xFF] ^ Table[2][(hi >> 8) & 0xFF] ^
          Table[1][(hi >> 16) & 0xFF] ^ Table[0][hi >> 24];
  }
  for (; n > 0; --n, ++p)
    crc = Table[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t Crc32(const void *data, size_t n) { return ~Crc32Update(0xFFFFFFFFu, data, n); }

} // namespace xls
