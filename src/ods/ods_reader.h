#pragma once

// The reader of OpenDocument spreadsheets (.ods): the tables of content.xml with their names
// and visibility, and every cell's value by its value type (float, percentage, currency, date,
// time, boolean, string) or its text, read into the cell model the .xls reader fills.

#include <string>

namespace xls {
class TSheets;
}

namespace ods {

// Appends the spreadsheet's tables to Sheets (empty on entry). Raises common::Exception for a
// damaged archive, a missing content.xml, malformed XML or a part inflating past the archive's
// limit; what was added before stays for the caller to clear.
void ReadOds(const std::string &Path, xls::TSheets &Sheets);

} // namespace ods
