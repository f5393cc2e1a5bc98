#include "common/number_text.h"

#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
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
bool RoundTo15Digits(double a, std::string &digits, int &exp10) {
  int q = 0;
  const double fraction = std::frexp(a, &q); // a = fraction * 2^q, fraction in [0.5, 1)
  const auto m = static_cast<uint64_t>(std::ldexp(fraction, 53));
  const int s = 53 - q; // a = m * 2^-s
  if (s <= 0 || s > 127)
    return false;
  int e = static_cast<int>(std::floor(std::log10(a)));
  for (int attempt = 0; attempt < 2; ++attempt) { // log10 may be one off near powers of ten
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
    char buf[24];
    digits.assign(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
    exp10 = e;
    return true;
  }
  return false;
}

} // namespace

std::string FloatToText(double value) { return FloatToText(value, LocaleDecimalSeparator()); }

std::string FloatToText(double value, char sep) {
  if (std::isnan(value))
    return "NAN";
  if (std::isinf(value))
    return value < 0 ? "-INF" : "INF";
  if (value == 0)
    return "0";
  // A whole number of at most 15 digits is its own decimal digits; the general path below gives
  // the same text at several times the cost.
  if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(value)).ptr;
    return std::string(buf, end);
  }

  std::string digits;
  int exp10 = 0; // value = d.ddd * 10^exp10
  if (!RoundTo15Digits(std::fabs(value), digits, exp10)) {
    // Scientific with 14 decimals gives the rounded 15 digits as "d.dddddddddddddde[+-]x"
    // whatever the locale.
    char buf[40];
    char *end =
        std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific, 14).ptr;
    *end = '\0';
    const char *mark = std::strchr(buf, 'e');
    digits.assign(1, buf[0]);
    digits.append(buf + 2, static_cast<size_t>(mark - (buf + 2)));
    exp10 = std::atoi(mark + 1);
  }
  while (digits.size() > 1 && digits.back() == '0')
    digits.pop_back();

  const int e = exp10 + 1; // value = 0.ddd * 10^e
  const std::string_view d = digits;
  std::string out;
  out.reserve(d.size() + 24);
  if (value < 0)
    out += '-';
  if (e >= -3 && e <= 15) {
    if (e >= 1) {
      const size_t integerDigits = static_cast<size_t>(e);
      out.append(d.substr(0, integerDigits));
      if (d.size() < integerDigits)
        out.append(integerDigits - d.size(), '0');
      if (d.size() > integerDigits) {
        out += sep;
        out.append(d.substr(integerDigits));
      }
    } else {
      out += '0';
      out += sep;
      out.append(static_cast<size_t>(-e), '0');
      out.append(d);
    }
  } else {
    out += d[0];
    if (d.size() > 1) {
      out += sep;
      out.append(d.substr(1));
    }
    char exponent[8];
    out += 'E';
    out.append(exponent, std::to_chars(exponent, exponent + sizeof exponent, e - 1).ptr);
  }
  return out;
}

} // namespace common
