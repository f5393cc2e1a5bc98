#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cells/sheets.h"
#include "xls/record_body.h"
#include "xls/xls_stream.h"

namespace xls {

class TXLSWorkbook;
class TRecordStorageDefault;
struct TSheetPeriphery;

// The RK encoding of numbers in RK and MULRK records.
double RKValue(uint32_t Value);

// Turns the record stream of one workbook into the workbook's objects. Used once per read.
class TXLSReader {
public:
  explicit TXLSReader(TXLSWorkbook &Workbook) : FWorkbook(Workbook) {}
  TXLSReader(const TXLSReader &) = delete;
  TXLSReader &operator=(const TXLSReader &) = delete;

  // Reads the whole workbook from the compound-file image, or from the workbook's Filename when
  // the image is empty. Called once: the reader holds the stream open until it is destroyed.
  void ReadRecords(std::vector<uint8_t> Source = {});

private:
  struct TSheetName {
    std::string Bytes; // BIFF8: option byte then characters; earlier: the 8-bit characters
    int Hidden = 0;
  };
  // Shared-formula expressions by their anchor cell (first row, first column).
  static uint32_t SharedKey(int Row, int Col) { return uint32_t(Row) << 16 | uint32_t(Col & 0xFFFF); }

  void ReadLoop();
  void Dispatch();
  TRecordBody Body() const { return TRecordBody(RecordId, RecordData.data(), RecordLength); }
  // The sheet of the substream being read; the list-index error before any.
  TSheet &CurrentSheet() const { return FSheet ? *FSheet : NoCurrentSheet(); }
  [[noreturn]] TSheet &NoCurrentSheet() const { common::ListIndexError(SheetIndex); }
  TSheetPeriphery &Periphery() const;
  void PutDefault() const;
  // Keeps the record raw when asked to or when the storage has no slot for it.
  void PutSlotRecord(bool keep = false);
  void KeepIfShort(void (TXLSReader::*Handler)());
  void AppendDecoded8(std::u16string &text, const uint8_t *bytes, int count) const;
  std::u16string Decode8(const uint8_t *bytes, int count) const {
    std::u16string text;
    AppendDecoded8(text, bytes, count);
    return text;
  }
  // The 256 characters of the code page in force, or empty when it is no single-byte page.
  const std::u16string &DecodeTable() const {
    if (FDecodeTablePage != FCodePage)
      BuildDecodeTable();
    return FDecodeTable;
  }
  void BuildDecodeTable() const;
  // cch characters from offset at, or as many as the body holds.
  std::u16string CutText(const TRecordBody &body, int at, int cch, bool wide) const;
  std::u16string SheetName(int Ordinal) const;
  bool AtEndOfReading() const {
    return SheetNames.empty() || SheetOrdinal >= static_cast<int>(SheetNames.size()) - 1;
  }

  // Records of the workbook globals.
  void ReadBof();
  void ReadEof();
  void ReadBoundSheet();
  void ReadFilePass();
  void ReadFont();
  void ReadXF();
  void ReadFormat();
  void ReadNameTables();
  void ReadXct();
  void ReadWriteAccess();
  void ReadPalette();

  // Records of a sheet.
  void ReadSheetPeriphery();
  // The cell records with one value each (BIFF2's too), MULBLANK and MULRK.
  void ReadCell();
  void ReadLabel();
  void ReadLabelSST();
  void ReadFormula();
  void ReadOldFormula();
  void ReadDimensions();
  void ReadWindow2();
  // The result of a formula whose cached value is not a number.
  void StoreSpecialFormula(int Col, int Row, uint8_t Type, uint8_t Value, uint16_t XF, uint32_t Cce,
                           uint32_t StoredLen, const uint8_t *Expr);
  void ReadSharedFormula();
  // Whether each of the 8-bit bytes decodes to the character of its own value, so that they
  // can be stored as they are.
  bool Latin1Bytes(const uint8_t *bytes, int count) const;
  // Stores Count characters from 0 to 255, one byte each, as a string cell.
  void StoreBytes(int Col, int Row, const uint8_t *Chars, int Count, uint16_t XF);
  // Sets text to cch characters from offset, going on in the CONTINUE records that follow when
  // the body ends first; fails as a too-short record when they are missing.
  void ContinuedText(std::u16string &text, const TRecordBody &body, int offset, int cch, bool wide);

  TXLSWorkbook &FWorkbook;
  std::vector<uint8_t> RecordData;
  int SheetIndex = -1;
  TSheet *FSheet = nullptr; // the sheet at SheetIndex, once there is one
  TXLSStream FStream;
  std::vector<TSheetName> SheetNames;
  int SheetOrdinal = -1;
  uint16_t RecordId = 0;
  uint16_t RecordLength = 0;
  std::unordered_map<uint32_t, std::vector<uint8_t>> SharedFormulas;
  uint32_t BofLowestVersion = 0;
  std::vector<uint8_t> CurrentArray; // the ARRAY body of the formulas being read, empty without one
  TRecordStorageDefault *CurrentStorage = nullptr;
  bool KeepRaw = true;
  bool FSkipUserViews = false;
  bool FStop = false;
  // Inside a globals or sheet substream (between its BOF and EOF): a chart BOF met there is an
  // embedded chart, not a sheet of its own.
  bool FInSubstream = false;
  uint16_t FCodePage = 1252;
  // The 256 characters of FDecodeTablePage when it is a single-byte code page, so 8-bit text
  // needs no converter call per string.
  mutable std::u16string FDecodeTable;
  mutable int FDecodeTablePage = -1;
  std::u16string FLabelText; // reused from label to label
  int FRecordCount = 0;
};

} // namespace xls
