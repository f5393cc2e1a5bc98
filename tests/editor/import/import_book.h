#pragma once

// Builds exact one-sheet BIFF8 workbooks for the spreadsheet import tests.

#include "xls/xls_stream.h"
#include "xls_test_writer.h"

#include <string>

namespace import_test {

using namespace xls_test;

inline ByteWriter CellHead(uint16_t row, uint16_t col) { return ByteWriter().U16(row).U16(col).U16(15); }

// A BIFF8 worksheet built record by record.
class Sheet {
public:
  Sheet &Label(uint16_t row, uint16_t col, const std::u16string &text) {
    FRecords.Record(0x0204, CellHead(row, col).UnicodeString16(text));
    return *this;
  }
  Sheet &Number(uint16_t row, uint16_t col, double v) {
    FRecords.Record(0x0203, CellHead(row, col).F64(v));
    return *this;
  }
  Sheet &Bool(uint16_t row, uint16_t col, uint8_t v, bool error = false) {
    FRecords.Record(0x0205, CellHead(row, col).U8(v).U8(error ? 1 : 0));
    return *this;
  }
  Sheet &Blank(uint16_t row, uint16_t col) {
    FRecords.Record(0x0201, CellHead(row, col));
    return *this;
  }
  Sheet &Row(uint16_t row) {
    FRecords.Record(0x0208, ByteWriter().U16(row).U16(0).U16(1).U16(255).U16(0).U16(0).U32(0x100));
    return *this;
  }
  // The workbook stream: globals naming one sheet, then the sheet.
  Bytes Stream() const {
    BiffWriter w;
    w.Bof(xls::xvExcel97, BofGlobals);
    for (int i = 0; i < 16; ++i) // real files always carry at least the 16 built-in cell formats
      w.Record(0x00E0, ByteWriter().Fill(0, 20));
    w.Record(0x0085, ByteWriter().U32(0).U8(0).U8(0).UnicodeString8(u"Data"));
    w.Eof();
    w.Bof(xls::xvExcel97, BofWorksheet).Raw(FRecords.Data()).Eof();
    return w.Data();
  }

private:
  BiffWriter FRecords;
};

} // namespace import_test
