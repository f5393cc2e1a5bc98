#include "xls/crc32.h"

#include <array>

namespace xls {

namespace {
const std::array<uint32_t, 256> Table = [] {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}();
} // namespace

uint32_t Crc32Update(uint32_t crc, const void *data, size_t n) {
  const auto *p = static_cast<const uint8_t *>(data);
  for (size_t i = 0; i < n; ++i)
    crc = Table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t Crc32(const void *data, size_t n) { return ~Crc32Update(0xFFFFFFFFu, data, n); }

} // namespace xls
