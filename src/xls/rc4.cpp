#include "xls/rc4.h"

#include <utility>

namespace xls {

void TRC4::SetKey(const uint8_t *key, size_t keyLength) {
  for (int i = 0; i < 256; ++i)
    FS[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + FS[i] + (keyLength ? key[i % keyLength] : 0));
    std::swap(FS[i], FS[j]);
  }
  FI = 0;
  FJ = 0;
}

void TRC4::Process(uint8_t *data, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    FI = static_cast<uint8_t>(FI + 1);
    FJ = static_cast<uint8_t>(FJ + FS[FI]);
    std::swap(FS[FI], FS[FJ]);
    data[k] ^= FS[static_cast<uint8_t>(FS[FI] + FS[FJ])];
  }
}

void TRC4::Skip(size_t n) {
  for (size_t k = 0; k < n; ++k) {
    FI = static_cast<uint8_t>(FI + 1);
    FJ = static_cast<uint8_t>(FJ + FS[FI]);
    std::swap(FS[FI], FS[FJ]);
  }
}

} // namespace xls
