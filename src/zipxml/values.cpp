#include "zipxml/values.h"

#include <charconv>
#include <cmath>

namespace zipxml {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// Reads Digits decimal digits (Digits 0: at least one, any number) at the front of s.
bool TakeInt(std::string_view &s, int Digits, long long &Value) {
  size_t n = 0;
  Value = 0;
  while (n < s.size() && s[n] >= '0' && s[n] <= '9' && (Digits == 0 || n < size_t(Digits)) && n < 18)
    Value = Value * 10 + (s[n++] - '0');
  if (n == 0 || (Digits && n != size_t(Digits)))
    return false;
  s.remove_prefix(n);
  return true;
}

bool Take(std::string_view &s, char c) {
  if (s.empty() || s.front() != c)
    return false;
  s.remove_prefix(1);
  return true;
}

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, long long m, long long d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::optional<long long> DayNumber(std::string_view &s) {
  long long y, m, d;
  const bool negative = Take(s, '-');
  if (!TakeInt(s, 0, y) || !Take(s, '-') || !TakeInt(s, 2, m) || !Take(s, '-') || !TakeInt(s, 2, d))
    return std::nullopt;
  if (m < 1 || m > 12 || d < 1 || d > 31 || y > 999999)
    return std::nullopt;
  return DaysFromCivil(negative ? -y : y, m, d);
}

} // namespace

std::optional<double> ParseNumber(std::string_view Text) {
  Text = Trim(Text);
  if (!Text.empty() && Text.front() == '+')
    Text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
  if (ec != std::errc() || end != Text.data() + Text.size() || Text.empty())
    return std::nullopt;
  return value;
}

std::optional<double> DateSerial(std::string_view Text, std::string_view NullDate) {
  Text = Trim(Text);
  const auto day = DayNumber(Text);
  const auto null = DayNumber(NullDate);
  if (!day || !null)
    return std::nullopt;
  double serial = double(*day - *null);
  if (Take(Text, 'T')) {
    long long h, mi, sec = 0;
    if (!TakeInt(Text, 2, h) || !Take(Text, ':') || !TakeInt(Text, 2, mi))
      return std::nullopt;
    double seconds = 0;
    if (Take(Text, ':')) {
      if (!TakeInt(Text, 2, sec))
        return std::nullopt;
      seconds = double(sec);
      if (Take(Text, '.')) {
        double scale = 0.1;
        while (!Text.empty() && Text.front() >= '0' && Text.front() <= '9') {
          seconds += (Text.front() - '0') * scale;
          scale /= 10;
          Text.remove_prefix(1);
        }
      }
    }
    serial += (double(h) * 3600 + double(mi) * 60 + seconds) / 86400;
  }
  // A zone suffix ("Z", "+01:00") is left aside: a spreadsheet date has none to convert to.
  if (!Text.empty() && Text.front() != 'Z' && Text.front() != '+' && Text.front() != '-')
    return std::nullopt;
  return serial;
}

std::optional<double> DurationDays(std::string_view Text) {
  Text = Trim(Text);
  const bool negative = Take(Text, '-');
  if (!Take(Text, 'P'))
    return std::nullopt;
  double days = 0;
  bool inTime = false, any = false;
  while (!Text.empty()) {
    if (Take(Text, 'T')) {
      inTime = true;
      continue;
    }
    size_t n = 0;
    while (n < Text.size() && ((Text[n] >= '0' && Text[n] <= '9') || Text[n] == '.'))
      ++n;
    if (n == 0 || n == Text.size())
      return std::nullopt;
    const auto value = ParseNumber(Text.substr(0, n));
    if (!value)
      return std::nullopt;
    const char unit = Text[n];
    Text.remove_prefix(n + 1);
    any = true;
    if (!inTime && unit == 'D')
      days += *value;
    else if (!inTime && unit == 'W')
      days += *value * 7;
    else if (inTime && unit == 'H')
      days += *value / 24;
    else if (inTime && unit == 'M')
      days += *value / 1440;
    else if (inTime && unit == 'S')
      days += *value / 86400;
    else
      return std::nullopt; // years and months have no fixed length in days
  }
  if (!any)
    return std::nullopt;
  return negative ? -days : days;
}

uint8_t ErrorCodeOfText(std::string_view Text) {
  static const struct {
    std::string_view Text;
    uint8_t Code;
  } codes[] = {{"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
               {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A}};
  Text = Trim(Text);
  for (const auto &c : codes)
    if (c.Text == Text)
      return c.Code;
  return 0xFF;
}

} // namespace zipxml
