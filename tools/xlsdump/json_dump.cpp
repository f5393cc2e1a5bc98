#include "json_dump.h"

#include <cstdio>

#include "common/text.h"
#include "xls/workbook.h"

namespace xlsdump {

namespace {

const char *VersionName(xls::TExcelVersion v) {
  static const char *const names[] = {"xvNone",    "xvExcelUnknown", "xvExcel21", "xvExcel30",
                                      "xvExcel40", "xvExcel50",      "xvExcel97"};
  return v >= 0 && v <= xls::xvExcel97 ? names[v] : "xvNone";
}

} // namespace

void WriteJsonString(std::ostream &out, std::string_view text) {
  out.put('"');
  for (unsigned char c : text) {
    switch (c) {
    case '"': out << "\\\""; break;
    case '\\': out << "\\\\"; break;
    case '\n': out << "\\n"; break;
    case '\r': out << "\\r"; break;
    case '\t': out << "\\t"; break;
    default:
      if (c < 0x20) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out << buf;
      } else {
        out.put(static_cast<char>(c));
      }
    }
  }
  out.put('"');
}

void DumpWorkbook(std::ostream &out, xls::TXLSWorkbook &workbook) {
  out << "{\"version\": \"" << VersionName(workbook.Version()) << "\", \"sheets\": [";
  xls::TSheets &sheets = workbook.Sheets();
  for (int i = 0; i < sheets.Count(); ++i) {
    xls::TSheet &sheet = sheets.Items(i);
    out << (i ? ",\n" : "\n") << "{\"name\": ";
    WriteJsonString(out, common::Utf16ToUtf8(sheet.Name()));
    out << ", \"hidden\": " << int(sheet.Hidden) << ", \"kind\": " << int(sheet.Kind())
        << ", \"rows\": " << sheet.Rows.Count() << ", \"cells\": [";
    xls::TCellStorage &cells = sheet.Cells();
    cells.ResetIteration();
    bool first = true;
    while (const xls::TCell *cell = cells.NextCell()) {
      out << (first ? "\n" : ",\n") << "[" << (cell->Key() >> 8) << ", " << (cell->Key() & 0xFF) << ", "
          << int(cell->CellKind()) << ", ";
      WriteJsonString(out, common::Utf16ToUtf8(sheet.CellText(cell)));
      out << ", ";
      WriteJsonString(out, xls::TSheet::CellVariant(cell).ToText());
      out << "]";
      first = false;
    }
    out << "]}";
  }
  out << "]}\n";
}

} // namespace xlsdump
