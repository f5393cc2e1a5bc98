#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "cells/formats.h"
#include "cells/sheets.h"
#include "common/exception.h"
#include "xls/xls_stream.h"
#include "xls_test_writer.h"

using namespace xls;
using common::Variant;
using xls_test::ExceptionText;

namespace {

class SheetTest : public ::testing::Test {
protected:
  SheetTest() : Sheets(Fonts, Formats) {
    Fonts.Add();
    Formats.AddDefaults(21);
    Sheets.Settings.DecimalSeparator = '.';
  }

  static void Halves(double v, uint32_t &lo, uint32_t &hi) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    lo = static_cast<uint32_t>(bits);
    hi = static_cast<uint32_t>(bits >> 32);
  }

  TXLSFonts Fonts;
  TCellFormats Formats;
  TSheets Sheets;
};

} // namespace

TEST_F(SheetTest, AccessorsByCellKind) {
  TSheet &s = Sheets.AddSheet();
  const uint8_t expr[] = {0x1E, 0x01, 0x00};
  uint32_t lo, hi;
  s.StoreBlank(0, 0, 15);
  s.StoreFloat(1, 0, 1234.5, 15);
  s.StoreString(2, 0, u"\u0416ack", 15);
  s.StoreBoolean(3, 0, 2, 15);
  s.StoreError(4, 0, ErrorIndexOf(0x2A), 15);
  Halves(2.25, lo, hi);
  s.StoreNumberFormula(5, 0, lo, hi, 3, 3, expr, 15);
  s.StoreStringFormula(6, 0, u"res", 3, 3, expr, 15);
  s.StoreBooleanFormula(7, 0, 0, 3, 3, expr, 15);
  s.StoreErrorFormula(8, 0, 0x07, 3, 3, expr, 15);
  Halves(-8.0, lo, hi);
  const uint8_t arrayBody[] = {0, 0, 0, 0, 9, 9};
  s.StoreArrayFormula(9, 0, 0, 6, arrayBody, lo, hi, 3, 3, expr, 15);
  s.StoreError(10, 0, ErrorIndexOf(0x99), 15);
  s.StoreError(11, 0, 9, 15); // an index the table does not have

  struct Expect {
    int col;
    uint8_t kind;
    std::u16string asString, asText;
    Variant variant;
    double asFloat;
  };
  const Expect rows[] = {
      {0, ckBlank, u"", u"", Variant::FromInt8(0), 0},
      {1, ckFloat, u"", u"1234.5", Variant::FromDouble(1234.5), 1234.5},
      {2, ckString, u"\u0416ack", u"\u0416ack", Variant::FromWide(u"\u0416ack"), 0},
      {3, ckBoolean, u"", u"TRUE", Variant::FromInt8(1), 0},
      {4, ckError, u"", u"#N/A", Variant::FromText("#N/A"), 0},
      {5, ckNumberFormula, u"", u"2.25", Variant::FromDouble(2.25), 2.25},
      {6, ckStringFormula, u"", u"res", Variant::FromWide(u"res"), 0},
      {7, ckBooleanFormula, u"", u"FALSE", Variant::FromInt8(0), 0},
      {8, ckErrorFormula, u"", u"#DIV/0!", Variant::FromText("#DIV/0!"), 0},
      {9, ckArrayFormula, u"", u"-8", Variant::FromDouble(-8), -8},
      {10, ckError, u"", u"[int] No error value", Variant::FromText("[int] No error value"), 0},
      {11, ckError, u"", u"[int] No error value", Variant::FromText("[int] No error value"), 0},
      {12, ckNone, u"", u"", Variant::FromInt8(0), 0}, // missing
  };
  for (const Expect &e : rows) {
    SCOPED_TRACE(e.col);
    EXPECT_EQ(s.CellType(e.col, 0), e.kind);
    EXPECT_EQ(s.AsString(e.col, 0), e.asString);
    EXPECT_EQ(s.AsText(e.col, 0), e.asText);
    EXPECT_EQ(s.AsVariant(e.col, 0), e.variant);
    EXPECT_EQ(s.AsFloat(e.col, 0), e.asFloat);
  }
  EXPECT_EQ(s.AsVariant(0, 0).ToText(), "0");

  // Booleans reach variants as numbers whatever the words; the words change the text only.
  Sheets.Settings.StrTRUE = u"WAHR";
  EXPECT_EQ(s.AsText(3, 0), u"WAHR");
  EXPECT_EQ(s.AsVariant(3, 0), Variant::FromInt8(1));

  // Without a formula decoder, ShowFormulas leaves the cached results; with one it is used.
  Sheets.Settings.ShowFormulas = true;
  EXPECT_EQ(s.AsText(5, 0), u"2.25");
  Sheets.Settings.FormulaText = [](const TFormulaCell &c, int row, int col, int sheet) {
    return u"=" + std::u16string(1, char16_t(u'0' + c.ExprBytes().size())) + u"@" +
           std::u16string(1, char16_t(u'0' + row)) + std::u16string(1, char16_t(u'A' + col)) +
           std::u16string(1, char16_t(u'0' + sheet));
  };
  EXPECT_EQ(s.AsText(5, 0), u"=3@0F0");
  EXPECT_EQ(s.AsText(1, 0), u"1234.5"); // plain cells are unaffected
  EXPECT_EQ(s.AsVariant(5, 0), Variant::FromDouble(2.25));

  // Formula cells copied the caller's bytes.
  const auto *array = CellAs<TArrayFormulaCell>(s.FindCell(9, 0));
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array->ArrayBytes().size(), 6u);
  EXPECT_EQ(array->ExprBytes().size(), 3u);
}

