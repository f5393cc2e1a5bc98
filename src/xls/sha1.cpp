#include "xls/sha1.h"

#include <algorithm>
#include <cstring>

namespace xls {

namespace {
uint32_t RotateLeft(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }
} // namespace

void TSHA1::Reset() {
  FState[0] = 0x67452301;
  FState[1] = 0xEFCDAB89;
  FState[2] = 0x98BADCFE;
  FState[3] = 0x10325476;
  FState[4] = 0xC3D2E1F0;
  ResetBlocks();
}

void TSHA1::Transform(const uint8_t block[64]) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t(block[i * 4]) << 24 | uint32_t(block[i * 4 + 1]) << 16 | uint32_t(block[i * 4 + 2]) << 8 |
           uint32_t(block[i * 4 + 3]);
  for (int i = 16; i < 80; ++i)
    w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3], e = FState[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t t = RotateLeft(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = t;
  }
  FState[0] += a;
  FState[1] += b;
  FState[2] += c;
  FState[3] += d;
  FState[4] += e;
}

TSHA1Digest TSHA1::Final() {
  Pad();
  TSHA1Digest digest;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j)
      digest[size_t(i * 4 + j)] = static_cast<uint8_t>(FState[i] >> (24 - 8 * j));
  Reset();
  return digest;
}

TSHA1Digest Sha1(const void *data, size_t n) {
  TSHA1 sha;
  sha.Update(data, n);
  return sha.Final();
}

} // namespace xls
