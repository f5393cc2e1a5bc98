#pragma once

#include <ostream>
#include <string_view>

namespace xls {
class TXLSWorkbook;
}

namespace xlsdump {

// Writes text as a JSON string literal (UTF-8 in, UTF-8 out).
void WriteJsonString(std::ostream &out, std::string_view text);

// The workbook as JSON: version, then every sheet with its cells in key order as
// [row, col, kind, AsText, AsVariant as text]. Parallel lets large sheets be written on two
// threads; the text is the same either way.
void DumpWorkbook(std::ostream &out, xls::TXLSWorkbook &workbook, bool parallel = true);

} // namespace xlsdump
