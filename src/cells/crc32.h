#pragma once

#include <cstddef>
#include <cstdint>

namespace xls {

// The raw reflected CRC-32 update (polynomial 0xEDB88320): no initial value and no final
// inversion are applied, so callers can chain it over pieces with their own conventions.
uint32_t Crc32Update(uint32_t crc, const void *data, size_t n);

// The standard CRC-32: ~Crc32Update(0xFFFFFFFF, data, n). "123456789" gives 0xCBF43926.
uint32_t Crc32(const void *data, size_t n);

} // namespace xls
