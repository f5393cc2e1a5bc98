#pragma once

// Builders of small exact workbooks for the reader tests.

#include <string>
#include <vector>

#include "common/text.h"
#include "xls/workbook.h"
#include "xls_test_writer.h"

namespace reader_test {

using xls_test::BiffWriter;
using xls_test::Bytes;
using xls_test::ByteWriter;

// A BIFF8 (or BIFF5) BOUNDSHEET body for a name; the stream offset is not used by the reader.
inline Bytes BoundSheet(const std::u16string &name, xls::TExcelVersion version = xls::xvExcel97,
                        uint8_t hidden = 0, uint8_t type = 0) {
  ByteWriter b;
  b.U32(0).U8(hidden).U8(type);
  if (version == xls::xvExcel97) {
    b.UnicodeString8(name);
  } else {
    b.U8(static_cast<uint8_t>(name.size()));
    for (char16_t c : name)
      b.U8(static_cast<uint8_t>(c));
  }
  return b;
}

// Cells refer to cell format 15, so every book carries the 16 formats a real one starts with.
inline void AddFormats(BiffWriter &w, xls::TExcelVersion version = xls::xvExcel97) {
  for (int i = 0; i < 16; ++i)
    w.Record(0x00E0, Bytes(version == xls::xvExcel97 ? 20 : 16, 0));
}

// Workbook globals listing the sheets.
inline BiffWriter Globals(const std::vector<std::u16string> &names,
                          xls::TExcelVersion version = xls::xvExcel97) {
  BiffWriter w;
  w.Bof(version, xls_test::BofGlobals);
  AddFormats(w, version);
  for (const auto &n : names)
    w.Record(0x0085, BoundSheet(n, version));
  w.Eof();
  return w;
}

inline ByteWriter Cell(uint16_t row, uint16_t col, uint16_t xf = 15) {
  ByteWriter b;
  b.U16(row).U16(col).U16(xf);
  return b;
}

inline Bytes Append(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline void Load(xls::TXLSWorkbook &wb, const Bytes &stream, xls::TExcelVersion version = xls::xvExcel97) {
  wb.LoadFromStream(xls_test::MakeCompoundFile(stream, version == xls::xvExcel97 ? u"Workbook" : u"Book"));
}

// One BIFF8 worksheet named "S" holding the given sheet records.
inline Bytes OneSheet(const BiffWriter &records, xls::TExcelVersion version = xls::xvExcel97) {
  BiffWriter w = Globals({u"S"}, version);
  w.Bof(version, xls_test::BofWorksheet).Raw(records.Data()).Eof();
  return w.Data();
}

inline std::string Text(xls::TSheet &sheet, int col, int row) {
  return common::Utf16ToUtf8(sheet.AsText(col, row));
}

} // namespace reader_test
