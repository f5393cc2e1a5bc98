// Cell records of every kind and the formula records that follow a FORMULA.

#include <gtest/gtest.h>

#include "book.h"
#include "common/text.h"
#include "xls/xls_reader.h"

using namespace xls;
using namespace reader_test;

namespace {

TSheet &LoadSheet(TXLSWorkbook &wb, const BiffWriter &records, TExcelVersion version = xvExcel97) {
  Load(wb, OneSheet(records, version), version);
  return wb.SheetByIndex(0);
}

std::string ReadError(const BiffWriter &records) {
  TXLSWorkbook wb;
  try {
    Load(wb, OneSheet(records));
  } catch (const std::exception &e) {
    const std::string m = e.what();
    return m.substr(m.find('\r') + 1);
  }
  return "(no exception)";
}

// A BIFF8 FORMULA body: result bytes, options, cce and expression.
Bytes Formula(uint16_t row, uint16_t col, const Bytes &result8, uint16_t options, const Bytes &expr,
              int cce = -1) {
  ByteWriter b(Cell(row, col));
  b.Raw(result8).U16(options).U32(0).U16(static_cast<uint16_t>(cce < 0 ? expr.size() : cce)).Raw(expr);
  return b;
}

Bytes Special(uint8_t type, uint8_t value) { return {type, 0, value, 0, 0, 0, 0xFF, 0xFF}; }
Bytes Double(double v) { return ByteWriter().F64(v); }

const Bytes Expr = {0x1E, 0x05, 0x00}; // the integer 5

} // namespace

TEST(Cells, RKValues) {
  EXPECT_EQ(RKValue(0x3FF00000), 1.0);
  EXPECT_EQ(RKValue(0x3FF00001), 0.01);
  EXPECT_EQ(RKValue(0x00000192), 100.0);
  EXPECT_EQ(RKValue(0x00000193), 1.0);
  EXPECT_EQ(RKValue(0xFFFFFFFE), -1.0);
  EXPECT_EQ(RKValue(0x0000C8A7), 128.41); // 12841 / 100
}

TEST(Cells, NumbersBlanksAndMulRecords) {
  BiffWriter r;
  r.Record(0x027E, ByteWriter(Cell(0, 0)).U32(0x00000193));
  r.Record(0x00BD,
           ByteWriter().U16(1).U16(3).U16(15).U32(0x3FF00000).U16(16).U32(0x00000192).U16(4)); // 18 bytes
  r.Record(0x00BE, ByteWriter().U16(2).U16(1).U16(15).U16(15).U16(15).U16(3));
  r.Record(0x0201, Cell(3, 0));
  r.Record(0x0203, ByteWriter(Cell(4, 0)).F64(-2.5));
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  EXPECT_EQ(s.AsFloat(0, 0), 1.0);
  EXPECT_EQ(s.AsFloat(3, 1), 1.0);
  EXPECT_EQ(s.AsFloat(4, 1), 100.0);
  EXPECT_EQ(s.CellType(5, 1), 0); // MULRK's last-column field is not a value
  for (int c = 1; c <= 3; ++c)
    EXPECT_EQ(s.CellType(c, 2), ckBlank);
  EXPECT_EQ(s.CellType(0, 3), ckBlank);
  EXPECT_EQ(s.AsFloat(0, 4), -2.5);
  EXPECT_EQ(s.CellType(0, 0), ckFloat); // never integer cells
}

TEST(Cells, BoolErrAndLabels) {
  BiffWriter r;
  r.Record(0x0205, ByteWriter(Cell(0, 0)).U8(1).U8(0));
  r.Record(0x0205, ByteWriter(Cell(0, 1)).U8(0x2A).U8(1));
  r.Record(0x0205, ByteWriter(Cell(0, 2)).U8(0x99).U8(1).U8(0)); // 9 bytes as some writers do
  r.Record(0x0204, ByteWriter(Cell(1, 0)).UnicodeString16(u"\u0416\u4E2D\U0001F600", true));
  r.Record(0x0204, ByteWriter(Cell(1, 1)).UnicodeString16(u"caf\u00E9"));
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  EXPECT_EQ(Text(s, 0, 0), "TRUE");
  EXPECT_EQ(s.CellType(1, 0), ckError);
  EXPECT_EQ(Text(s, 1, 0), "#N/A");
  EXPECT_EQ(Text(s, 2, 0), "[int] No error value");
  EXPECT_EQ(s.AsString(0, 1), u"\u0416\u4E2D\U0001F600");
  EXPECT_EQ(s.AsString(1, 1), u"caf\u00E9");
}

