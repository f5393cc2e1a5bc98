#include "json_dump.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

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

} // namespace

namespace {

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

void AppendInt(std::string &out, long long v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The number of a cell whose text and variant text are both the number text of one double.
bool NumberOf(const xls::TCell *cell, double &v) {
  switch (cell->CellKind()) {
  case xls::ckFloat: v = static_cast<const xls::TFloatCell *>(cell)->Value(); return true;
  case xls::ckNumberFormula:
    v = static_cast<const xls::TNumberFormulaCell *>(cell)->FormulaValue();
    return true;
  case xls::ckArrayFormula:
    v = static_cast<const xls::TArrayFormulaCell *>(cell)->FormulaValue();
    return true;
  default: return false;
  }
}

} // namespace

void WriteJsonString(std::ostream &out, std::string_view text) {
  std::string s;
  AppendJsonString(s, text);
  out << s;
}

void DumpWorkbook(std::ostream &out, xls::TXLSWorkbook &workbook) {
  std::string buf = "{\"version\": \"";
  buf += VersionName(workbook.Version());
  buf += "\", \"sheets\": [";
  xls::TSheets &sheets = workbook.Sheets();
  const xls::TCellTextSettings &settings = sheets.Settings;
  const char localeSep = common::LocaleDecimalSeparator();
  const char textSep = settings.DecimalSeparator ? settings.DecimalSeparator : localeSep;
  for (int i = 0; i < sheets.Count(); ++i) {
    xls::TSheet &sheet = sheets.Items(i);
    buf += i ? ",\n" : "\n";
    buf += "{\"name\": ";
    AppendJsonString(buf, common::Utf16ToUtf8(sheet.Name()));
    buf += ", \"hidden\": ";
    AppendInt(buf, sheet.Hidden);
    buf += ", \"kind\": ";
    AppendInt(buf, sheet.Kind());
    buf += ", \"rows\": ";
    AppendInt(buf, sheet.Rows.Count());
    buf += ", \"cells\": [";
    xls::TCellStorage &cells = sheet.Cells();
    cells.ResetIteration();
    bool first = true;
    while (const xls::TCell *cell = cells.NextCell()) {
      buf += first ? "\n[" : ",\n[";
      first = false;
      AppendInt(buf, cell->Key() >> 8);
      buf += ", ";
      AppendInt(buf, cell->Key() & 0xFF);
      buf += ", ";
      AppendInt(buf, cell->CellKind());
      buf += ", ";
      const bool formulaText = cell->IsFormula() && settings.ShowFormulas && settings.FormulaText;
      double v;
      // The common kinds are formatted once for both columns; the rest go through the accessors.
      if (!formulaText && NumberOf(cell, v)) {
        std::string text;
        if (v == std::trunc(v) && std::fabs(v) < 1e15) {
          // Whole numbers of up to 15 digits are their digits under the number text rule.
          char digits[24];
          text.assign(digits, std::to_chars(digits, digits + sizeof digits, static_cast<long long>(v)).ptr);
        } else {
          text = common::FloatToText(v, textSep);
        }
        buf += '"';
        buf += text;
        buf += "\", \"";
        buf += textSep == localeSep ? text : common::FloatToText(v, localeSep);
        buf += '"';
      } else if (!formulaText &&
                 (cell->CellKind() == xls::ckString || cell->CellKind() == xls::ckStringFormula)) {
        const std::string text = common::Utf16ToUtf8(sheet.CellText(cell));
        AppendJsonString(buf, text);
        buf += ", ";
        AppendJsonString(buf, text);
      } else {
        AppendJsonString(buf, common::Utf16ToUtf8(sheet.CellText(cell)));
        buf += ", ";
        AppendJsonString(buf, xls::TSheet::CellVariant(cell).ToText());
      }
      buf += ']';
      if (buf.size() > (1 << 16)) {
        out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        buf.clear();
      }
    }
    buf += "]}";
  }
  buf += "]}\n";
  out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
}

} // namespace xlsdump
