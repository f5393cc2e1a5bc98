#include "xlsx/xlsx_reader.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "cells/cells.h"
#include "cells/sheets.h"
#include "cells/sst.h"
#include "common/exception.h"
#include "common/text.h"
#include "zipxml/values.h"
#include "zipxml/zip_part.h"

namespace xlsx {

namespace {

using zipxml::TXmlPart;

constexpr uint16_t kXF = 15; // the default cell format: styles play no part in the values
constexpr int kLastRow = 65535, kLastCol = 255;
const uint8_t kNoExpression = 0; // formula cells get no expression bytes, only their result

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// The folder of a part, with its slash ("xl/" for "xl/workbook.xml").
std::string Folder(const std::string &Part) {
  const size_t slash = Part.rfind('/');
  return slash == std::string::npos ? std::string() : Part.substr(0, slash + 1);
}

// A relationship target as a part name: absolute targets start at the archive's root, others
// at the folder of the part that names them.
std::string ResolveTarget(const std::string &Base, std::string_view Target) {
  std::string path = !Target.empty() && Target.front() == '/' ? std::string(Target.substr(1))
                                                              : Folder(Base) + std::string(Target);
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    const std::string piece = path.substr(start, end - start);
    if (piece == "..") {
      if (!parts.empty())
        parts.pop_back();
    } else if (!piece.empty() && piece != ".")
      parts.push_back(piece);
    start = end + 1;
  }
  std::string result;
  for (const auto &p : parts)
    result += (result.empty() ? "" : "/") + p;
  return result;
}

struct TRelation {
  std::string Type, Target;
};

// Id -> relation of the part's relationships ("xl/_rels/workbook.xml.rels"); empty when the
// part has none.
std::map<std::string, TRelation> ReadRelations(zipxml::TZipArchive &Zip, const std::string &Part) {
  const size_t slash = Part.rfind('/');
  const std::string rels =
      Folder(Part) + "_rels/" + Part.substr(slash == std::string::npos ? 0 : slash + 1) + ".rels";
  std::map<std::string, TRelation> result;
  if (!Zip.Has(rels))
    return result;
  TXmlPart x(Zip.ReadPart(rels), rels);
  while (x.Next()) {
    if (!x.IsElement() || x.Name() != "Relationship")
      continue;
    std::string id, type, target, mode;
    x.ForEachAttribute([&](std::string_view name, std::string_view, std::string_view value) {
      if (name == "Id")
        id = value;
      else if (name == "Type")
        type = value;
      else if (name == "Target")
        target = value;
      else if (name == "TargetMode")
        mode = value;
    });
    if (mode != "External")
      result[id] = {type, ResolveTarget(Part, target)};
  }
  return result;
}

// The text of a rich text element (a shared string's si or a cell's is), standing on its start:
// the t elements joined, those of phonetic runs left out, appended to Text.
void AppendRichText(TXmlPart &x, std::string &Text) {
  if (x.IsEmptyElement())
    return;
  const int depth = x.Depth();
  int phonetic = 0; // depth of an rPh being skipped
  while (x.Next()) {
    if (x.IsElement()) {
      if (x.Name() == "rPh" && !phonetic && !x.IsEmptyElement())
        phonetic = x.Depth();
      else if (x.Name() == "t" && !phonetic)
        x.AppendElementText(Text);
    } else if (x.IsEnd()) {
      if (x.Depth() == depth)
        break;
      if (x.Depth() == phonetic)
        phonetic = 0;
    }
  }
}

// The entry of UTF-8 text in the sheets' string table, counting one new reference.
xls::SSTEntry *InternText(xls::TSST2 &SST, std::string_view Text) {
  const bool ascii = std::all_of(Text.begin(), Text.end(), [](char c) { return (c & 0x80) == 0; });
  if (ascii)
    return SST.AddText(reinterpret_cast<const uint8_t *>(Text.data()), Text.size());
  return SST.AddText(common::Utf8ToUtf16(Text));
}

// The shared strings as the part holds them, in UTF-8 back to back. A string enters the sheets'
// string table when a cell first refers to it (this table then keeps one reference, dropped at
// its end), so the strings no cell uses cost no entry.
class TSharedStrings {
public:
  explicit TSharedStrings(xls::TSST2 &SST) : FSST(SST) {}
  ~TSharedStrings() {
    for (xls::SSTEntry *entry : FEntries)
      if (entry)
        FSST.ReleaseEntry(entry);
  }
  TSharedStrings(const TSharedStrings &) = delete;
  TSharedStrings &operator=(const TSharedStrings &) = delete;

