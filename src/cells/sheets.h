#pragma once

// The workbook's sheets: the sheet collection with the shared string table, each sheet's cell
// store and row list, the store operations the record reader fills a sheet with, and the
// accessors that read cell values as text, numbers and variants.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cells/cell_storage.h"
#include "cells/cells.h"
#include "cells/sst.h"
#include "common/exception.h"
#include "common/variant.h"

namespace xls {

class TXLSStream;
class TXLSFonts;
class TCellFormats;
class TSheets;

// One ROW record.
class TXLSRow {
public:
  uint16_t Row = 0;
  uint16_t FirstCol = 0;
  uint16_t LastCol = 0; // one past the last column with a cell
  uint16_t Height = 0;  // twentieths of a point
  uint16_t Options = 0;
  uint16_t XF = 15; // low 12 bits of the format word when Options has 0x80, else 15
};

// The sheet's row entries, one per ROW record (duplicates included), in file order while reading
// and sorted by row number after AfterRead.
class TXLSRows {
public:
  // Appends a row built from a ROW record body (at least 16 bytes, else "Bad record in file").
  // Entries are kept by value, so a reference to one lasts until the next AddRow.
  TXLSRow &AddRow(const uint8_t *Body, int Length);
  int Count() const { return static_cast<int>(FItems.size()); }
  TXLSRow &Items(int Index) const; // list-index error outside 0..Count-1
  void SortRows();
  void Clear() { FItems.clear(); }

private:
  std::vector<TXLSRow> FItems;
};

// What a sheet needs of its workbook when turning cells into text; the workbook sets these.
struct TCellTextSettings {
  std::u16string StrTRUE = u"TRUE";
  std::u16string StrFALSE = u"FALSE";
  bool ShowFormulas = false;
  // Separator of number texts; 0 follows the user's locale at each call.
  char DecimalSeparator = 0;
  // The formula text of a cell for ShowFormulas (expression bytes, ExprLen, Row, Col and sheet
  // index are in reach through the arguments). When none is set, ShowFormulas has no effect and
  // formula cells show their cached result.
  std::function<std::u16string(const TFormulaCell &Cell, int Row, int Col, int SheetIndex)> FormulaText;
};

// Something a later layer attaches to each sheet (the record storage, periphery objects).
class TSheetAttachment {
public:
  virtual ~TSheetAttachment() = default;
  // Called when the sheet is reset at the start of a read.
  virtual void Reset() {}
};

class TSheet {
public:
  TSheet(TSheets &Owner, int CreationNumber, uint8_t Kind, int Index);
  TSheet(const TSheet &) = delete;
  TSheet &operator=(const TSheet &) = delete;

  const std::u16string &Name() const { return FName; }
  // Raises "Sheet name \"%s\" allready exists" when another sheet has the name, ignoring case.
  void SetName(const std::u16string &Name);
  int Index() const { return FIndex; }
  uint8_t Kind() const { return FKind; }
  uint8_t Hidden = 0;

  TXLSRows Rows;
  TCellStorage &Cells() { return FCells; }
  TSheets &Owner() const { return FOwner; }
  std::unique_ptr<TSheetAttachment> Attachment;

