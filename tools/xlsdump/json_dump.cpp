#include "json_dump.h"

#include <charconv>
#include <cstdio>

#include "common/number_text.h"
#include "common/text.h"
#include "xls/workbook.h"

namespace xlsdump {

namespace {

const char *VersionName(xls::TExcelVersion v) {
  static const char *const names[] = {"xvNone",    "xvExcelUnknown", "xvExcel21", "xvExcel30",
                                      "xvExcel40", "xvExcel50",      "xvExcel97"};
  return v >= 0 && v <= xls::xvExcel97 ? names[v] : "xvNone";
}

// The value of a cell whose text and variant are both the number text of one double.
bool NumberOf(const xls::TCell *cell, double &v) {
  switch (cell->CellKind()) {
  case xls::ckFloat: v = static_cast<const xls::TFloatCell *>(cell)->Value(); return true;
  case xls::ckNumberFormula: v = static_cast<const xls::TNumberFormulaCell *>(cell)->FormulaValue(); return true;
  case xls::ckArrayFormula: v = static_cast<const xls::TArrayFormulaCell *>(cell)->FormulaValue(); return true;
  default: return false;
  }
}

// v and the separator that follows it.
void AppendInt(std::string &out, unsigned v) {
  char digits[16];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr).append(", ");
}

} // namespace

void AppendJsonString(std::string &out, std::string_view text) {
  out += '"';
  size_t plain = 0; // start of the run of characters that need no escape
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\')
      continue;
    out.append(text.substr(plain, i - plain));
    plain = i + 1;
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default: {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    }
    }
  }
  out.append(text.substr(plain));
  out += '"';
}

void DumpWorkbook(std::ostream &out, xls::TXLSWorkbook &workbook) {
  std::string json = "{\"version\": \"";
  json += VersionName(workbook.Version());
  json += "\", \"sheets\": [";
  xls::TSheets &sheets = workbook.Sheets();
  // Numbers show as the text of their value in both columns unless the workbook asks for other
  // separators or for formula texts; then they are formatted once.
  const xls::TCellTextSettings &settings = sheets.Settings;
  const char separator = common::LocaleDecimalSeparator();
  const bool plainNumbers = !(settings.ShowFormulas && settings.FormulaText) &&
                            (settings.DecimalSeparator == 0 || settings.DecimalSeparator == separator);
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
    std::string utf8; // room for a string cell's text
    while (const xls::TCell *cell = cells.NextCell()) {
      if (json.size() >= 1 << 16) { // written in pieces, so a large sheet is not held twice
        out << json;
        json.clear();
      }
      json += first ? "\n[" : ",\n[";
      first = false;
      AppendInt(json, cell->Key() >> 8);
      AppendInt(json, cell->Key() & 0xFF);
      AppendInt(json, cell->CellKind());
      double number;
      if (plainNumbers && NumberOf(cell, number)) {
        const std::string text = common::FloatToText(number, separator);
        json.append(1, '"').append(text).append("\", \"").append(text).append("\"]");
        continue;
      }
      const size_t text = json.size();
      if (cell->CellKind() == xls::ckString) { // its variant is its text
        AppendJsonString(json, xls::TSST2::Utf8Text(static_cast<const xls::TStringCell *>(cell)->Entry(), utf8));
        json += ", ";
        json.append(json, text, json.size() - 2 - text);
      } else {
        AppendJsonString(json, common::Utf16ToUtf8(sheet.CellText(cell)));
        json += ", ";
        AppendJsonString(json, xls::TSheet::CellVariant(cell).ToText());
      }
      json += ']';
    }
    json += "]}";
  }
  json += "]}\n";
  out << json;
}

} // namespace xlsdump