TEST(Cells, Biff5LabelsAreEightBit) {
  BiffWriter r;
  r.Record(0x0204, Append(ByteWriter(Cell(0, 0)).U16(5), {'G', 'r', 0xFC, 0xDF, 'e'}));
  r.Record(0x00D6, Append(ByteWriter(Cell(1, 0)).U16(2), {0x01, 'x', 0, 0})); // runs ignored
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r, xvExcel50);
  EXPECT_EQ(s.AsString(0, 0), u"Gr\u00FC\u00DFe");
  EXPECT_EQ(s.AsString(0, 1), u"\u0001x");
}

TEST(Cells, Biff5LabelsFollowTheCodePageInForce) {
  // Single-byte pages are decoded byte by byte, multi-byte ones as a whole; either way the text
  // is what the converter makes of the whole string.
  const Bytes cyrillic = {0xC0, 0xE1, 'z', 0xFF}, greek = {0xC1, 0xAA, 0xE1},
              japanese = {'a', 0x82, 0xA0, 'b'};
  auto decoded = [](const Bytes &b, int page) {
    return common::DecodeCodePage(std::string_view(reinterpret_cast<const char *>(b.data()), b.size()), page);
  };
  BiffWriter r;
  auto label = [&](uint16_t row, const Bytes &text) {
    r.Record(0x0204, Append(ByteWriter(Cell(row, 0)).U16(static_cast<uint16_t>(text.size())), text));
  };
  r.Record(0x0042, ByteWriter().U16(1251));
  label(0, cyrillic);
  r.Record(0x0042, ByteWriter().U16(1253));
  label(1, greek); // 0xAA is no character in this page
  r.Record(0x0042, ByteWriter().U16(932));
  label(2, japanese);
  r.Record(0x0042, ByteWriter().U16(1251));
  label(3, cyrillic);
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r, xvExcel50);
  EXPECT_EQ(s.AsString(0, 0), u"\u0410\u0431z\u044F");
  EXPECT_EQ(s.AsString(0, 1), decoded(greek, 1253));
  EXPECT_EQ(s.AsString(0, 2), u"a\u3042b");
  EXPECT_EQ(s.AsString(0, 3), decoded(cyrillic, 1251));
}

TEST(Cells, Biff5LabelsDecodeAByteAboveAsciiWhereverItFalls) {
  // ASCII text is recognised several bytes at a time; one byte above 127 at any position of a
  // label of any length must still send the label through the code page.
  BiffWriter r;
  r.Record(0x0042, ByteWriter().U16(1251));
  std::vector<Bytes> texts;
  for (size_t length = 1; length <= 40; ++length)
    for (size_t at = 0; at <= length; ++at) { // at == length: all ASCII
      Bytes text(length);
      for (size_t i = 0; i < length; ++i)
        text[i] = static_cast<uint8_t>('a' + i % 26);
      if (at < length)
        text[at] = 0xC0; // Cyrillic capital A in this page
      r.Record(
          0x0204,
          Append(ByteWriter(Cell(static_cast<uint16_t>(texts.size()), 0)).U16(static_cast<uint16_t>(length)),
                 text));
      texts.push_back(text);
    }
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r, xvExcel50);
  for (size_t row = 0; row < texts.size(); ++row) {
    std::u16string expected;
    for (uint8_t b : texts[row])
      expected += b == 0xC0 ? u'\u0410' : static_cast<char16_t>(b);
    ASSERT_EQ(s.AsString(0, static_cast<int>(row)), expected) << row;
  }
}

