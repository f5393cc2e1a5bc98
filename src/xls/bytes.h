#pragma once

#include <cstdint>

namespace xls {

// Little-endian 16-bit and 32-bit values, as every field of the file formats is stored.
inline uint16_t Get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace xls
