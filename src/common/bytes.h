#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace common {

// Little-endian 16-bit and 32-bit values, as every field of the file formats is stored.
inline uint16_t Get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// count little-endian UTF-16 code units.
inline std::u16string Utf16Text(const uint8_t *p, size_t count) {
  std::u16string text(count, u'\0');
  for (size_t i = 0; i < count; ++i)
    text[i] = static_cast<char16_t>(Get16(p + 2 * i));
  return text;
}

} // namespace common
