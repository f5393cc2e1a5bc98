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

void AppendJsonString(std::string &out, std::string_view text) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (c < 0x20) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      } else {
        out += static_cast<char>(c);
      }
    }
  }
  out += '"';
}

void DumpWorkbook(std::ostream &out, xls::TXLSWorkbook &workbook) {
  std::string json = "{\"version\": \"";
  json += VersionName(workbook.Version());
  json += "\", \"sheets\": [";
  xls::TSheets &sheets = workbook.Sheets();
  for (int i = 0; i < sheets.Count(); ++i) {
    xls::TSheet &sheet = sheets.Items(i);
    json += i ? ",\n" : "\n";
    json += "{\"name\": ";
    AppendJsonString(json, common::Utf16ToUtf8(sheet.Name()));
    json += ", \"hidden\": " + std::to_string(sheet.Hidden);
    json += ", \"kind\": " + std::to_string(sheet.Kind());
    json += ", \"rows\": " + std::to_string(sheet.Rows.Count());
    json += ", \"cells\": [";
    xls::TCellStorage &cells = sheet.Cells();
    cells.ResetIteration();
    bool first = true;
    while (const xls::TCell *cell = cells.NextCell()) {
      json += first ? "\n[" : ",\n[";
      first = false;
      json += std::to_string(cell->Key() >> 8) + ", " + std::to_string(cell->Key() & 0xFF) + ", " +
              std::to_string(cell->CellKind()) + ", ";
      AppendJsonString(json, common::Utf16ToUtf8(sheet.CellText(cell)));
      json += ", ";
      AppendJsonString(json, xls::TSheet::CellVariant(cell).ToText());
      json += ']';
      if (json.size() >= 1 << 16) { // written in pieces, so a large sheet is not held twice
        out << json;
        json.clear();
      }
    }
    json += "]}";
  }
  json += "]}\n";
  out << json;
}

} // namespace xlsdump
