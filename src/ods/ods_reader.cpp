#include "ods/ods_reader.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "cells/cells.h"
#include "cells/sheets.h"
#include "common/exception.h"
#include "common/text.h"
#include "zipxml/values.h"
#include "zipxml/zip_part.h"

namespace ods {

namespace {

using zipxml::TXmlPart;

constexpr uint16_t kXF = 15;
constexpr long long kRows = 65536, kCols = 256;
const uint8_t kNoExpression = 0;

constexpr std::string_view kOfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kTableNs = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::string_view kTextNs = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr std::string_view kStyleNs = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";
constexpr std::string_view kCalcExtNs =
    "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0";

enum class TKind : uint8_t { Number, Boolean, String, Error };

struct TCellValue {
  long long Col = 0, Count = 1; // first column and how many columns repeat it
  TKind Kind = TKind::Number;
  bool Formula = false;
  double Number = 0;
  std::u16string Text;
};

// A repeat count; a count of zero or one that cannot be read is one.
long long Repeat(std::string_view Text) {
  long long n = 0;
  for (char c : Text) {
    if (c < '0' || c > '9')
      return 1;
    n = n * 10 + (c - '0');
    if (n > (1LL << 40))
      return 1LL << 40;
  }
  return n > 0 ? n : 1;
}

class TContentReader {
public:
  TContentReader(zipxml::TZipArchive &Zip, xls::TSheets &Sheets) : FX(Zip, "content.xml"), FSheets(Sheets) {}

  void Read() {
    while (FX.Next()) {
      if (!FX.IsElement())
        continue;
      const std::string_view name = FX.Name(), ns = FX.NamespaceUri();
      if (ns == kStyleNs && name == "style")
        Style();
      else if (ns == kTableNs && name == "null-date")
        FX.ForEachAttribute([&](std::string_view n, std::string_view, std::string_view v) {
          if (n == "date-value")
            FNullDate = v.substr(0, 10);
        });
      else if (ns == kTableNs && name == "table")
        Table();
    }
  }

private:
  // Automatic table styles: which of them hide their table.
  void Style() {
    std::string styleName;
    bool isTable = false;
    FX.ForEachAttribute([&](std::string_view n, std::string_view, std::string_view v) {
      if (n == "name")
        styleName = v;
      else if (n == "family")
        isTable = v == "table";
    });
    if (!isTable || FX.IsEmptyElement())
      return;
    const int depth = FX.Depth();
    while (FX.Next()) {
      if (FX.IsElement() && FX.Name() == "table-properties")
        FX.ForEachAttribute([&](std::string_view n, std::string_view, std::string_view v) {
          if (n == "display" && v == "false")
            FHiddenStyles.insert(styleName);
        });
      else if (FX.IsEnd() && FX.Depth() == depth)
        break;
    }
  }

  void Table() {
    std::string name, style;
    FX.ForEachAttribute([&](std::string_view n, std::string_view ns, std::string_view v) {
      if (ns == kTableNs && n == "name")
        name = v;
      else if (ns == kTableNs && n == "style-name")
        style = v;
    });
    xls::TSheet &sheet = FSheets.AddSheet(0);
    sheet.SetName(common::Utf8ToUtf16(name));
    sheet.Hidden = FHiddenStyles.count(style) ? 1 : 0;
    if (FX.IsEmptyElement())
      return;
    FSheet = &sheet;
    FRow = 0;
    const int depth = FX.Depth();
    while (FX.Next()) {
      if (FX.IsElement()) {
        const std::string_view n = FX.Name();
        if (FX.NamespaceUri() != kTableNs)
          FX.SkipElement();
        else if (n == "table-row")
          Row();
        else if (n != "table-row-group" && n != "table-header-rows" && n != "table-rows")
          FX.SkipElement(); // columns, shapes, named ranges and the like hold no cells
      } else if (FX.IsEnd() && FX.Depth() == depth)
        break;
    }
  }