TEST_F(SheetTest, ColumnsWrapAndOutOfRangePositionsAreMissing) {
  TSheet &s = Sheets.AddSheet();
  s.StoreFloat(0, 7, 42, 15);
  EXPECT_EQ(s.AsFloat(256, 7), 42);
  EXPECT_EQ(s.FindCell(256, 7), s.FindCell(0, 7));
  s.StoreFloat(300, 7, 1, 15);
  EXPECT_EQ(s.AsFloat(44, 7), 1);
  EXPECT_EQ(s.CellType(0, 65536), ckNone);
  EXPECT_EQ(s.AsVariant(-1, -1), Variant::FromInt8(0));
  EXPECT_EQ(s.AsText(0, 1 << 30), u"");
  EXPECT_THROW(s.StoreFloat(0, 65536, 1, 15), common::Exception);
}

TEST_F(SheetTest, NumberTexts) {
  TSheet &s = Sheets.AddSheet();
  const double values[] = {1234.5, 0.00001, 100, 1e20, 0.0001, 1e15, 1e14, -0.5, 0};
  const char16_t *texts[] = {u"1234.5",          u"1E-5", u"100", u"1E20", u"0.0001", u"1E15",
                             u"100000000000000", u"-0.5", u"0"};
  for (int i = 0; i < 9; ++i)
    s.StoreFloat(i, 0, values[i], 15);
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(s.AsText(i, 0), texts[i]) << i;

  Sheets.Settings.DecimalSeparator = ',';
  EXPECT_EQ(s.AsText(0, 0), u"1234,5");
  EXPECT_EQ(s.AsText(4, 0), u"0,0001");
}

TEST_F(SheetTest, NumberTextsFollowTheLocaleSeparator) {
  TSheet &s = Sheets.AddSheet();
  s.StoreFloat(0, 0, 1234.5, 15);
  Sheets.Settings.DecimalSeparator = 0;
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
    GTEST_SKIP() << "no comma locale installed";
  EXPECT_EQ(s.AsText(0, 0), u"1234,5");
  std::setlocale(LC_NUMERIC, "C");
}

TEST_F(SheetTest, StoreReplacesAndKeepsTheFormat) {
  TSheet &s = Sheets.AddSheet();
  s.StoreFloat(1, 1, 3.5, 20);
  s.StoreBlank(1, 1, 0);
  EXPECT_EQ(s.CellType(1, 1), ckBlank);
  EXPECT_EQ(s.FindCell(1, 1)->XF(), 20);
  // XF beyond the list reads format 15.
  s.StoreFloat(2, 1, 1, 300);
  EXPECT_EQ(s.FindCell(2, 1)->XF(), 15);
}

