#include "xls/crc32.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define XE_CRC32_CLMUL 1
#endif

namespace xls {

namespace {

// Table k gives the register change of a byte followed by k zero bytes, so eight bytes can be
// folded in at once.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i)
    for (size_t k = 1; k < 8; ++k)
      t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr Tables Table = MakeTables();

uint32_t UpdateByTable(uint32_t crc, const uint8_t *p, size_t n) {
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t lo =
        crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    crc = Table[7][lo & 0xFF] ^ Table[6][(lo >> 8) & 0xFF] ^ Table[5][(lo >> 16) & 0xFF] ^
          Table[4][lo >> 24] ^ Table[3][p[4]] ^ Table[2][p[5]] ^ Table[1][p[6]] ^ Table[0][p[7]];
  }
  for (; n > 0; --n, ++p)
    crc = Table[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return crc;
}

#ifdef XE_CRC32_CLMUL
// Sixteen bytes or more by carry-less multiplication: the register is added to the first 16
// bytes, each further 16 bytes are added to the 128 bits so far folded forward over 128 bit
// positions, a last piece of fewer through byte shuffles, and the 128 bits are reduced to 32 at
// the end. Twice as fast as the tables on 40 bytes and three times on 100. The constants are
// powers of x modulo the polynomial, bit-reflected, that fold 128 bits forward and 64 bits down
// to 32, then the polynomial and its Barrett constant.
#define XE_CLMUL __attribute__((target("pclmul,ssse3,sse4.1")))
alignas(16) constexpr uint64_t Fold128[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) constexpr uint64_t Fold64[2] = {0x0163cd6124, 0};
alignas(16) constexpr uint64_t Barrett[2] = {0x01db710641, 0x01f7011641};
// As a shuffle, 16 bytes from Shift + 16 - k move bytes up by k, those from Shift + 16 + k down
// by k; bytes moved in are zero.
alignas(16) constexpr uint8_t Shift[48] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
// 16 bytes from KeepTop + k: a mask of the top k bytes.
alignas(16) constexpr uint8_t KeepTop[32] = {0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                                             0,    0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

XE_CLMUL inline __m128i Load(const void *at) { return _mm_loadu_si128(static_cast<const __m128i *>(at)); }

XE_CLMUL inline __m128i FoldForward(__m128i x) {
  const __m128i k = Load(Fold128);
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

XE_CLMUL uint32_t UpdateByClmul(uint32_t crc, const uint8_t *p, size_t n) {
  __m128i x = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  p += 16, n -= 16;
  for (; n >= 16; p += 16, n -= 16)
    x = _mm_xor_si128(FoldForward(x), Load(p));
  if (n > 0) {
    // The last 16 + n bytes are x's bytes 0 to n-1, folded forward, and a block of x's bytes n to
    // 15 followed by the n new ones (the top of the 16 bytes that end the data).
    const __m128i head = _mm_shuffle_epi8(x, Load(Shift + n));
    const __m128i rest = _mm_shuffle_epi8(x, Load(Shift + 16 + n));
    const __m128i added = _mm_and_si128(Load(p + n - 16), Load(KeepTop + n));
    x = _mm_xor_si128(FoldForward(head), _mm_xor_si128(rest, added));
  }
  // 128 bits to 64, then Barrett reduction to 32.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, Load(Fold128), 0x10));
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), Load(Fold64), 0x00), _mm_srli_si128(x, 4));
  const __m128i barrett = Load(Barrett);
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, q), 1));
}
#undef XE_CLMUL

const bool HasClmul = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3") &&
         __builtin_cpu_supports("sse4.1");
}();
#endif

} // namespace

uint32_t Crc32Update(uint32_t crc, const void *data, size_t n) {
  const auto *p = static_cast<const uint8_t *>(data);
#ifdef XE_CRC32_CLMUL
  if (n >= 16 && HasClmul)
    return UpdateByClmul(crc, p, n);
#endif
  return UpdateByTable(crc, p, n);
}

uint32_t Crc32(const void *data, size_t n) { return ~Crc32Update(0xFFFFFFFFu, data, n); }

} // namespace xls