  // Before any cell refers to the table: a workbook naming two string parts keeps the last.
  void Read(zipxml::TZipArchive &Zip, const std::string &Part) {
    FText.clear();
    FEnds.clear();
    TXmlPart x(Zip, Part);
    while (x.Next())
      if (x.IsElement() && x.Name() == "si") {
        AppendRichText(x, FText);
        FEnds.push_back(FText.size());
      }
    FEntries.assign(FEnds.size(), nullptr);
  }
  size_t Count() const { return FEnds.size(); }
  // A new reference to string Index (below Count).
  xls::SSTEntry *Entry(size_t Index) {
    xls::SSTEntry *&entry = FEntries[Index];
    if (!entry) {
      const size_t begin = Index ? FEnds[Index - 1] : 0;
      entry = InternText(FSST, std::string_view(FText).substr(begin, FEnds[Index] - begin));
    }
    ++entry->RefCount;
    return entry;
  }

private:
  xls::TSST2 &FSST;
  std::string FText;
  std::vector<size_t> FEnds;
  std::vector<xls::SSTEntry *> FEntries;
};

// "BC12" as zero-based column and row; false when Ref is not a cell reference.
bool ParseRef(std::string_view Ref, long long &Col, long long &Row) {
  size_t i = 0;
  long long col = 0, row = 0;
  while (i < Ref.size() && Ref[i] >= 'A' && Ref[i] <= 'Z' && col < (1 << 20))
    col = col * 26 + (Ref[i++] - 'A' + 1);
  const size_t letters = i;
  while (i < Ref.size() && Ref[i] >= '0' && Ref[i] <= '9' && row < (1LL << 40))
    row = row * 10 + (Ref[i++] - '0');
  if (letters == 0 || i == letters || i != Ref.size() || row == 0)
    return false;
  Col = col - 1;
  Row = row - 1;
  return true;
}

bool ParseIndex(std::string_view Text, long long &Value) {
  Value = 0;
  if (Text.empty() || Text.size() > 12)
    return false;
  for (char c : Text) {
    if (c < '0' || c > '9')
      return false;
    Value = Value * 10 + (c - '0');
  }
  return true;
}

// The value kinds of a cell's t attribute.
enum class TType { Number, Shared, Inline, Str, Boolean, Error, Date };

TType TypeOf(std::string_view t) {
  if (t == "s")
    return TType::Shared;
  if (t == "inlineStr")
    return TType::Inline;
  if (t == "str")
    return TType::Str;
  if (t == "b")
    return TType::Boolean;
  if (t == "e")
    return TType::Error;
  if (t == "d")
    return TType::Date;
  return TType::Number; // "n", none, or one this reader does not know
}

class TSheetReader {
public:
  TSheetReader(xls::TSheet &Sheet, TSharedStrings &Strings, const std::string &Part)
      : FSheet(Sheet), FStrings(Strings), FPart(Part) {}

  void Read(zipxml::TZipArchive &Zip) {
    TXmlPart x(Zip, FPart);
    while (x.Next()) {
      if (x.IsElement()) {
        const std::string_view name = x.Name();
        if (name == "c")
          Cell(x);
        else if (name == "row")
          StartRow(x);
      } else if (x.IsEnd() && x.Name() == "row")
        EndRow();
    }
  }

private:
  void StartRow(TXmlPart &x) {
    long long r = -1;
    x.ForEachAttribute([&](std::string_view name, std::string_view, std::string_view value) {
      if (name == "r" && (!ParseIndex(value, r) || r == 0))
        x.Fail("bad row number \"" + std::string(value) + "\"");
    });
    FRow = r > 0 ? r - 1 : FRow + 1;
    FCol = -1;
    FFirstCol = FLastCol = -1;
    if (x.IsEmptyElement())
      EndRow();
  }