TEST(Cells, EightBitLabelsKeepTheirBytesOnlyWhereTheyAreTheirCharacters) {
  // Bytes that decode to the character of their own value are stored as they are, one byte a
  // character; any other byte sends the text through the code page, to a 16-bit entry when a
  // character is above 255. In BIFF2, 5 and 8 cells, LABEL and RSTRING alike.
  auto label = [](BiffWriter &r, uint16_t id, uint16_t row, const Bytes &text, bool biff8 = false) {
    ByteWriter b(Cell(row, 0));
    b.U16(static_cast<uint16_t>(text.size()));
    if (biff8)
      b.U8(0);
    r.Record(id, Append(Append(b, text), id == 0x00D6 ? Bytes{1, 0, 0, 0, 0, 0} : Bytes{}));
  };
  BiffWriter r;
  label(r, 0x0204, 0, {'c', 'a', 'f', 0xE9}); // no CODEPAGE: Windows-1252
  label(r, 0x0204, 1, {0x80, 'x'});
  label(r, 0x00D6, 2, {0x9F, 0xFF});
  r.Record(0x0042, ByteWriter().U16(1251));
  label(r, 0x00D6, 3, {'c', 'a', 'f', 0xE9});
  r.Record(0x0042, ByteWriter().U16(10000));
  label(r, 0x0204, 4, {0x80}); // another character of 8 bits
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r, xvExcel50);
  auto entry = [&](int row) { return static_cast<TStringCell *>(s.FindCell(0, row))->Entry(); };
  EXPECT_EQ(s.AsString(0, 0), u"caf\u00E9");
  EXPECT_FALSE(entry(0)->Wide());
  EXPECT_EQ(s.AsString(0, 1), u"\u20ACx");
  EXPECT_TRUE(entry(1)->Wide());
  EXPECT_EQ(s.AsString(0, 2), u"\u0178\u00FF");
  EXPECT_EQ(s.AsString(0, 3), u"caf\u0439");
  EXPECT_NE(entry(3), entry(0));
  EXPECT_EQ(s.AsString(0, 4), u"\u00C4");

  BiffWriter r8;
  label(r8, 0x00D6, 0, {'r', 0xE9, 0x80}, true); // BIFF8 8-bit text is Latin-1 whatever the page
  label(r8, 0x0204, 1, {'r', 0xE9, 0x80}, true);
  TXLSWorkbook wb8;
  TSheet &s8 = LoadSheet(wb8, r8);
  EXPECT_EQ(s8.AsString(0, 0), u"r\u00E9\u0080");
  EXPECT_EQ(static_cast<TStringCell *>(s8.FindCell(0, 0))->Entry(), static_cast<TStringCell *>(s8.FindCell(0, 1))->Entry());
}

TEST(Cells, LabelSstOutsideTheTable) {
  BiffWriter r;
  r.Record(0x00FD, ByteWriter(Cell(0, 0)).U32(0));
  EXPECT_EQ(ReadError(r).substr(0, 14), "Read error at ");
}

TEST(Cells, SharedStringsThroughLabelSst) {
  BiffWriter w;
  w.Bof(xvExcel97, xls_test::BofGlobals);
  AddFormats(w);
  w.Record(0x00FC, ByteWriter().U32(2).U32(2).UnicodeString16(u"alpha").UnicodeString16(u"\u03B2", true));
  w.Record(0x0085, BoundSheet(u"S")).Eof();
  w.Bof(xvExcel97, xls_test::BofWorksheet);
  w.Record(0x00FD, ByteWriter(Cell(0, 0)).U32(1));
  w.Record(0x00FD, ByteWriter(Cell(0, 1)).U32(0)).Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  EXPECT_EQ(wb.SheetByIndex(0).AsString(0, 0), u"\u03B2");
  EXPECT_EQ(wb.SheetByIndex(0).AsString(1, 0), u"alpha");
}

TEST(Cells, FormulaResults) {
  BiffWriter r;
  r.Record(0x0006, Formula(0, 0, Double(7.5), 0, Expr));
  r.Record(0x0006, Formula(1, 0, Special(0, 0), 0, Expr)); // string result...
  r.Record(0x0207, ByteWriter().UnicodeString16(u"text")); // ...in the STRING after it
  r.Record(0x0006, Formula(2, 0, Special(0, 0), 0, Expr)); // no STRING follows: no cell
  r.Record(0x0006, Formula(3, 0, Special(1, 1), 0, Expr));
  r.Record(0x0006, Formula(4, 0, Special(2, 0x07), 0, Expr));
  r.Record(0x0006, Formula(5, 0, Special(3, 0), 0, Expr));
  r.Record(0x0006, Formula(6, 0, Double(1), 0, {}));                      // cce 0: no cell
  r.Record(0x0006, Formula(7, 0, Double(2), 0, Append(Expr, {9, 9}), 3)); // extra data kept
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  EXPECT_EQ(s.CellType(0, 0), ckNumberFormula);
  EXPECT_EQ(s.AsFloat(0, 0), 7.5);
  EXPECT_EQ(s.CellType(0, 1), ckStringFormula);
  EXPECT_EQ(Text(s, 0, 1), "text");
  EXPECT_EQ(s.CellType(0, 2), 0);
  EXPECT_EQ(Text(s, 0, 3), "TRUE");
  EXPECT_EQ(Text(s, 0, 4), "#DIV/0!");
  EXPECT_EQ(s.CellType(0, 5), ckStringFormula);
  EXPECT_EQ(Text(s, 0, 5), "");
  EXPECT_EQ(s.CellType(0, 6), 0);
  auto *f = CellAs<TFormulaCell>(s.FindCell(0, 7));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->ExprLen(), 3u);
  EXPECT_EQ(f->ExprBytes().size(), 5u);
}

