#pragma once

// Cell values as the XML workbook formats write them, turned into what the cell model keeps.

#include <cstdint>
#include <optional>
#include <string_view>

namespace zipxml {

// A number in the XML form (no locale, "." as separator, optional exponent); none when Text is
// not one.
std::optional<double> ParseNumber(std::string_view Text);
// An ISO 8601 date or date-time ("2024-01-31", "2024-01-31T12:30:00.5") as a day serial counted
// from NullDate (days since 1899-12-30 by default, which gives the serials of the .xls format).
std::optional<double> DateSerial(std::string_view Text, std::string_view NullDate = "1899-12-30");
// An ISO 8601 duration ("PT12H30M00S", "-P1DT2H") in days.
std::optional<double> DurationDays(std::string_view Text);
// The BIFF error code of an error text ("#DIV/0!" gives 0x07); 0xFF for a text that is none.
uint8_t ErrorCodeOfText(std::string_view Text);

} // namespace zipxml