  // A row entry like a ROW record's, for the rows that hold cells.
  void EndRow() {
    if (FFirstCol < 0 || FRow > kLastRow)
      return;
    uint8_t body[16] = {};
    auto put16 = [&](int at, long long v) {
      body[at] = static_cast<uint8_t>(v);
      body[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    put16(0, FRow);
    put16(2, FFirstCol);
    put16(4, FLastCol + 1);
    put16(6, 255);
    FSheet.Rows.AddRow(body, sizeof body);
  }

  void Cell(TXmlPart &x) {
    // The value and inline text keep their room from cell to cell.
    std::string &value = FValue, &inlineText = FInline;
    value.clear();
    inlineText.clear();
    TType type = TType::Number;
    bool hasValue = false, hasFormula = false, hasInline = false;
    long long col = FCol + 1, row = FRow;
    x.ForEachAttribute([&](std::string_view name, std::string_view, std::string_view v) {
      if (name == "r") {
        if (!ParseRef(v, col, row))
          x.Fail("bad cell reference \"" + std::string(v) + "\"");
      } else if (name == "t")
        type = TypeOf(v);
    });
    if (row < 0)
      row = 0; // a cell outside any row element: the first row, as the writer most likely meant
    FCol = col;
    if (!x.IsEmptyElement()) {
      const int depth = x.Depth();
      while (x.Next()) {
        if (x.IsElement()) {
          const std::string_view name = x.Name();
          if (name == "v") {
            value.clear();
            x.AppendElementText(value);
            hasValue = true;
          } else if (name == "f") {
            hasFormula = true;
            x.SkipElement();
          } else if (name == "is") {
            inlineText.clear();
            AppendRichText(x, inlineText);
            hasInline = true;
          } else
            x.SkipElement();
        } else if (x.IsEnd() && x.Depth() == depth)
          break;
      }
    }
    if (value.empty() && type != TType::Str)
      hasValue = false; // an empty <v/>: a writer that keeps no result
    const bool isBlank = !hasValue && !hasFormula && !hasInline;
    if (row > kLastRow || col > kLastCol) {
      if (isBlank)
        return; // a formatted empty cell past the sheet's reach loses nothing
      throw common::Exception(
          common::Format("The cell at row %lld, column %lld of %s lies beyond the %d rows and %d "
                         "columns a sheet can hold",
                         row + 1, col + 1, FPart.c_str(), kLastRow + 1, kLastCol + 1));
    }
    const int c = static_cast<int>(col), r = static_cast<int>(row);
    if (FFirstCol < 0 || col < FFirstCol)
      FFirstCol = col;
    if (col > FLastCol)
      FLastCol = col;
    if (isBlank) {
      FSheet.StoreBlank(c, r, kXF);
      return;
    }
    switch (type) {
    case TType::Shared: {
      long long index = -1;
      if (!ParseIndex(value, index) || index >= static_cast<long long>(FStrings.Count()))
        x.Fail("shared string index \"" + value + "\" is not in the table");
      const auto place = FSheet.PlaceString(c, r, kXF);
      FSheet.PutString(place, FStrings.Entry(static_cast<size_t>(index)));
      break;
    }
    case TType::Str:
      if (hasFormula) {
        FSheet.StoreStringFormula(c, r, common::Utf8ToUtf16(value), 0, 0, &kNoExpression, kXF);
        break;
      }
      [[fallthrough]];
    case TType::Inline: {
      const auto place = FSheet.PlaceString(c, r, kXF);
      FSheet.PutString(place, InternText(FSheet.Owner().SST(), hasInline ? inlineText : value));
      break;
    }
    case TType::Boolean: {
      const uint8_t b = value == "1" || value == "true";
      if (!b && value != "0" && value != "false" && hasValue)
        x.Fail("bad boolean \"" + value + "\"");
      if (hasFormula)
        FSheet.StoreBooleanFormula(c, r, b, 0, 0, &kNoExpression, kXF);
      else
        FSheet.StoreBoolean(c, r, b, kXF);
      break;
    }
    case TType::Error: {
      const uint8_t code = zipxml::ErrorCodeOfText(value);
      if (hasFormula)
        FSheet.StoreErrorFormula(c, r, code, 0, 0, &kNoExpression, kXF);
      else
        FSheet.StoreError(c, r, xls::ErrorIndexOf(code), kXF);
      break;
    }
    case TType::Number:
    case TType::Date: {
      double number = 0;
      if (hasValue) {
        const auto parsed = type == TType::Date ? zipxml::DateSerial(value) : zipxml::ParseNumber(value);
        if (!parsed)
          x.Fail("bad number \"" + value + "\"");
        number = *parsed;
      }
      if (hasFormula) {
        uint64_t bits;
        std::memcpy(&bits, &number, sizeof bits);
        FSheet.StoreNumberFormula(c, r, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32), 0, 0,
                                  &kNoExpression, kXF);
      } else
        FSheet.StoreFloat(c, r, number, kXF);
      break;
    }
    }
  }

  xls::TSheet &FSheet;
  TSharedStrings &FStrings;
  const std::string &FPart;
  long long FRow = -1, FCol = -1;
  long long FFirstCol = -1, FLastCol = -1;
  std::string FValue, FInline;
};

} // namespace

void ReadXlsx(const std::string &Path, xls::TSheets &Sheets) {
  zipxml::TZipArchive zip(Path);
  std::string workbookPart;
  for (const auto &[id, rel] : ReadRelations(zip, "_rels/.rels"))
    if (EndsWith(rel.Type, "/officeDocument"))
      workbookPart = rel.Target;
  if (workbookPart.empty())
    workbookPart = "xl/workbook.xml";
  const auto relations = ReadRelations(zip, workbookPart);

  TSharedStrings strings(Sheets.SST());
  for (const auto &[id, rel] : relations)
    if (EndsWith(rel.Type, "/sharedStrings") && zip.Has(rel.Target))
      strings.Read(zip, rel.Target);

  struct TSheetEntry {
    std::string Name, Part;
    uint8_t Hidden = 0, Kind = 0;
  };
  std::vector<TSheetEntry> entries;
  {
    TXmlPart x(zip.ReadPart(workbookPart), workbookPart);
    while (x.Next()) {
      if (!x.IsElement() || x.Name() != "sheet")
        continue;
      TSheetEntry entry;
      std::string id;
      x.ForEachAttribute([&](std::string_view name, std::string_view ns, std::string_view value) {
        if (name == "name")
          entry.Name = value;
        else if (name == "state")
          entry.Hidden = value == "hidden" ? 1 : value == "veryHidden" ? 2 : 0;
        else if (name == "id" && !ns.empty())
          id = value;
      });
      const auto rel = relations.find(id);
      if (rel == relations.end())
        throw common::Exception("The workbook names no part for the sheet \"" + entry.Name + "\"");
      entry.Part = rel->second.Target;
      // Chart sheets and the like hold no cells; the .xls reader keeps them as kind 2 too.
      entry.Kind = EndsWith(rel->second.Type, "/worksheet") ? 0 : 2;
      entries.push_back(std::move(entry));
    }
  }
  for (const TSheetEntry &entry : entries) {
    xls::TSheet &sheet = Sheets.AddSheet(entry.Kind);
    sheet.SetName(common::Utf8ToUtf16(entry.Name));
    sheet.Hidden = entry.Hidden;
    if (entry.Kind == 0)
      TSheetReader(sheet, strings, entry.Part).Read(zip);
  }
}

} // namespace xlsx