TEST(Cells, SharedFormulas) {
  const Bytes ref = {0x01, 0x00, 0x00, 0x01, 0x00}; // shared formula anchored at row 0, column 1
  const Bytes shared = {0x44, 0x00, 0x00, 0x00, 0xC0, 0x1E, 0x02, 0x00, 0x05};
  BiffWriter r;
  r.Record(0x0006, Formula(0, 1, Double(10), 0x0008, ref));
  // SHRFMLA B1:B3 with two bytes of trailing data that must not be read as a header.
  r.Record(0x04BC, Append(ByteWriter().U16(0).U16(2).U8(1).U8(1).U16(0).U16(9).Raw(shared), {0xAA, 0xBB}));
  r.Record(0x0006, Formula(1, 1, Double(20), 0x0008, ref));
  r.Record(0x0006, Formula(2, 1, Special(0, 0), 0x0008, ref));
  r.Record(0x0207, ByteWriter().UnicodeString16(u"s"));
  r.Record(0x0203, ByteWriter(Cell(3, 1)).F64(4));
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  for (int row = 0; row < 2; ++row) {
    auto *f = CellAs<TFormulaCell>(s.FindCell(1, row));
    ASSERT_NE(f, nullptr) << row;
    EXPECT_EQ(f->ExprBytes(), shared);
    EXPECT_EQ(f->ExprLen(), 9u);
  }
  EXPECT_EQ(s.AsFloat(1, 1), 20);
  EXPECT_EQ(Text(s, 1, 2), "s");
  EXPECT_EQ(s.AsFloat(1, 3), 4);
}

TEST(Cells, SharedFormulaBeforeStringResultIsRefused) {
  BiffWriter r;
  r.Record(0x0006, Formula(0, 0, Special(0, 0), 0, Expr));
  r.Record(0x04BC, ByteWriter().U16(0).U16(0).U8(0).U8(0).U16(0).U16(0));
  EXPECT_EQ(ReadError(r), "Unxepected SHRFMLA");
}

TEST(Cells, ArrayFormulas) {
  const Bytes exp = {0x01, 0x00, 0x00, 0x00, 0x00};
  BiffWriter r;
  r.Record(0x0006, Formula(0, 0, Double(1), 0, exp));
  r.Record(0x0221, ByteWriter().U16(0).U16(1).U8(0).U8(0).U16(0).U32(0).U16(3).Raw(Expr));
  r.Record(0x0006, Formula(1, 0, Double(2), 0, exp));
  r.Record(0x0006, Formula(5, 0, Double(3), 0, exp)); // outside the array: a plain formula
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  auto *a0 = CellAs<TArrayFormulaCell>(s.FindCell(0, 0));
  auto *a1 = CellAs<TArrayFormulaCell>(s.FindCell(0, 1));
  ASSERT_NE(a0, nullptr);
  ASSERT_NE(a1, nullptr);
  EXPECT_EQ(a0->IsMember(), 0);
  EXPECT_EQ(a1->IsMember(), 1);
  EXPECT_EQ(a1->ArrayBytes().size(), 17u);
  EXPECT_EQ(s.AsFloat(0, 1), 2);
  EXPECT_EQ(s.CellType(0, 5), ckNumberFormula);
}

TEST(Cells, DataTableFormulaTakesTheStringAfterItsTable) {
  BiffWriter r;
  r.Record(0x0006, Formula(0, 2, Special(0, 0), 0, {0x02, 0x00, 0x00, 0x02, 0x00}));
  r.Record(0x0236, ByteWriter().U16(0).U16(1).U8(2).U8(4).U16(4).U16(0x19).U16(1).U16(0xFFFF).U16(0));
  r.Record(0x0207, ByteWriter().UnicodeString16(u"103a"));
  r.Record(0x0203, ByteWriter(Cell(1, 0)).F64(4));
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  EXPECT_EQ(s.CellType(2, 0), ckStringFormula);
  EXPECT_EQ(Text(s, 2, 0), "103a");
  EXPECT_EQ(s.AsFloat(0, 1), 4);
  const TRecordStorageSheet &raw = wb.SheetExtras(0).Records;
  EXPECT_EQ(raw.Items(1).Id, 0x0236); // kept as it is
}

