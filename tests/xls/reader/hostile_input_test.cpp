// Workbooks crafted to read past a record or to cost more than linear time: the reader keeps to
// what the records hold and to one step per record.

#include <gtest/gtest.h>

#include "book.h"

using namespace xls;
using namespace reader_test;

namespace {

Bytes Formula(uint16_t row, uint16_t col, uint16_t options, const Bytes &expr, uint16_t cce) {
  ByteWriter b(Cell(row, col));
  b.F64(1).U16(options).U32(0).U16(cce).Raw(expr);
  return b;
}

Bytes Font() {
  return ByteWriter().U16(200).U16(0).U16(0x7FFF).U16(400).U16(0).U8(0).U8(0).U8(0).U8(0).UnicodeString8(u"Arial");
}

} // namespace

TEST(HostileInput, SharedFormulaFlagWithoutItsShrfmlaKeepsTheRecordsOwnExpression) {
  const Bytes ref = {0x01, 0x05, 0x00, 0x02, 0x00}; // anchored at a cell that has no SHRFMLA
  BiffWriter r;
  r.Record(0x0006, Formula(0, 0, 0x0008, ref, 0xFFFF));
  TXLSWorkbook wb;
  Load(wb, OneSheet(r));
  auto *f = CellAs<TFormulaCell>(wb.SheetByIndex(0).FindCell(0, 0));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->ExprBytes(), ref);
  EXPECT_EQ(f->ExprLen(), 0xFFFFu);
}

TEST(HostileInput, EveryAnchorFindsItsOwnSharedFormula) {
  // One-cell shared formulas, each followed by its SHRFMLA; the first SHRFMLA of an anchor wins.
  constexpr uint16_t Count = 3000;
  BiffWriter r;
  for (uint16_t row = 0; row < Count; ++row) {
    const Bytes ref = ByteWriter().U8(0x01).U16(row).U16(1);
    r.Record(0x0006, Formula(row, 1, 0x0008, ref, 5));
    r.Record(0x04BC, ByteWriter().U16(row).U16(row).U8(1).U8(1).U16(0).U16(3).U8(0x1E).U16(row));
  }
  r.Record(0x04BC, ByteWriter().U16(7).U16(7).U8(1).U8(1).U16(0).U16(3).U8(0x1E).U16(9999));
  r.Record(0x0006, Formula(Count, 1, 0x0008, ByteWriter().U8(0x01).U16(7).U16(1), 5));
  TXLSWorkbook wb;
  Load(wb, OneSheet(r));
  TSheet &s = wb.SheetByIndex(0);
  for (uint16_t row = 0; row < Count; ++row) {
    auto *f = CellAs<TFormulaCell>(s.FindCell(1, row));
    ASSERT_NE(f, nullptr) << row;
    ASSERT_EQ(f->ExprBytes(), Bytes(ByteWriter().U8(0x1E).U16(row))) << row;
  }
  EXPECT_EQ(CellAs<TFormulaCell>(s.FindCell(1, Count))->ExprBytes(), Bytes(ByteWriter().U8(0x1E).U16(7)));
}

TEST(HostileInput, DimensionsBeforeEveryRowDoNotGrowTheRowList) {
  constexpr uint16_t Count = 20000;
  BiffWriter r;
  for (uint16_t row = 0; row < Count; ++row) {
    r.Record(0x0200, ByteWriter().U32(0).U32(65536).U16(0).U16(2).U16(0));
    r.Record(0x0208, ByteWriter().U16(Count - 1 - row).U16(0).U16(2).U16(255).Fill(0, 8));
  }
  TXLSWorkbook wb;
  Load(wb, OneSheet(r));
  TSheet &s = wb.SheetByIndex(0);
  ASSERT_EQ(s.Rows.Count(), Count);
  EXPECT_EQ(s.Rows.Items(0).Row, 0);
  EXPECT_EQ(s.Rows.Items(Count - 1).Row, Count - 1);
}

