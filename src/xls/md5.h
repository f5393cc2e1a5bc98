#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace xls {

using TMD5Digest = std::array<uint8_t, 16>;

// Incremental MD5 (RFC 1321).
class TMD5 {
public:
  TMD5();
  void Update(const void *data, size_t n);
  // Finishes the digest; the object starts over afterwards.
  TMD5Digest Final();

private:
  void Reset();
  void Transform(const uint8_t block[64]);

  uint32_t FState[4];
  uint64_t FLength = 0; // bytes hashed so far
  uint8_t FBuffer[64];
  size_t FBuffered = 0;
};

TMD5Digest Md5(const void *data, size_t n);

} // namespace xls