TEST(Cells, ArrayFormulasKeepTextBooleanAndErrorResults) {
  const Bytes exp = {0x01, 0x02, 0x00, 0x00, 0x00};
  BiffWriter r;
  // The anchor's text comes in the STRING after its ARRAY; the members' in the STRING after them.
  r.Record(0x0006, Formula(2, 0, Special(0, 0), 0, exp));
  r.Record(0x0221, ByteWriter().U16(2).U16(5).U8(0).U8(0).U16(0).U32(0).U16(3).Raw(Expr));
  r.Record(0x0207, ByteWriter().UnicodeString16(u"1A"));
  r.Record(0x0006, Formula(3, 0, Special(0, 0), 0, exp));
  r.Record(0x0207, ByteWriter().UnicodeString16(u"\u00E9t\u00E9", true));
  r.Record(0x0006, Formula(4, 0, Special(1, 1), 0, exp));
  r.Record(0x0006, Formula(5, 0, Special(2, 0x0F), 0, exp));
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  EXPECT_EQ(s.CellType(0, 2), ckStringFormula);
  EXPECT_EQ(Text(s, 0, 2), "1A");
  EXPECT_EQ(Text(s, 0, 3), "\u00E9t\u00E9");
  EXPECT_EQ(s.CellType(0, 4), ckBooleanFormula);
  EXPECT_EQ(Text(s, 0, 4), "TRUE");
  EXPECT_EQ(s.CellType(0, 5), ckErrorFormula);
  EXPECT_EQ(Text(s, 0, 5), "#VALUE!");
}

TEST(Cells, RowsAndSheetRecords) {
  BiffWriter r;
  r.Record(0x0208, ByteWriter().U16(3).U16(0).U16(2).U16(300).Fill(0, 4).U16(0x0080).U16(0x1017));
  r.Record(0x0208, ByteWriter().U16(3).U16(0).U16(2).U16(255).Fill(0, 8));
  r.Record(0x0208, ByteWriter().U16(1).U16(0).U16(2).U16(255).Fill(0, 8));
  r.Record(0x0200, ByteWriter().U32(1).U32(4).U16(0).U16(2).U16(0));
  r.Record(0x023E, Bytes(18, 0));
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  ASSERT_EQ(s.Rows.Count(), 3);
  // Sorted after the read.
  EXPECT_EQ(s.Rows.Items(0).Row, 1);
  EXPECT_EQ(s.Rows.Items(1).Row, 3);
  EXPECT_EQ(s.Rows.Items(2).Row, 3);
  const TRecordStorageSheet &st = wb.SheetExtras(0).Records;
  EXPECT_EQ(st.FindSlot(0x0200)->Body[4], 4);
}

TEST(Cells, DimensionsOfAnyRowSpanAreOnlyAHintForTheRowList) {
  for (const uint32_t last : {0u, 2u, 0xFFFFFFFFu}) {
    BiffWriter r;
    r.Record(0x0200, ByteWriter().U32(1).U32(last).U16(0).U16(2).U16(0));
    r.Record(0x0208, ByteWriter().U16(1).U16(0).U16(2).U16(255).Fill(0, 8));
    r.Record(0x0208, ByteWriter().U16(7).U16(0).U16(2).U16(255).Fill(0, 8));
    TXLSWorkbook wb;
    TSheet &s = LoadSheet(wb, r);
    ASSERT_EQ(s.Rows.Count(), 2) << last;
    EXPECT_EQ(s.Rows.Items(1).Row, 7) << last;
  }
}

TEST(Cells, Biff5SheetRecordsAreWidened) {
  BiffWriter r;
  r.Record(0x0200, ByteWriter().U16(1).U16(9).U16(0).U16(3).U16(0));
  r.Record(0x023E, Bytes(10, 1));
  r.Record(0x0000, Bytes(10, 0)); // BIFF2 DIMENSIONS id, dropped in BIFF5
  TXLSWorkbook wb;
  LoadSheet(wb, r, xvExcel50);
  const TRecordStorageSheet &st = wb.SheetExtras(0).Records;
  const auto &dim = st.FindSlot(0x0200)->Body;
  ASSERT_EQ(dim.size(), 14u);
  EXPECT_EQ(dim[4], 9);
  EXPECT_EQ(dim[10], 3);
  const auto &w2 = st.FindSlot(0x023E)->Body;
  ASSERT_EQ(w2.size(), 18u);
  EXPECT_EQ(w2[9], 1);
  EXPECT_EQ(w2[10], 0);
}