  void Row() {
    long long repeat = 1;
    FX.ForEachAttribute([&](std::string_view n, std::string_view, std::string_view v) {
      if (n == "number-rows-repeated")
        repeat = Repeat(v);
    });
    FCells.clear();
    long long col = 0;
    if (!FX.IsEmptyElement()) {
      const int depth = FX.Depth();
      while (FX.Next()) {
        if (FX.IsElement()) {
          const std::string_view n = FX.Name();
          if (FX.NamespaceUri() == kTableNs && (n == "table-cell" || n == "covered-table-cell"))
            col = std::min(col + Cell(col), 1LL << 50);
          else
            FX.SkipElement();
        } else if (FX.IsEnd() && FX.Depth() == depth)
          break;
      }
    }
    // Empty rows, however many repeat, cost nothing: only rows with values are stored.
    if (!FCells.empty()) {
      if (FRow + repeat > kRows)
        throw common::Exception(
            common::Format("The table \"%s\" has values beyond the %lld rows a sheet can hold",
                           common::Utf16ToUtf8(FSheet->Name()).c_str(), kRows));
      for (long long r = FRow; r < FRow + repeat; ++r)
        StoreRow(static_cast<int>(r));
    }
    FRow += repeat;
  }

  void StoreRow(int Row) {
    uint8_t body[16] = {};
    const long long first = FCells.front().Col, last = FCells.back().Col + FCells.back().Count;
    body[0] = static_cast<uint8_t>(Row), body[1] = static_cast<uint8_t>(Row >> 8);
    body[2] = static_cast<uint8_t>(first), body[3] = static_cast<uint8_t>(first >> 8);
    body[4] = static_cast<uint8_t>(last), body[5] = static_cast<uint8_t>(last >> 8);
    body[6] = 255;
    FSheet->Rows.AddRow(body, sizeof body);
    for (const TCellValue &v : FCells)
      for (long long c = v.Col; c < v.Col + v.Count; ++c)
        Store(static_cast<int>(c), Row, v);
  }

  void Store(int Col, int Row, const TCellValue &v) {
    xls::TSheet &s = *FSheet;
    switch (v.Kind) {
    case TKind::Number:
      if (v.Formula) {
        uint64_t bits;
        std::memcpy(&bits, &v.Number, sizeof bits);
        s.StoreNumberFormula(Col, Row, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32), 0, 0,
                             &kNoExpression, kXF);
      } else
        s.StoreFloat(Col, Row, v.Number, kXF);
      break;
    case TKind::Boolean:
      if (v.Formula)
        s.StoreBooleanFormula(Col, Row, v.Number != 0, 0, 0, &kNoExpression, kXF);
      else
        s.StoreBoolean(Col, Row, v.Number != 0, kXF);
      break;
    case TKind::String:
      if (v.Formula)
        s.StoreStringFormula(Col, Row, v.Text, 0, 0, &kNoExpression, kXF);
      else
        s.StoreString(Col, Row, v.Text, kXF);
      break;
    case TKind::Error: {
      const uint8_t code = zipxml::ErrorCodeOfText(common::Utf16ToUtf8(v.Text));
      if (v.Formula)
        s.StoreErrorFormula(Col, Row, code, 0, 0, &kNoExpression, kXF);
      else
        s.StoreError(Col, Row, xls::ErrorIndexOf(code), kXF);
      break;
    }
    }
  }