  // Store operations of the record reader. Each builds one cell with its format index and puts
  // it under CellKey(Col, Row), replacing (and freeing) what was there.
  void StoreBlank(int Col, int Row, uint16_t XF);
  void StoreBoolean(int Col, int Row, uint8_t Value, uint16_t XF);
  void StoreError(int Col, int Row, uint8_t ErrorIndex, uint16_t XF);
  void StoreFloat(int Col, int Row, double Value, uint16_t XF);
  // List-index error when the table does not hold SSTIndex.
  void StoreSSTString(int Col, int Row, int SSTIndex, uint16_t XF);
  void StoreString(int Col, int Row, std::u16string_view Text, uint16_t XF);
  // StoreString in two steps, for a reader that has the entry already: PlaceString checks the
  // position and format, PutString stores the cell there, taking over the entry's reference.
  struct TStringPlace {
    uint32_t Key;
    uint16_t XF;
  };
  TStringPlace PlaceString(int Col, int Row, uint16_t XF) const;
  void PutString(TStringPlace Place, SSTEntry *Entry);
  // Expr must hold StoredLen bytes; the formula cells copy them.
  void StoreNumberFormula(int Col, int Row, uint32_t ResultLo, uint32_t ResultHi, uint32_t ExprLen,
                          uint32_t StoredLen, const uint8_t *Expr, uint16_t XF);
  void StoreStringFormula(int Col, int Row, std::u16string_view Result, uint32_t ExprLen, uint32_t StoredLen,
                          const uint8_t *Expr, uint16_t XF);
  void StoreBooleanFormula(int Col, int Row, uint8_t Result, uint32_t ExprLen, uint32_t StoredLen,
                           const uint8_t *Expr, uint16_t XF);
  // Code is the BIFF error code; it is mapped to an ErrorIndex here.
  void StoreErrorFormula(int Col, int Row, uint8_t Code, uint32_t ExprLen, uint32_t StoredLen,
                         const uint8_t *Expr, uint16_t XF);
  void StoreArrayFormula(int Col, int Row, uint8_t IsMember, uint32_t ArrayLen, const uint8_t *ArrayData,
                         uint32_t ResultLo, uint32_t ResultHi, uint32_t ExprLen, uint32_t StoredLen,
                         const uint8_t *Expr, uint16_t XF);

  // Accessors; a missing cell gives the "missing" value, never an error.
  std::u16string AsString(int Col, int Row);
  common::Variant AsVariant(int Col, int Row) { return CellVariant(FindCell(Col, Row)); }
  std::u16string AsText(int Col, int Row) { return CellText(FindCell(Col, Row)); }
  double AsFloat(int Col, int Row);
  uint8_t CellType(int Col, int Row);
  TCell *FindCell(int Col, int Row) { return FCells.Find(CellKey(Col, Row)); }
  // Frees the cell (releasing a string cell's entry first); failures are re-raised as
  // "Error on deleting cell %d:%d".
  void DeleteCell(int Col, int Row);

  // Empties cells, rows and attachments (start of a read).
  void Reset();
  // After the whole file is read: rows sorted, SST positions dropped.
  void AfterRead();

  // The text and variant of one cell, as the accessors give them (nullptr = missing cell).
  std::u16string CellText(const TCell *Cell);
  static common::Variant CellVariant(const TCell *Cell);

private:
  template <class T, class... Args> void Store(int Col, int Row, uint16_t XF, Args &&...Values);
  uint16_t Resolve(uint16_t XF) const;

  TSheets &FOwner;
  TCellStorage FCells;
  std::u16string FName;
  uint8_t FKind;
  int FIndex; // sheets are only added at the end and removed all at once
};

// The sheets of a workbook, in creation order, with the shared string table.
class TSheets {
public:
  // Fonts and cell formats are the workbook's lists (not owned, must outlive the collection).
  TSheets(TXLSFonts &Fonts, TCellFormats &Formats);
  TSheets(const TSheets &) = delete;
  TSheets &operator=(const TSheets &) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  // Raises the list-index error outside 0..Count-1.
  TSheet &Items(int Index) const { return common::CheckedItem(FItems, Index); }
  TSheet &AddSheet(uint8_t Kind = 0);
  int IndexOf(const TSheet *Sheet) const { return Sheet && &Sheet->Owner() == this ? Sheet->Index() : -1; }
  // Empties the shared string table, resets every sheet, then removes them all.
  void ClearSheets();

  TSST2 &SST() { return FSST; }
  void ReadSST(TXLSStream &Stream, int Length) { FSST.ReadSST(Stream, Length); }
  TCellFormats &Formats() const { return FFormats; }

  TCellTextSettings Settings;

private:
  TCellFormats &FFormats;
  friend class TSheet;

  TSST2 FSST;
  // Destroyed before the table, so nothing points into a freed table while sheets go; cells never
  // touch their entries when freed in any case.
  std::vector<std::unique_ptr<TSheet>> FItems;
  // Upper-cased names in use and how many sheets bear each (added sheets' default names may
  // repeat a name given before).
  std::unordered_map<std::u16string, int> FNameCounts;
  int FCreated = 0;
};

} // namespace xls