TEST(HostileInput, ManySheetsKeepTheirNamesAndRefuseARepeatedOne) {
  constexpr int Count = 4000;
  std::vector<std::u16string> names;
  for (int i = 0; i < Count; ++i)
    names.push_back(u"Sheet_" + common::Utf8ToUtf16(std::to_string(i)));
  BiffWriter w = Globals(names);
  for (int i = 0; i < Count; ++i)
    w.Bof(xvExcel97, xls_test::BofWorksheet).Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  ASSERT_EQ(wb.Sheets().Count(), Count);
  EXPECT_EQ(wb.Sheets().Items(Count - 1).Name(), u"Sheet_3999");
  EXPECT_EQ(wb.Sheets().Items(Count - 1).Index(), Count - 1);
  EXPECT_EQ(wb.Sheets().IndexOf(&wb.Sheets().Items(17)), 17);
  // Renaming to a name in use fails whatever its case; a freed name can be taken again.
  EXPECT_EQ(xls_test::ExceptionText([&] { wb.Sheets().Items(0).SetName(u"sheet_12"); }),
            "Sheet name \"sheet_12\" allready exists");
  wb.Sheets().Items(12).SetName(u"Other");
  wb.Sheets().Items(0).SetName(u"sheet_12");
  EXPECT_EQ(wb.Sheets().Items(0).Name(), u"sheet_12");

  BiffWriter twice = Globals({u"Same", u"SAME"});
  twice.Bof(xvExcel97, xls_test::BofWorksheet).Eof().Bof(xvExcel97, xls_test::BofWorksheet).Eof();
  TXLSWorkbook other;
  EXPECT_NE(xls_test::ExceptionText([&] { Load(other, twice); }).find("Sheet name \"SAME\" allready exists"),
            std::string::npos);
}

TEST(HostileInput, StringsOfEqualBytesButOtherOptionsOrCountsStayApart) {
  BiffWriter w;
  w.Bof(xvExcel97, xls_test::BofGlobals);
  for (int i = 0; i < 6; ++i)
    w.Record(0x0031, Font());
  AddFormats(w);
  ByteWriter sst;
  sst.U32(5).U32(5);
  sst.U16(2).U8(0x00).Text8("AB");                          // 0: 8-bit "AB"
  sst.U16(1).U8(0x01).Text8("AB");                          // 1: 16-bit U+4241, the same bytes
  sst.U16(2).U8(0x08).U16(1).Text8("AB").U16(0).U16(5);     // 2: "AB" with a run
  sst.U16(2).U8(0x04).U32(4).Text8("AB").Raw(Bytes{0, 5, 0, 0}); // 3: "AB" and a phonetic block
  sst.U16(2).U8(0x00).Text8("AB");                          // 4: 0 again
  w.Record(0x00FC, sst);
  w.Record(0x0085, BoundSheet(u"S")).Eof();
  w.Bof(xvExcel97, xls_test::BofWorksheet);
  for (uint16_t i = 0; i < 5; ++i)
    w.Record(0x00FD, ByteWriter(Cell(i, 0)).U32(i));
  w.Record(0x0204, ByteWriter(Cell(5, 0)).UnicodeString16(u"AB"));
  w.Record(0x0204, ByteWriter(Cell(6, 0)).UnicodeString16(u"\u4241"));
  w.Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  TSheet &s = wb.SheetByIndex(0);
  auto entry = [&](int row) { return static_cast<TStringCell *>(s.FindCell(0, row))->Entry(); };
  EXPECT_EQ(s.AsString(0, 0), u"AB");
  EXPECT_EQ(s.AsString(0, 1), u"\u4241");
  EXPECT_EQ(s.AsString(0, 2), u"AB");
  EXPECT_EQ(s.AsString(0, 3), u"AB");
  EXPECT_NE(entry(0), entry(1));
  EXPECT_NE(entry(0), entry(2));
  EXPECT_NE(entry(0), entry(3));
  EXPECT_NE(entry(2), entry(3));
  EXPECT_EQ(entry(4), entry(0));
  EXPECT_EQ(entry(5), entry(0)); // a label's 8-bit text is the table's 8-bit entry
  EXPECT_EQ(entry(6), entry(1));
  EXPECT_EQ(wb.Sheets().SST().EntryCount(), 4u);
}
