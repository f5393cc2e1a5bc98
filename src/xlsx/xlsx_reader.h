#pragma once

// The reader of Office Open XML workbooks (.xlsx, .xlsm): the sheet list with names and
// visibility, shared and inline strings, numbers, booleans, errors and the cached values of
// formulas, read into the same cell model the .xls reader fills.

#include <string>

namespace xls {
class TSheets;
}

namespace xlsx {

// Appends the workbook's sheets to Sheets (empty on entry). Raises common::Exception for a
// damaged archive, a missing part, malformed XML or a part that inflates past the archive's
// limit; what was added before stays for the caller to clear.
void ReadXlsx(const std::string &Path, xls::TSheets &Sheets);

} // namespace xlsx
