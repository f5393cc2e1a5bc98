#include "common/number_text.h"

#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string_view>

namespace common {

namespace {

// The separator of the locale named by the environment, looked up once: the environment does not
// change while the program runs, and building a locale costs far more than formatting a number.
char EnvironmentSeparator() {
  static const char separator = [] {
    const char *env = std::getenv("LC_ALL");
    if (!env || !*env)
      env = std::getenv("LC_NUMERIC");
    if (!env || !*env)
      env = std::getenv("LANG");
    char sep = '.';
    if (!env || !*env)
      return sep;
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, env, static_cast<locale_t>(0))) {
      locale_t old = uselocale(loc);
      const char *point = std::localeconv()->decimal_point;
      if (point && *point)
        sep = *point;
      uselocale(old);
      freelocale(loc);
    }
    return sep;
  }();
  return separator;
}

} // namespace

char LocaleDecimalSeparator() {
  // A program that called setlocale(LC_NUMERIC, "") has its answer in localeconv; one that did
  // not (the tools, the tests) still follows the user's environment.
  const char *current = std::localeconv()->decimal_point;
  if (current && *current && *current != '.')
    return *current;
  return EnvironmentSeparator();
}

namespace {

using u128 = unsigned __int128;

constexpr auto kPowersOfTen = [] {
  std::array<u128, 23> powers{};
  powers[0] = 1;
  for (size_t i = 1; i < powers.size(); ++i)
    powers[i] = powers[i - 1] * 10;
  return powers;
}();

// |value| (finite, not zero) rounded to 15 significant digits with exact integer arithmetic:
// the double is m * 2^-s exactly, so m * 10^k / 2^s is the scaled value without any rounding
// error. Covers the magnitudes spreadsheets hold (up to 10^15, down to about 10^-8) and leaves
// the rest, and exact ties, to the general formatter. Several times cheaper than it.
bool RoundTo15Digits(double a, uint64_t &digits, int &exp10) {
  uint64_t bits;
  std::memcpy(&bits, &a, sizeof bits);
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);
  const uint64_t m = (bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
  const int s = 1075 - biased; // a = m * 2^-s; subnormals (biased 0) fall out below
  if (s <= 0 || s > 127)
    return false;
  // a lies in [2^(q-1), 2^q), so floor((q-1) * log10(2)) is its decimal exponent or one below.
  const int q = biased - 1022;
  int e = ((q - 1) * 78913) >> 18;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int k = 14 - e;
    if (k < 0 || k > 22)
      return false;
    const u128 scaled = static_cast<u128>(m) * kPowersOfTen[static_cast<size_t>(k)]; // below 2^127
    const u128 whole = scaled >> s;
    if (whole >= 1000000000000000ULL) {
      ++e;
      continue;
    }
    if (whole < 100000000000000ULL) {
      --e;
      continue;
    }
    const u128 rest = scaled - (whole << s);
    const u128 half = static_cast<u128>(1) << (s - 1);
    if (rest == half)
      return false;
    auto n = static_cast<uint64_t>(whole) + (rest > half ? 1 : 0);
    if (n == 1000000000000000ULL) {
      n = 100000000000000ULL;
      ++e;
    }
    digits = n;
    exp10 = e;
    return true;
  }
  return false;
}

constexpr auto kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

void WritePair(char *out, uint32_t pair) { std::memcpy(out, &kDigitPairs[2 * pair], 2); }

char *Copy(char *out, const char *text, size_t n) {
  std::memcpy(out, text, n);
  return out + n;
}

// The 15 decimal digits of n, 10^14 <= n < 10^15.
void Write15Digits(char *out, uint64_t n) {
  const auto high = static_cast<uint32_t>(n / 100000000); // 7 digits
  const auto low = static_cast<uint32_t>(n % 100000000);  // 8 digits
  out[0] = static_cast<char>('0' + high / 1000000);
  const uint32_t h = high % 1000000;
  WritePair(out + 1, h / 10000);
  WritePair(out + 3, h / 100 % 100);
  WritePair(out + 5, h % 100);
  const uint32_t l1 = low / 10000, l2 = low % 10000;
  WritePair(out + 7, l1 / 100);
  WritePair(out + 9, l1 % 100);
  WritePair(out + 11, l2 / 100);
  WritePair(out + 13, l2 % 100);
}

} // namespace

std::string FloatToText(double value) { return FloatToText(value, LocaleDecimalSeparator()); }

std::string FloatToText(double value, char sep) {
  char buf[kFloatTextMax];
  return std::string(buf, FloatToText(value, sep, buf));
}

char *FloatToText(double value, char sep, char *out) {
  if (std::isnan(value))
    return Copy(out, "NAN", 3);
  if (std::isinf(value))
    return value < 0 ? Copy(out, "-INF", 4) : Copy(out, "INF", 3);
  if (value == 0) {
    *out = '0';
    return out + 1;
  }
  // A whole number of at most 15 digits is its own decimal digits; the general path below gives
  // the same text at several times the cost.
  if (std::fabs(value) < 1e15) {
    // A conversion there and back, not std::trunc, which is a library call on plain x86-64.
    const auto whole = static_cast<long long>(value);
    if (static_cast<double>(whole) == value)
      return std::to_chars(out, out + kFloatTextMax, whole).ptr;
  }

  // Exactly 15 digits, padded with zeros so that whole 16-byte blocks can be copied from any
  // position; fixed-size copies compile to a few moves where variable ones call memcpy.
  char digits[32];
  std::memset(digits + 15, '0', sizeof digits - 15);
  int exp10 = 0; // value = d.ddd * 10^exp10
  uint64_t rounded;
  if (RoundTo15Digits(std::fabs(value), rounded, exp10)) {
    Write15Digits(digits, rounded);
  } else {
    // Scientific with 14 decimals gives the rounded 15 digits as "d.dddddddddddddde[+-]x"
    // whatever the locale.
    char buf[40];
    char *end =
        std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific, 14).ptr;
    *end = '\0';
    const char *mark = std::strchr(buf, 'e');
    digits[0] = buf[0];
    std::memcpy(digits + 1, buf + 2, 14);
    exp10 = std::atoi(mark + 1);
  }
  size_t count = 15;
  while (count > 1 && digits[count - 1] == '0')
    --count;

  const int e = exp10 + 1; // value = 0.ddd * 10^e
  if (value < 0)
    *out++ = '-';
  if (e >= -3 && e <= 15) {
    if (e >= 1) {
      const size_t integerDigits = static_cast<size_t>(e);
      std::memcpy(out, digits, 16);
      if (count <= integerDigits) // the digits past count are zeros
        return out + integerDigits;
      out[integerDigits] = sep;
      std::memcpy(out + integerDigits + 1, digits + integerDigits, 16);
      return out + count + 1;
    }
    *out++ = '0';
    *out++ = sep;
    std::memset(out, '0', 4);
    out += -e;
    std::memcpy(out, digits, 16);
    return out + count;
  }
  *out++ = digits[0];
  if (count > 1) {
    *out++ = sep;
    std::memcpy(out, digits + 1, 16);
    out += count - 1;
  }
  *out++ = 'E';
  return std::to_chars(out, out + 6, e - 1).ptr;
}

} // namespace common
