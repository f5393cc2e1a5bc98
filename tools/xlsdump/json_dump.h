#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace xls {
class TXLSWorkbook;
}

namespace xlsdump {

// Appends text (UTF-8) as a JSON string literal.
void AppendJsonString(std::string &out, std::string_view text);

// The workbook as JSON: version, then every sheet with its cells in key order as
// [row, col, kind, AsText, AsVariant as text].
void DumpWorkbook(std::ostream &out, xls::TXLSWorkbook &workbook);

} // namespace xlsdump
