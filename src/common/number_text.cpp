#include "common/number_text.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

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

  // The shortest text that reads back as the same double is, when it has at most 15 digits, also
  // the value rounded to 15 digits (a double is far closer to it than half a 15th digit), and it
  // costs a fraction of formatting with a fixed precision. Scientific with 14 decimals gives the
  // rounded 15 digits for the rest. Both read "d[.ddd]e[+-]x" whatever the locale.
  char buf[40];
  char *end = std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific).ptr;
  *end = '\0';
  const char *mark = std::strchr(buf, 'e');
  if (mark - buf > 16) { // more than 15 digits besides the point
    end = std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific, 14).ptr;
    *end = '\0';
    mark = std::strchr(buf, 'e');
  }
  std::string digits(1, buf[0]);
  if (buf[1] == '.')
    digits.append(buf + 2, static_cast<size_t>(mark - (buf + 2)));
  const int exp10 = std::atoi(mark + 1); // value = d.ddd * 10^exp10
  while (digits.size() > 1 && digits.back() == '0')
    digits.pop_back();

  const int e = exp10 + 1; // value = 0.ddd * 10^e
  std::string out = value < 0 ? "-" : "";
  if (e >= -3 && e <= 15) {
    if (e >= 1) {
      std::string integer = digits.substr(0, std::min<size_t>(e, digits.size()));
      integer.append(static_cast<size_t>(e) - integer.size(), '0');
      out += integer;
      if (digits.size() > static_cast<size_t>(e)) {
        out += sep;
        out += digits.substr(static_cast<size_t>(e));
      }
    } else {
      out += '0';
      out += sep;
      out.append(static_cast<size_t>(-e), '0');
      out += digits;
    }
  } else {
    out += digits[0];
    if (digits.size() > 1) {
      out += sep;
      out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(e - 1);
  }
  return out;
}

} // namespace common
