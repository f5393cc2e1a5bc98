#include "common/number_text.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace common {

char LocaleDecimalSeparator() {
  // A program that called setlocale(LC_NUMERIC, "") has its answer in localeconv; one that did
  // not (the tools, the tests) still follows the user's environment.
  const char *current = std::localeconv()->decimal_point;
  if (current && *current && *current != '.')
    return *current;
  const char *env = std::getenv("LC_ALL");
  if (!env || !*env)
    env = std::getenv("LC_NUMERIC");
  if (!env || !*env)
    env = std::getenv("LANG");
  if (!env || !*env)
    return current && *current ? *current : '.';
  char sep = '.';
  if (locale_t loc = newlocale(LC_NUMERIC_MASK, env, static_cast<locale_t>(0))) {
    locale_t old = uselocale(loc);
    const char *point = std::localeconv()->decimal_point;
    if (point && *point)
      sep = *point;
    uselocale(old);
    freelocale(loc);
  }
  return sep;
}

std::string FloatToText(double value) { return FloatToText(value, LocaleDecimalSeparator()); }

std::string FloatToText(double value, char sep) {
  if (std::isnan(value))
    return "NAN";
  if (std::isinf(value))
    return value < 0 ? "-INF" : "INF";
  if (value == 0)
    return "0";

  // %.14e gives exactly 15 significant digits, rounded; it is formatted in the "C" way, so the
  // digits and exponent are read from fixed positions whatever the locale.
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  std::string digits;
  digits += buf[0];
  digits.append(buf + 2, 14);
  const int exp10 = std::atoi(std::strchr(buf, 'e') + 1); // value = d.ddd * 10^exp10
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
