#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cells/crc32.h"
#include "xls/block_hash.h"
#include "xls/rc4.h"

namespace {

std::string Hex(const uint8_t *data, size_t n) {
  std::string out;
  char buf[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    out += buf;
  }
  return out;
}

std::string Md5Hex(const std::string &text) {
  const xls::TMD5Digest d = xls::Md5(text.data(), text.size());
  return Hex(d.data(), d.size());
}

TEST(Md5, Rfc1321Suite) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PiecewiseUpdatesMatchOneShotAcrossBlockBoundaries) {
  std::string text;
  for (int i = 0; i < 300; ++i)
    text += static_cast<char>('A' + i % 26);
  const xls::TMD5Digest whole = xls::Md5(text.data(), text.size());
  for (size_t step : {1u, 7u, 55u, 56u, 63u, 64u, 65u}) {
    xls::TMD5 md5;
    for (size_t at = 0; at < text.size(); at += step)
      md5.Update(text.data() + at, std::min(step, text.size() - at));
    EXPECT_EQ(md5.Final(), whole) << "step " << step;
    // Final starts the object over.
    md5.Update("abc", 3);
    EXPECT_EQ(Hex(md5.Final().data(), 16), "900150983cd24fb0d6963f7d28e17f72");
  }
}

std::string Sha1Hex(const std::string &text) {
  const xls::TSHA1Digest d = xls::Sha1(text.data(), text.size());
  return Hex(d.data(), d.size());
}

TEST(Sha1, Fips180Vectors) {
  EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  // A million 'a's fed in uneven pieces, so padding and block boundaries fall everywhere.
  const std::string piece(997, 'a');
  xls::TSHA1 sha;
  size_t left = 1000000;
  while (left > 0) {
    const size_t n = std::min(left, piece.size());
    sha.Update(piece.data(), n);
    left -= n;
  }
  EXPECT_EQ(Hex(sha.Final().data(), 20), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  sha.Update("abc", 3); // Final starts the object over
  EXPECT_EQ(Hex(sha.Final().data(), 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

std::string Rc4Hex(const std::string &key, const std::string &plain) {
  std::vector<uint8_t> data(plain.begin(), plain.end());
  xls::TRC4 rc4(reinterpret_cast<const uint8_t *>(key.data()), key.size());
  rc4.Process(data.data(), data.size());
  return Hex(data.data(), data.size());
}

TEST(Rc4, PublishedVectors) {
  const uint8_t key[] = {0x01, 0x02, 0x03, 0x04, 0x05};
  uint8_t zeros[16] = {};
  xls::TRC4 rc4(key, sizeof key);
  rc4.Process(zeros, sizeof zeros);
  EXPECT_EQ(Hex(zeros, 16), "b2396305f03dc027ccc3524a0a1118a8");
  EXPECT_EQ(Rc4Hex("Key", "Plaintext"), "bbf316e8d940af0ad3");
  EXPECT_EQ(Rc4Hex("Wiki", "pedia"), "1021bf0420");
  EXPECT_EQ(Rc4Hex("Secret", "Attack at dawn"), "45a01f645fc35b383552544b9bf5");
}

TEST(Rc4, SkipAdvancesLikeProcessAndRekeyingRestarts) {
  const uint8_t key[] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 11, 12, 13, 14, 15, 16};
  std::vector<uint8_t> full(2000, 0);
  xls::TRC4 a(key, sizeof key);
  a.Process(full.data(), full.size());

  xls::TRC4 b(key, sizeof key);
  b.Skip(1500);
  std::vector<uint8_t> tail(500, 0);
  b.Process(tail.data(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), full.begin() + 1500));

  b.SetKey(key, sizeof key);
  uint8_t head[4] = {};
  b.Process(head, 4);
  EXPECT_TRUE(std::equal(head, head + 4, full.begin()));
}

TEST(Crc32, StandardCheckValueAndChaining) {
  EXPECT_EQ(xls::Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(xls::Crc32("", 0), 0u);
  // The raw update chains over pieces; only the caller applies the inversions.
  uint32_t crc = xls::Crc32Update(0xFFFFFFFFu, "1234", 4);
  crc = xls::Crc32Update(crc, "56789", 5);
  EXPECT_EQ(~crc, 0xCBF43926u);
  EXPECT_EQ(xls::Crc32Update(0, "", 0), 0u);

  // Blocks of 16 bytes, eight bytes and single bytes are folded in differently, and a last piece
  // of a long text through shifts: every length up to 200, at four offsets and from three start
  // registers, matches the register shifted bit by bit.
  auto bitwise = [](uint32_t c, const uint8_t *p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      c ^= p[i];
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c;
  };
  uint8_t bytes[203];
  for (size_t i = 0; i < sizeof bytes; ++i)
    bytes[i] = static_cast<uint8_t>(i * i * 151 + i * 13 + 7);
  for (const uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u})
    for (size_t offset = 0; offset < 4; ++offset)
      for (size_t n = 0; offset + n <= sizeof bytes; ++n)
        ASSERT_EQ(xls::Crc32Update(start, bytes + offset, n), bitwise(start, bytes + offset, n))
            << "length " << n << " offset " << offset;
}

} // namespace