TEST(Cells, WritersOddDimensionsDoNotEndABiff8Read) {
  BiffWriter r;
  r.Record(0x0000, {}); // empty records of id 0, as some writers leave
  r.Record(0x0000, Bytes(10, 0));
  r.Record(0x0200, ByteWriter().U32(0).U32(0x24).U16(0).U16(0x0F).U16(0).U16(0)); // 16 bytes
  r.Record(0x0203, ByteWriter(Cell(0, 0)).F64(1));
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  EXPECT_EQ(s.AsFloat(0, 0), 1);
  const auto &dim = wb.SheetExtras(0).Records.FindSlot(0x0200)->Body;
  ASSERT_EQ(dim.size(), 14u);
  EXPECT_EQ(dim[4], 0x24);
  EXPECT_EQ(dim[10], 0x0F);
  // A short one is completed with zeros.
  BiffWriter shortDim;
  shortDim.Record(0x0200, ByteWriter().U32(0).U32(9));
  TXLSWorkbook other;
  LoadSheet(other, shortDim);
  EXPECT_EQ(other.SheetExtras(0).Records.FindSlot(0x0200)->Body,
            ByteWriter().U32(0).U32(9).Fill(0, 6).Data());
}

TEST(Cells, CellBeforeAnySheetFails) {
  BiffWriter w;
  w.Bof(xvExcel97, xls_test::BofGlobals).Record(0x0203, ByteWriter(Cell(0, 0)).F64(1)).Eof();
  TXLSWorkbook wb;
  try {
    Load(wb, w);
    FAIL();
  } catch (const std::exception &e) {
    EXPECT_NE(std::string(e.what()).find("\rList index out of bounds (-1)"), std::string::npos) << e.what();
  }
}

TEST(Cells, ShortRecordsFailClearly) {
  EXPECT_EQ(ReadError(BiffWriter().Record(0x027E, Bytes(8, 0))),
            "Record 027E is too short: 8 bytes, 10 needed");
  EXPECT_EQ(ReadError(BiffWriter().Record(0x0006, Bytes(21, 0))),
            "Record 0006 is too short: 21 bytes, 22 needed");
  EXPECT_EQ(ReadError(BiffWriter().Record(0x0204, ByteWriter(Cell(0, 0)).U16(50).U8(0).Text8("short"))),
            "Record 0204 is too short: 14 bytes, 59 needed");
  EXPECT_EQ(ReadError(BiffWriter().Record(0x0208, Bytes(8, 0))), "Bad record in file");
}

TEST(Cells, LongTextsGoOnInContinueRecords) {
  std::u16string text(9000, u'x');
  text[8800] = u'\u4E2D';
  BiffWriter r;
  // BIFF8 LABEL: 8215 characters in the record, the rest after a CONTINUE's option byte.
  ByteWriter first(Cell(0, 0));
  first.U16(9000).U8(0).Fill('x', 8224 - 9);
  r.Record(0x0204, first);
  ByteWriter rest;
  rest.U8(1);
  for (size_t i = 8224 - 9; i < text.size(); ++i)
    rest.U16(text[i]);
  r.Record(0x003C, rest);
  r.Record(0x0203, ByteWriter(Cell(1, 0)).F64(1));
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  EXPECT_TRUE(s.AsString(0, 0) == text); // not printed: 9000 characters
  EXPECT_EQ(s.AsFloat(0, 1), 1);

  BiffWriter missing;
  missing.Record(0x0204, ByteWriter(Cell(0, 0)).U16(10).U8(0).Text8("abc"));
  EXPECT_EQ(ReadError(missing), "Record 0204 is too short: 12 bytes, 19 needed");
}

TEST(Cells, LabelSstReadErrorNamesThePosition) {
  BiffWriter r;
  r.Record(0x00FD, ByteWriter(Cell(0, 0)).U32(5));
  const std::string m = ReadError(r);
  ASSERT_EQ(m.size(), std::string("Read error at 00000000").size()) << m;
  EXPECT_EQ(m.substr(0, 14), "Read error at ");
  EXPECT_EQ(m.find_first_not_of("0123456789", 14), std::string::npos) << m;
}

