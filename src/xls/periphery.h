#pragma once

// Containers for the parts of a workbook that take no part in cell values (drawings, notes,
// print and view settings, charts, names). The reader fills them so that every record they own
// is consumed exactly, and the records after them are read at the right place.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "xls/record_body.h"
#include "xls/record_storage.h"

namespace xls {

class TXLSStream;

// Skips `count` body bytes. An encrypted stream is read through so that the key stream stays in
// step with the position.
void SkipBody(TXLSStream &stream, int count);

// Reads the next record when its id is one of `ids` and its body fits `maxLength`; otherwise
// leaves the stream untouched and returns false.
bool ReadFollowingRecord(TXLSStream &stream, std::initializer_list<uint16_t> ids, int maxLength,
                         TRawRecord &record);

struct TNote {
  uint16_t Row = 0;
  uint16_t Col = 0;
  uint16_t ObjId = 0;
  std::u16string Author; // BIFF8; for BIFF5 notes the text itself
};

// The sheet's drawing layer: raw MSODRAWING bodies and the notes that refer to them.
struct TSheetDrawing {
  std::vector<std::vector<uint8_t>> Drawings;
  std::vector<TNote> Notes;
  void ReadDrawing(TXLSStream &stream, int length);
  void AddNote(const TRecordBody &body, bool biff8);
};

struct TMergedArea {
  uint16_t Row1 = 0, Row2 = 0, Col1 = 0, Col2 = 0;
};

struct TColumnInfo {
  bool Assigned = false;
  uint16_t Width = 0;
  uint16_t XF = 0;
  uint16_t Options = 0;
};

struct TPrintSettings {
  std::u16string Header;
  std::u16string Footer;
  // Left, right, top, bottom in inches; negative while the file sets none.
  std::array<double, 4> Margins = {-1, -1, -1, -1};
  std::vector<uint16_t> RowBreaks;
  std::vector<uint16_t> ColBreaks;
};

struct TSelection {
  uint8_t Pane = 3;
  uint16_t ActiveRow = 0;
  uint16_t ActiveCol = 0;
};

// One chart substream, from its BOF to its EOF, kept as raw records.
struct TChart {
  std::u16string Name;
  int Ordinal = -1;
  std::vector<TRawRecord> Records;

  // Reads records up to and including the EOF that closes `bof` (nested substreams included).
  void Read(TXLSStream &stream, uint16_t bofId, const uint8_t *bof, int bofLength, int maxLength);
};

using TCharts = std::vector<std::unique_ptr<TChart>>;

// Everything of one sheet besides its cells and kept records.
struct TSheetPeriphery {
  TSheetDrawing Drawing;
  std::vector<TMergedArea> MergedCells;
  std::array<TColumnInfo, 256> Columns{};
  TPrintSettings Print;
  std::vector<TSelection> Selections;
  std::vector<uint8_t> Pane;                  // the PANE body, empty without one
  std::vector<TRawRecord> ConditionalFormats; // CONDFMT followed by its CF records
  std::vector<TRawRecord> Validations;        // DVAL followed by its DV records
  std::vector<std::vector<uint8_t>> Hyperlinks;
  bool FilterMode = false;
  uint16_t Protection = 0;
  TCharts Charts; // embedded charts

  void ReadMergedCells(const TRecordBody &body);
  void ReadColInfo(const TRecordBody &body);
  void ReadHeaderFooter(const TRecordBody &body, bool footer);
  void ReadMargin(const TRecordBody &body) { Print.Margins[body.Id() - 0x0026] = body.F64(0); }
  void ReadPageBreaks(const TRecordBody &body, bool biff8);
  void ReadSelection(const TRecordBody &body);
  // PANE and the SELECTION records after it.
  void ReadPane(const TRecordBody &body, TXLSStream &stream, int maxLength);
  void ReadCondFmt(const TRecordBody &body, TXLSStream &stream, int maxLength);
  void ReadDVal(const TRecordBody &body, TXLSStream &stream, int maxLength);
  void ReadSheetProtection(const TRecordBody &body) { Protection = body.U16(19) & 0x7FFF; }
};

// The drawing group (pictures shared by the drawings of every sheet).
struct TMSOPictures {
  std::vector<uint8_t> Data;
  // Reads the group container that starts this record, following its continuations.
  void ReadGroup(TXLSStream &stream, int recordLength);
};

// Defined names and external references, kept as the records state them.
struct TFormulaTables {
  std::vector<std::vector<uint8_t>> Names;
  std::vector<std::vector<uint8_t>> ExternSheets;
  std::vector<std::vector<uint8_t>> SupBooks;
  std::vector<std::vector<uint8_t>> ExternNames;
  struct TCrn {
    int SheetIndex;
    std::vector<uint8_t> Body;
  };
  std::vector<TCrn> Crns;
  std::u16string Directory;
};

} // namespace xls
