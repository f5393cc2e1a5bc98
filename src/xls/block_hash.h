#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/bytes.h"

namespace xls {

// What MD5 and SHA-1 share: 64-byte blocks, the closing pad and the digest of Words state words.
// The two differ in byte order (SHA-1 big-endian, MD5 little-endian) and in their Initial state
// and Transform, which Hash supplies.
template <class Hash, size_t Words, bool BigEndian> class TBlockHash {
public:
  using TDigest = std::array<uint8_t, 4 * Words>;
  using TWords = std::array<uint32_t, Words>;

  TBlockHash() { Reset(); }

  void Update(const void *data, size_t n) {
    const auto *p = static_cast<const uint8_t *>(data);
    FLength += n;
    while (n > 0) {
      const size_t take = std::min(n, sizeof FBuffer - FBuffered);
      std::memcpy(FBuffer + FBuffered, p, take);
      FBuffered += take;
      p += take;
      n -= take;
      if (FBuffered == sizeof FBuffer) {
        uint32_t words[16];
        for (int i = 0; i < 16; ++i)
          words[i] = Word(FBuffer + 4 * i);
        // Transform mixes a block into copies of the state words; both hashes add them back.
        const TWords mixed = Hash::Transform(FState, words);
        for (size_t i = 0; i < Words; ++i)
          FState[i] += mixed[i];
        FBuffered = 0;
      }
    }
  }

  // Finishes the digest; the object starts over afterwards.
  TDigest Final() {
    // 0x80, zeros up to the last 8 bytes of a block, then the length in bits.
    const uint64_t bits = FLength * 8;
    const uint8_t pad = 0x80, zero = 0;
    Update(&pad, 1);
    while (FBuffered != 56)
      Update(&zero, 1);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i)
      length[i] = static_cast<uint8_t>(bits >> (BigEndian ? 56 - 8 * i : 8 * i));
    Update(length, sizeof length);
    TDigest digest;
    for (size_t i = 0; i < digest.size(); ++i)
      digest[i] = static_cast<uint8_t>(FState[i / 4] >> (BigEndian ? 24 - 8 * (i % 4) : 8 * (i % 4)));
    Reset();
    return digest;
  }

  static TDigest Of(const void *data, size_t n) {
    Hash hash;
    hash.Update(data, n);
    return hash.Final();
  }

private:
  static uint32_t Word(const uint8_t *p) {
    return BigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                     : common::Get32(p);
  }
  void Reset() {
    std::copy(Hash::Initial, Hash::Initial + Words, FState);
    FLength = 0;
    FBuffered = 0;
  }

  uint32_t FState[Words];
  uint64_t FLength = 0; // bytes hashed so far
  uint8_t FBuffer[64] = {};
  size_t FBuffered = 0;
};

// Incremental MD5 (RFC 1321).
class TMD5 : public TBlockHash<TMD5, 4, false> {
public:
  static constexpr uint32_t Initial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  static TWords Transform(const uint32_t state[4], const uint32_t m[16]);
};

// Incremental SHA-1 (FIPS 180), for the keys of CryptoAPI-encrypted workbooks.
class TSHA1 : public TBlockHash<TSHA1, 5, true> {
public:
  static constexpr uint32_t Initial[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  static TWords Transform(const uint32_t state[5], const uint32_t block[16]);
};

using TMD5Digest = TMD5::TDigest;
using TSHA1Digest = TSHA1::TDigest;
inline TMD5Digest Md5(const void *data, size_t n) { return TMD5::Of(data, n); }
inline TSHA1Digest Sha1(const void *data, size_t n) { return TSHA1::Of(data, n); }

} // namespace xls