TEST(Cells, ManyLabelsMixedWithOtherRecordsKeepFileOrder) {
  // More labels than the reader takes ahead, repeating texts, overwriting and overwritten by
  // other records at the same cell: the sheet must look as if each record were stored at once.
  BiffWriter r;
  auto label = [&](uint16_t row, uint16_t col, const std::string &text) {
    r.Record(0x0204, ByteWriter(Cell(row, col)).U16(static_cast<uint16_t>(text.size())).U8(0).Text8(text));
  };
  for (uint16_t row = 0; row < 40; ++row)
    label(row, 0, "t" + std::to_string(row % 25)); // rows 25 to 39 repeat rows 0 to 14
  label(1, 1, "gone");
  r.Record(0x0203, ByteWriter(Cell(1, 1)).F64(7)); // a number replaces the label
  r.Record(0x0203, ByteWriter(Cell(2, 1)).F64(8));
  label(2, 1, "kept"); // a label replaces the number
  label(3, 1, "first");
  label(3, 1, "t3");                        // and a label a label
  for (uint16_t col = 1; col <= 2; ++col) { // cells of a repeated text replaced
    label(4, col, "t4");
    r.Record(0x0203, ByteWriter(Cell(4, col)).F64(9));
  }
  TXLSWorkbook wb;
  TSheet &s = LoadSheet(wb, r);
  for (int row = 0; row < 40; ++row)
    EXPECT_EQ(Text(s, 0, row), "t" + std::to_string(row % 25)) << row;
  EXPECT_EQ(s.AsFloat(1, 1), 7);
  EXPECT_EQ(Text(s, 1, 2), "kept");
  auto entry = [&](int col, int row) { return static_cast<TStringCell *>(s.FindCell(col, row))->Entry(); };
  EXPECT_EQ(entry(0, 3), entry(0, 28));
  EXPECT_EQ(entry(0, 3), entry(1, 3));
  EXPECT_EQ(entry(0, 3)->RefCount, 3);
  EXPECT_EQ(entry(0, 20)->RefCount, 1);
  EXPECT_EQ(entry(0, 4)->RefCount, 4); // the replaced cells left their counts
  EXPECT_EQ(Text(s, 1, 3), "t3");
  // t0 to t24, "kept", and "gone" and "first", whose replaced cells left their counts as they
  // were; every label counts in the total.
  EXPECT_EQ(wb.Sheets().SST().EntryCount(), 28u);
  EXPECT_EQ(wb.Sheets().SST().Total(), 46);
}

TEST(Cells, LabelsJoinEqualStringsOfTheTableAndTheirCellsAreThereWhenProgressIsReported) {
  // The SST holds "a" and "b"; LABELs repeat them, repeat each other and bring new texts.
  auto textOf = [](int row) {
    return row % 3 ? "n" + std::to_string(row % 100) : std::string(row % 2 ? "a" : "b");
  };
  BiffWriter w;
  w.Bof(xvExcel97, xls_test::BofGlobals);
  AddFormats(w);
  w.Record(0x00FC, ByteWriter().U32(2).U32(2).UnicodeString16(u"a").UnicodeString16(u"b"));
  w.Record(0x0085, BoundSheet(u"S")).Eof();
  w.Bof(xvExcel97, xls_test::BofWorksheet);
  w.Record(0x00FD, ByteWriter(Cell(0, 0)).U32(0));
  for (uint16_t row = 1; row < 300; ++row) {
    const std::string text = textOf(row);
    w.Record(0x0204, ByteWriter(Cell(row, 0)).U16(static_cast<uint16_t>(text.size())).U8(0).Text8(text));
  }
  w.Eof();
  TXLSWorkbook wb;
  int reports = 0, rowsSeen = 0;
  wb.OnProgress = [&](int) {
    // Every label read so far has its cell and text, interned or not yet.
    ++reports;
    if (wb.Sheets().Count() == 0)
      return;
    TSheet &sheet = wb.Sheets().Items(0);
    int rows = 0;
    while (sheet.FindCell(0, rows + 1))
      ++rows;
    EXPECT_GE(rows, rowsSeen);
    rowsSeen = rows;
    for (int row = 1; row <= rows; ++row)
      EXPECT_EQ(Text(sheet, 0, row), textOf(row)) << row;
  };
  Load(wb, w);
  EXPECT_GT(reports, 10);
  EXPECT_EQ(rowsSeen, 299);
  TSheet &s = wb.SheetByIndex(0);
  auto entry = [&](int row) { return static_cast<TStringCell *>(s.FindCell(0, row))->Entry(); };
  EXPECT_EQ(entry(3), entry(0));   // "a", from the LABELSST and a LABEL
  EXPECT_EQ(entry(6), entry(12));  // "b"
  EXPECT_EQ(entry(1), entry(101)); // "n1"
  EXPECT_EQ(Text(s, 0, 101), "n1");
  // Rows 3, 9, 15, ... give "a" (50 labels and the LABELSST) and 6, 12, ... give "b" (49).
  EXPECT_EQ(entry(3)->RefCount, 51);
  EXPECT_EQ(entry(6)->RefCount, 49);
  EXPECT_EQ(entry(1)->RefCount, 2);
  EXPECT_EQ(wb.Sheets().SST().EntryCount(), 102u); // "a", "b" and n0 to n99
}

