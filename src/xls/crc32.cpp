#include "xls/crc32.h"

#include <array>

namespace xls {

namespace {

// Table k gives the register change of a byte followed by k zero bytes, so eight bytes can be
// folded in at once.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i)
    for (size_t k = 1; k < 8; ++k)
      t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr Tables Table = MakeTables();

} // namespace

uint32_t Crc32Update(uint32_t crc, const void *data, size_t n) {
  const auto *p = static_cast<const uint8_t *>(data);
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t lo =
        crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    crc = Table[7][lo & 0xFF] ^ Table[6][(lo >> 8) & 0xFF] ^ Table[5][(lo >> 16) & 0xFF] ^
          Table[4][lo >> 24] ^ Table[3][p[4]] ^ Table[2][p[5]] ^ Table[1][p[6]] ^ Table[0][p[7]];
  }
  for (; n > 0; --n, ++p)
    crc = Table[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t Crc32(const void *data, size_t n) { return ~Crc32Update(0xFFFFFFFFu, data, n); }

} // namespace xls