TEST_F(SheetTest, StringCellsCountTheirReferences) {
  using xls_test::BiffWriter;
  using xls_test::ByteWriter;
  ByteWriter strings;
  for (const char16_t *t : {u"a", u"b", u"c", u"same", u"d", u"e", u"f", u"same"})
    strings.UnicodeString16(t);
  BiffWriter w;
  w.Bof(xvExcel97, xls_test::BofGlobals).Record(0x00FC, ByteWriter().U32(8).U32(8).Raw(strings)).Eof();
  TXLSStream stream;
  stream.SetSourceStream(xls_test::MakeCompoundFile(w.Data()));
  stream.OpenWorkbook(u"");
  uint8_t h[4];
  std::vector<uint8_t> bof(16);
  stream.ReadHeader(h);
  stream.ReadData(bof.data(), h[2]);
  stream.ReadHeader(h);
  Sheets.ReadSST(stream, h[2] | h[3] << 8);

  TSheet &s = Sheets.AddSheet();
  SSTEntry *same = Sheets.SST().EntryByIndex(3);
  EXPECT_EQ(same->RefCount, 1);
  s.StoreSSTString(0, 0, 3, 15);
  s.StoreSSTString(0, 1, 7, 15);
  EXPECT_EQ(same->RefCount, 3);
  EXPECT_EQ(s.AsString(0, 1), u"same");
  EXPECT_EQ(ExceptionText([&] { s.StoreSSTString(0, 2, 8, 15); }), "List index out of bounds (8)");
  EXPECT_EQ(s.CellType(0, 2), ckNone);

  // A LABEL text of characters up to 255 is an 8-bit entry that reads back unchanged.
  std::u16string latin = u"\u00e9t\u00e9 \u00ff\u0080";
  s.StoreString(1, 0, latin, 15);
  const auto *cell = CellAs<TStringCell>(s.FindCell(1, 0));
  ASSERT_NE(cell, nullptr);
  EXPECT_FALSE(cell->Entry()->Wide());
  EXPECT_EQ(s.AsString(1, 0), latin);
  EXPECT_EQ(s.AsVariant(1, 0), Variant::FromWide(latin));

  s.DeleteCell(0, 0);
  EXPECT_EQ(same->RefCount, 2);
  s.DeleteCell(0, 0); // nothing there any more
  s.DeleteCell(1, 0);
  size_t before = Sheets.SST().EntryCount();
  s.StoreString(2, 0, u"only once", 15);
  EXPECT_EQ(Sheets.SST().EntryCount(), before + 1);
  s.DeleteCell(2, 0);
  EXPECT_EQ(Sheets.SST().EntryCount(), before);

  s.AfterRead();
  EXPECT_THROW(Sheets.SST().EntryByIndex(0), common::Exception);
  EXPECT_EQ(s.AsString(0, 1), u"same"); // cells hold their entries directly
}

TEST_F(SheetTest, RowsFromRecordsSorted) {
  TSheet &s = Sheets.AddSheet();
  auto row = [](uint16_t r, uint16_t options, uint16_t xf) {
    return xls_test::ByteWriter().U16(r).U16(0).U16(3).U16(300).U32(0).U16(options).U16(xf).Data();
  };
  for (auto body : {row(3, 0x80, 0xF017), row(0, 0, 22), row(1, 0, 0), row(3, 0, 0)})
    s.Rows.AddRow(body.data(), static_cast<int>(body.size()));
  EXPECT_EQ(s.Rows.Count(), 4);
  EXPECT_EQ(s.Rows.Items(0).XF, 0x017);
  EXPECT_EQ(s.Rows.Items(0).Height, 300);
  EXPECT_EQ(s.Rows.Items(0).LastCol, 3);
  EXPECT_EQ(s.Rows.Items(1).XF, 15);
  uint8_t shortBody[10] = {};
  EXPECT_THROW(s.Rows.AddRow(shortBody, 10), common::Exception);

  s.AfterRead();
  const int sorted[] = {0, 1, 3, 3};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(s.Rows.Items(i).Row, sorted[i]);
  EXPECT_THROW(s.Rows.Items(4), common::Exception);
}

TEST_F(SheetTest, NamesAndTheCollection) {
  TSheet &first = Sheets.AddSheet();
  TSheet &second = Sheets.AddSheet(1);
  EXPECT_EQ(first.Name(), u"Sheet1");
  EXPECT_EQ(second.Name(), u"Sheet2");
  EXPECT_EQ(second.Kind(), 1);
  EXPECT_EQ(second.Index(), 1);

  first.SetName(u"\u00c4pfel");
  EXPECT_EQ(ExceptionText([&] { second.SetName(u"\u00e4PFEL"); }),
            "Sheet name \"\u00e4PFEL\" allready exists");
  EXPECT_EQ(second.Name(), u"Sheet2");
  first.SetName(u"\u00e4pfel"); // its own name, compared the same way: unchanged
  EXPECT_EQ(first.Name(), u"\u00c4pfel");
  EXPECT_EQ(ExceptionText([&] { Sheets.Items(2); }), "List index out of bounds (2)");

  first.StoreString(0, 0, u"gone", 15);
  Sheets.ClearSheets();
  EXPECT_EQ(Sheets.Count(), 0);
  EXPECT_EQ(Sheets.SST().EntryCount(), 0u);
  EXPECT_EQ(Sheets.AddSheet().Name(), u"Sheet3"); // numbering goes on
}