TEST(Cells, LabelsBeforeAFailingRecordAreKept) {
  BiffWriter r;
  for (uint16_t row = 0; row < 10; ++row)
    r.Record(0x0204, ByteWriter(Cell(row, 0)).U16(2).U8(0).Text8("x" + std::to_string(row)));
  r.Record(0x0204, ByteWriter(Cell(10, 0)).U16(50).U8(0).Text8("short"));
  TXLSWorkbook wb;
  try {
    Load(wb, OneSheet(r));
    FAIL() << "no exception";
  } catch (const std::exception &e) {
    // Sixteen globals formats, BOF, BOUNDSHEET, EOF, the sheet's BOF and ten labels come first.
    EXPECT_EQ(std::string(e.what()).rfind("Error on reading record # 30, 0204 ", 0), 0u) << e.what();
  }
  for (int row = 0; row < 10; ++row)
    EXPECT_EQ(Text(wb.SheetByIndex(0), 0, row), "x" + std::to_string(row)) << row;
  EXPECT_EQ(wb.Sheets().SST().EntryCount(), 10u);
}

TEST(Cells, LargeTableSharesItsEntriesWithCellsAndTexts) {
  // Every 500th position from 1000 on repeats the string at position 7. Cells take such
  // positions before and after an RSTRING of the same text; one of them is then replaced; a
  // LABEL repeats a string of the table.
  constexpr uint32_t Count = 20000;
  auto source = [](uint32_t i) { return i >= 1000 && i % 500 == 0 ? 7u : i; };
  auto text = [&](uint32_t i) { return "t" + std::to_string(source(i)); };
  BiffWriter w;
  w.Bof(xvExcel97, xls_test::BofGlobals);
  AddFormats(w);
  ByteWriter body;
  body.U32(Count + 3).U32(Count);
  for (uint32_t i = 0, records = 0; i < Count; ++i) {
    body.UnicodeString16(common::Utf8ToUtf16(text(i)));
    if (body.Data().size() > 8000 || i == Count - 1) {
      w.Record(records++ ? 0x003C : 0x00FC, body.Data());
      body = ByteWriter();
    }
  }
  w.Record(0x0085, BoundSheet(u"S")).Eof();
  w.Bof(xvExcel97, xls_test::BofWorksheet);
  for (uint32_t row = 0; row < Count; ++row)
    w.Record(0x00FD, ByteWriter(Cell(static_cast<uint16_t>(row), 0)).U32(row));
  w.Record(0x00FD, ByteWriter(Cell(0, 1)).U32(1000));
  w.Record(0x00D6, ByteWriter(Cell(1, 1)).U16(2).U8(0).Text8("t7").U16(0));
  w.Record(0x00FD, ByteWriter(Cell(2, 1)).U32(1500));
  w.Record(0x00FD, ByteWriter(Cell(0, 1)).U32(8));
  w.Record(0x0204, ByteWriter(Cell(3, 1)).U16(2).U8(0).Text8("t9")).Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  TSheet &s = wb.SheetByIndex(0);
  auto entry = [&](int col, int row) { return static_cast<TStringCell *>(s.FindCell(col, row))->Entry(); };
  int repeats = 0;
  for (uint32_t row = 0; row < Count; ++row) {
    ASSERT_EQ(Text(s, 0, int(row)), text(row)) << row;
    if (source(row) != row) {
      ++repeats;
      ASSERT_EQ(entry(0, int(row)), entry(0, 7)) << row;
    }
  }
  EXPECT_EQ(entry(1, 1), entry(0, 7));
  EXPECT_EQ(entry(1, 2), entry(0, 7));
  EXPECT_EQ(entry(1, 0), entry(0, 8));
  EXPECT_EQ(entry(1, 3), entry(0, 9));
  // Its own cell, each repeat's interning and cell, the replaced cell (a replaced cell keeps its
  // count), the RSTRING and the cell after it.
  EXPECT_EQ(entry(0, 7)->RefCount, 1 + 2 * repeats + 3);
  EXPECT_EQ(entry(0, 8)->RefCount, 2);
  EXPECT_EQ(entry(0, 9)->RefCount, 2);
  EXPECT_EQ(wb.Sheets().SST().EntryCount(), Count - uint32_t(repeats));
  EXPECT_EQ(wb.Sheets().SST().Total(), int32_t(Count) + 5); // the RSTRING and LABEL texts count
}