  // One cell element; returns how many columns it stands for.
  long long Cell(long long Col) {
    long long repeat = 1;
    std::string type, calcType, value, dateValue, timeValue, boolValue, stringValue;
    bool hasString = false, formula = false;
    FX.ForEachAttribute([&](std::string_view n, std::string_view ns, std::string_view v) {
      if (ns == kTableNs) {
        if (n == "number-columns-repeated")
          repeat = Repeat(v);
        else if (n == "formula")
          formula = true;
      } else if (ns == kOfficeNs) {
        if (n == "value-type")
          type = v;
        else if (n == "value")
          value = v;
        else if (n == "date-value")
          dateValue = v;
        else if (n == "time-value")
          timeValue = v;
        else if (n == "boolean-value")
          boolValue = v;
        else if (n == "string-value")
          stringValue = v, hasString = true;
      } else if (ns == kCalcExtNs && n == "value-type")
        calcType = v;
    });
    const std::string text = CellText();
    TCellValue cell;
    cell.Formula = formula;
    if (calcType == "error") {
      cell.Kind = TKind::Error;
      cell.Text = common::Utf8ToUtf16(text);
    } else if (type == "float" || type == "percentage" || type == "currency") {
      const auto number = zipxml::ParseNumber(value);
      if (!number)
        FX.Fail("bad number \"" + value + "\"");
      cell.Number = *number;
    } else if (type == "date") {
      const auto serial = zipxml::DateSerial(dateValue, FNullDate);
      if (!serial)
        FX.Fail("bad date \"" + dateValue + "\"");
      cell.Number = *serial;
    } else if (type == "time") {
      const auto days = zipxml::DurationDays(timeValue);
      if (!days)
        FX.Fail("bad time \"" + timeValue + "\"");
      cell.Number = *days;
    } else if (type == "boolean") {
      cell.Kind = TKind::Boolean;
      cell.Number = boolValue == "true" || boolValue == "1";
    } else if (type == "string" || (type.empty() && !text.empty())) {
      cell.Kind = TKind::String;
      cell.Text = common::Utf8ToUtf16(hasString ? stringValue : text);
    } else
      return repeat; // an empty cell
    cell.Col = Col;
    cell.Count = repeat;
    if (cell.Col + cell.Count > kCols)
      throw common::Exception(
          common::Format("The table \"%s\" has values beyond the %lld columns a sheet can hold",
                         common::Utf16ToUtf8(FSheet->Name()).c_str(), kCols));
    FCells.push_back(std::move(cell));
    return repeat;
  }

  // The cell's paragraphs, one per line; spaces, tabs and line breaks by their elements.
  // Annotations (comments) are not the cell's text.
  std::string CellText() {
    std::string text;
    if (FX.IsEmptyElement())
      return text;
    const int depth = FX.Depth();
    int paragraphs = 0, inParagraph = 0; // depth of the open paragraph
    while (FX.Next()) {
      if (FX.IsElement()) {
        const std::string_view n = FX.Name(), ns = FX.NamespaceUri();
        if (ns == kOfficeNs && n == "annotation")
          FX.SkipElement();
        else if (ns == kTextNs && (n == "p" || n == "h")) {
          if (paragraphs++)
            text += '\n';
          if (!FX.IsEmptyElement())
            inParagraph = FX.Depth();
        } else if (ns == kTextNs && n == "s") {
          long long count = 1;
          FX.ForEachAttribute([&](std::string_view a, std::string_view, std::string_view v) {
            if (a == "c")
              count = Repeat(v);
          });
          text.append(static_cast<size_t>(std::min(count, 65536LL)), ' ');
        } else if (ns == kTextNs && n == "tab")
          text += '\t';
        else if (ns == kTextNs && n == "line-break")
          text += '\n';
      } else if (FX.IsText() && inParagraph)
        text += FX.Value();
      else if (FX.IsEnd()) {
        if (FX.Depth() == depth)
          break;
        if (FX.Depth() == inParagraph)
          inParagraph = 0;
      }
    }
    return text;
  }

  TXmlPart FX;
  xls::TSheets &FSheets;
  xls::TSheet *FSheet = nullptr;
  std::set<std::string, std::less<>> FHiddenStyles;
  std::string FNullDate = "1899-12-30";
  long long FRow = 0;
  std::vector<TCellValue> FCells;
};

} // namespace

void ReadOds(const std::string &Path, xls::TSheets &Sheets) {
  zipxml::TZipArchive zip(Path);
  TContentReader(zip, Sheets).Read();
}

} // namespace ods
