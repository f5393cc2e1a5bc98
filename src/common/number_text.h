#pragma once

#include <string>

namespace common {

// The general number format: 15 significant digits, fixed notation for decimal exponents from
// -3 to 15 (0.0001 up to 15 integer digits), "E" notation otherwise ("1E-5", "1E20"), "NAN",
// "INF" / "-INF". The separator is the user's locale decimal separator unless one is given.
std::string FloatToText(double value);
std::string FloatToText(double value, char decimalSeparator);

// The decimal separator of the user's locale (LC_NUMERIC as set by the program, else LANG/LC_ALL).
char LocaleDecimalSeparator();

} // namespace common
