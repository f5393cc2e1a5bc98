#pragma once

#include <cstddef>
#include <cstdint>

namespace xls {

// The RC4 stream cipher. Encryption and decryption are the same operation.
class TRC4 {
public:
  TRC4() = default;
  TRC4(const uint8_t *key, size_t keyLength) { SetKey(key, keyLength); }

  // Key setup; a key of 1 to 256 bytes.
  void SetKey(const uint8_t *key, size_t keyLength);
  // XORs n bytes in place with the next n key-stream bytes.
  void Process(uint8_t *data, size_t n);
  // Advances the key stream over n bytes without touching any data.
  void Skip(size_t n);

private:
  uint8_t FS[256] = {};
  uint8_t FI = 0;
  uint8_t FJ = 0;
};

} // namespace xls
