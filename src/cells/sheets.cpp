#include "cells/sheets.h"

#include <algorithm>
#include <bit>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

#include "cells/formats.h"
#include "common/bytes.h"
#include "common/exception.h"
#include "common/number_text.h"
#include "common/text.h"

namespace xls {

using common::Get16;

namespace {

// The text of an ErrorIndex; one outside the table reads as "no error value" rather than another
// error's text.
const char *ErrorText(uint8_t index) {
  static const char *const Texts[8] = {
      "[int] No error value", "#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};
  return Texts[index < 8 ? index : 0];
}

double DoubleFromHalves(uint32_t lo, uint32_t hi) { return std::bit_cast<double>(uint64_t(hi) << 32 | lo); }

// Rows come from 16-bit fields on the read path; anything else cannot be stored.
uint32_t CheckedKey(int Col, int Row) {
  uint32_t key = CellKey(Col, Row);
  if (key >= CellKeyLimit)
    common::ListIndexError(Row);
  return key;
}

// The text of a string cell or of a string formula's last result.
std::u16string StringValue(const TCell &Cell) {
  if (const auto *cell = CellAs<TStringCell>(&Cell))
    return TSST2::EntryText(cell->Entry());
  return static_cast<const TStringFormulaCell &>(Cell).FormulaValue();
}

// Upper-cases wide text the way sheet names are compared.
std::u16string UpperCaseWide(std::u16string_view Text) {
  // Case mapping beyond ASCII needs a UTF-8 ctype; the plain C locale maps ASCII only.
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  static const locale_t loc = utf8 ? utf8 : newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  std::u16string result(Text);
  for (char16_t &c : result) {
    if (c >= 0xD800 && c <= 0xDFFF)
      continue; // surrogate halves are left as they are
    wint_t upper = loc ? towupper_l(c, loc) : std::towupper(c);
    if (upper <= 0xFFFF)
      c = static_cast<char16_t>(upper);
  }
  return result;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Rows

TXLSRow &TXLSRows::AddRow(const uint8_t *Body, int Length) {
  if (!Body || Length < 16)
    throw common::Exception("Bad record in file");
  TXLSRow &row = FItems.emplace_back();
  row.Row = Get16(Body);
  row.FirstCol = Get16(Body + 2);
  row.LastCol = Get16(Body + 4);
  row.Height = Get16(Body + 6);
  row.Options = Get16(Body + 12);
  row.XF = (row.Options & 0x80) ? static_cast<uint16_t>(Get16(Body + 14) & 0x0FFF) : 15;
  return row;
}

TXLSRow &TXLSRows::Items(int Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= FItems.size())
    common::ListIndexError(Index);
  return const_cast<TXLSRow &>(FItems[static_cast<size_t>(Index)]);
}

void TXLSRows::SortRows() {
  std::sort(FItems.begin(), FItems.end(), [](const TXLSRow &a, const TXLSRow &b) { return a.Row < b.Row; });
}

// ---------------------------------------------------------------------------------------------
// Sheet

TSheet::TSheet(TSheets &Owner, int CreationNumber, uint8_t Kind, int Index)
    : FOwner(Owner), FName(u"Sheet" + common::Utf8ToUtf16(std::to_string(CreationNumber + 1))), FKind(Kind),
      FIndex(Index) {}

void TSheet::SetName(const std::u16string &Name) {
  std::u16string upper = UpperCaseWide(Name);
  std::u16string old = UpperCaseWide(FName);
  if (upper == old)
    return;
  // Every name in use is counted by the collection, so a workbook of many sheets is not
  // compared name by name.
  auto &names = FOwner.FNameCounts;
  if (names.count(upper))
    throw common::Exception(
        common::Format("Sheet name \"%s\" allready exists", common::Utf16ToUtf8(Name).c_str()));
  names.emplace(std::move(upper), 1);
  if (auto it = names.find(old); it != names.end() && --it->second == 0)
    names.erase(it);
  FName = Name;
}

uint16_t TSheet::Resolve(uint16_t XF) const { return FOwner.Formats().ResolveXF(XF); }

// Every cell class takes its key first and its format last.
template <class T, class... Args> void TSheet::Store(int Col, int Row, uint16_t XF, Args &&...Values) {
  const uint32_t key = CheckedKey(Col, Row);
  FCells.Put(key, FCells.NewCell<T>(key, std::forward<Args>(Values)..., Resolve(XF)));
}

void TSheet::StoreBlank(int Col, int Row, uint16_t XF) { Store<TBlankCell>(Col, Row, XF); }

void TSheet::StoreBoolean(int Col, int Row, uint8_t Value, uint16_t XF) {
  Store<TBooleanCell>(Col, Row, XF, Value);
}

void TSheet::StoreError(int Col, int Row, uint8_t ErrorIndex, uint16_t XF) {
  Store<TErrorCell>(Col, Row, XF, ErrorIndex);
}

void TSheet::StoreFloat(int Col, int Row, double Value, uint16_t XF) {
  Store<TFloatCell>(Col, Row, XF, Value);
}

void TSheet::StoreSSTString(int Col, int Row, int SSTIndex, uint16_t XF) {
  SSTEntry *entry = FOwner.SST().EntryByIndex(SSTIndex);
  Store<TStringCell>(Col, Row, XF, entry);
  ++entry->RefCount;
}

void TSheet::StoreString(int Col, int Row, std::u16string_view Text, uint16_t XF) {
  const TStringPlace place = PlaceString(Col, Row, XF);
  PutString(place, FOwner.SST().AddText(Text));
}

TSheet::TStringPlace TSheet::PlaceString(int Col, int Row, uint16_t XF) const {
  return {CheckedKey(Col, Row), Resolve(XF)};
}

void TSheet::PutString(TStringPlace Place, SSTEntry *Entry) {
  TCellStorage::TCellPtr cell;
  try {
    cell = FCells.NewCell<TStringCell>(Place.Key, Entry, Place.XF);
  } catch (...) {
    FOwner.SST().ReleaseEntry(Entry);
    throw;
  }
  FCells.Put(Place.Key, std::move(cell));
}

void TSheet::StoreNumberFormula(int Col, int Row, uint32_t ResultLo, uint32_t ResultHi, uint32_t ExprLen,
                                uint32_t StoredLen, const uint8_t *Expr, uint16_t XF) {
  Store<TNumberFormulaCell>(Col, Row, XF, DoubleFromHalves(ResultLo, ResultHi), ExprLen, StoredLen, Expr);
}

void TSheet::StoreStringFormula(int Col, int Row, std::u16string_view Result, uint32_t ExprLen,
                                uint32_t StoredLen, const uint8_t *Expr, uint16_t XF) {
  Store<TStringFormulaCell>(Col, Row, XF, Result, ExprLen, StoredLen, Expr);
}

void TSheet::StoreBooleanFormula(int Col, int Row, uint8_t Result, uint32_t ExprLen, uint32_t StoredLen,
                                 const uint8_t *Expr, uint16_t XF) {
  Store<TBooleanFormulaCell>(Col, Row, XF, Result, ExprLen, StoredLen, Expr);
}

void TSheet::StoreErrorFormula(int Col, int Row, uint8_t Code, uint32_t ExprLen, uint32_t StoredLen,
                               const uint8_t *Expr, uint16_t XF) {
  Store<TErrorFormulaCell>(Col, Row, XF, ErrorIndexOf(Code), ExprLen, StoredLen, Expr);
}

void TSheet::StoreArrayFormula(int Col, int Row, uint8_t IsMember, uint32_t ArrayLen,
                               const uint8_t *ArrayData, uint32_t ResultLo, uint32_t ResultHi,
                               uint32_t ExprLen, uint32_t StoredLen, const uint8_t *Expr, uint16_t XF) {
  Store<TArrayFormulaCell>(Col, Row, XF, IsMember, ArrayLen, ArrayData, DoubleFromHalves(ResultLo, ResultHi),
                           ExprLen, StoredLen, Expr);
}

uint8_t TSheet::CellType(int Col, int Row) {
  const TCell *cell = FindCell(Col, Row);
  return cell ? cell->CellKind() : static_cast<uint8_t>(ckNone);
}

std::u16string TSheet::AsString(int Col, int Row) {
  if (const auto *cell = CellAs<TStringCell>(FindCell(Col, Row)))
    return TSST2::EntryText(cell->Entry());
  return {};
}

double TSheet::AsFloat(int Col, int Row) {
  const TCell *cell = FindCell(Col, Row);
  const uint8_t kind = cell ? cell->ValueKind() : static_cast<uint8_t>(ckNone);
  return kind == ckFloat || kind == ckInteger ? cell->Number() : 0;
}

common::Variant TSheet::CellVariant(const TCell *Cell) {
  using common::Variant;
  switch (Cell ? Cell->ValueKind() : static_cast<uint8_t>(ckNone)) {
  case ckInteger: return Variant::FromInt32(static_cast<const TIntegerCell *>(Cell)->Value());
  case ckFloat: return Variant::FromDouble(Cell->Number());
  case ckString: return Variant::FromWide(StringValue(*Cell));
  case ckBoolean: return Variant::FromInt8(Cell->Byte() ? 1 : 0);
  case ckError: return Variant::FromText(ErrorText(Cell->Byte()));
  default: return Variant::FromInt8(0); // blank or missing
  }
}

std::u16string TSheet::CellText(const TCell *Cell) {
  if (!Cell)
    return {};
  const TCellTextSettings &settings = FOwner.Settings;
  if (Cell->IsFormula() && settings.ShowFormulas && settings.FormulaText) {
    uint32_t key = Cell->Key();
    return settings.FormulaText(*static_cast<const TFormulaCell *>(Cell), static_cast<int>(key >> 8),
                                static_cast<int>(key & 255), Index());
  }
  switch (Cell->ValueKind()) {
  case ckInteger:
    return common::Utf8ToUtf16(std::to_string(static_cast<const TIntegerCell *>(Cell)->Value()));
  case ckFloat: {
    char separator = settings.DecimalSeparator ? settings.DecimalSeparator : common::LocaleDecimalSeparator();
    return common::Utf8ToUtf16(common::FloatToText(Cell->Number(), separator));
  }
  case ckString: return StringValue(*Cell);
  case ckBoolean: return Cell->Byte() ? settings.StrTRUE : settings.StrFALSE;
  case ckError: return common::Utf8ToUtf16(ErrorText(Cell->Byte()));
  default: return {}; // blank
  }
}

void TSheet::DeleteCell(int Col, int Row) {
  try {
    uint32_t key = CellKey(Col, Row);
    if (const auto *cell = CellAs<TStringCell>(FCells.Find(key)))
      FOwner.SST().ReleaseEntry(cell->Entry());
    FCells.Remove(key);
  } catch (const std::exception &) {
    throw common::Exception(common::Format("Error on deleting cell %d:%d", Col, Row));
  }
}

void TSheet::Reset() {
  FCells.ClearCells();
  Rows.Clear();
  if (Attachment)
    Attachment->Reset();
}

void TSheet::AfterRead() {
  Rows.SortRows();
  FOwner.SST().DropIndex();
}

// ---------------------------------------------------------------------------------------------
// Sheets

TSheets::TSheets(TXLSFonts &Fonts, TCellFormats &Formats) : FFormats(Formats), FSST(&Fonts) {}

TSheet &TSheets::AddSheet(uint8_t Kind) {
  FItems.push_back(std::make_unique<TSheet>(*this, FCreated++, Kind, Count()));
  ++FNameCounts[UpperCaseWide(FItems.back()->Name())];
  return *FItems.back();
}

void TSheets::ClearSheets() {
  FSST.ClearSST();
  for (auto &sheet : FItems)
    sheet->Reset();
  FItems.clear();
  FNameCounts.clear();
}

} // namespace xls
