#include "xls/rc4.h"

#include <numeric>
#include <utility>

namespace xls {

void TRC4::SetKey(const uint8_t *key, size_t keyLength) {
  std::iota(FS, FS + 256, uint8_t{0});
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + FS[i] + (keyLength ? key[i % keyLength] : 0));
    std::swap(FS[i], FS[j]);
  }
  FI = 0;
  FJ = 0;
}

void TRC4::Process(uint8_t *data, size_t n) {
  // Locals, because writes through data (a byte pointer) could alias the members.
  uint8_t i = FI, j = FJ;
  uint8_t *s = FS;
  for (size_t k = 0; k < n; ++k) {
    i = static_cast<uint8_t>(i + 1);
    const uint8_t si = s[i];
    j = static_cast<uint8_t>(j + si);
    s[i] = s[j];
    s[j] = si;
    data[k] ^= s[static_cast<uint8_t>(si + s[i])];
  }
  FI = i;
  FJ = j;
}

void TRC4::Skip(size_t n) {
  for (size_t k = 0; k < n; ++k) {
    FI = static_cast<uint8_t>(FI + 1);
    FJ = static_cast<uint8_t>(FJ + FS[FI]);
    std::swap(FS[FI], FS[FJ]);
  }
}

} // namespace xls
