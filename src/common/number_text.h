#pragma once

#include <cstddef>
#include <string>

namespace common {

// The general number format: 15 significant digits, fixed notation for decimal exponents from
// -3 to 15 (0.0001 up to 15 integer digits), "E" notation otherwise ("1E-5", "1E20"), "NAN",
// "INF" / "-INF". The separator is the user's locale decimal separator unless one is given.
std::string FloatToText(double value);
std::string FloatToText(double value, char decimalSeparator);

// The room FloatToText needs at out: the longest text is 22 bytes ("-0.000ddddddddddddddd",
// "-d.ddddddddddddddE-308"), but it copies digits in whole blocks that may pass the text's end.
constexpr size_t kFloatTextMax = 32;
// The same text written at out (kFloatTextMax bytes of room, no terminator); returns its end.
// For writers that format many numbers and want no string per number.
char *FloatToText(double value, char decimalSeparator, char *out);

// The decimal separator of the user's locale (LC_NUMERIC as set by the program, else LANG/LC_ALL).
char LocaleDecimalSeparator();

} // namespace common
