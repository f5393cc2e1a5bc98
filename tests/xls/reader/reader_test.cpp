// The record loop, the workbook globals and the workbook component, on exact record streams.

#include <gtest/gtest.h>

#include "book.h"
#include "xls/xls_reader.h"

using namespace xls;
using namespace reader_test;
using xls_test::BofChart;
using xls_test::BofGlobals;
using xls_test::BofWorksheet;

namespace {

std::string ReadError(TXLSWorkbook &wb, const Bytes &stream, TExcelVersion version = xvExcel97) {
  try {
    Load(wb, stream, version);
  } catch (const std::exception &e) {
    return e.what();
  }
  return "(no exception)";
}

// The inner message after the record loop's prefix and its carriage return.
std::string Inner(const std::string &message) {
  const size_t cr = message.find('\r');
  return cr == std::string::npos ? message : message.substr(cr + 1);
}

BiffWriter Number(uint16_t row, uint16_t col, double v) {
  BiffWriter w;
  w.Record(0x0203, ByteWriter(Cell(row, col)).F64(v));
  return w;
}

} // namespace

TEST(Workbook, NewWorkbookDefaults) {
  TXLSWorkbook wb;
  EXPECT_EQ(wb.Version(), xvExcel97);
  EXPECT_EQ(wb.MaxRecordSize(), 8224);
  ASSERT_EQ(wb.Sheets().Count(), 1);
  EXPECT_EQ(wb.StrTRUE(), u"TRUE");
  EXPECT_EQ(wb.StrFALSE(), u"FALSE");
  EXPECT_EQ(TXLSWorkbook::ComponentVersion(), "3.00.02");
  EXPECT_EQ(wb.Workbook().Left(), 100);
  EXPECT_EQ(wb.Workbook().Width(), 10000);
  EXPECT_TRUE(wb.Workbook().HasOption(woTabs));
  EXPECT_FALSE(wb.Workbook().HasOption(woHidden));
  EXPECT_EQ(wb.OptionsDialog().CalcMode, cmAutomatic);
  EXPECT_TRUE(wb.PreserveMacros);
  EXPECT_NE(wb.Font(), nullptr);
  EXPECT_EQ(wb.DefaultFormat(), 15);
  EXPECT_THROW(wb.SheetByIndex(1), common::Exception);
  wb.SetVersion(xvExcel50);
  EXPECT_EQ(wb.MaxRecordSize(), 2080);
}

TEST(Workbook, RecomendReadOnlyFollowsFileSharing) {
  TXLSWorkbook wb;
  EXPECT_FALSE(wb.RecomendReadOnly());
  wb.SetRecomendReadOnly(true);
  EXPECT_EQ(wb.FileSharing, (std::vector<uint8_t>{1, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(wb.RecomendReadOnly());
  wb.SetRecomendReadOnly(false);
  EXPECT_TRUE(wb.FileSharing.empty());
}

TEST(Workbook, ThreeSheetsInOrderAndNothingReadAfterTheLastEof) {
  BiffWriter w = Globals({u"One", u"Two", u"Three"});
  for (int i = 0; i < 3; ++i)
    w.Bof(xvExcel97, BofWorksheet).Raw(Number(0, 0, i + 1).Data()).Eof();
  // Garbage after the third sheet would fail the read if it were looked at.
  w.RawHeader(0xFFFF, 2).Raw({1, 2});
  TXLSWorkbook wb;
  Load(wb, w);
  ASSERT_EQ(wb.Sheets().Count(), 3);
  EXPECT_EQ(wb.SheetByIndex(0).Name(), u"One");
  EXPECT_EQ(wb.SheetByIndex(2).Name(), u"Three");
  EXPECT_EQ(wb.SheetByIndex(2).AsFloat(0, 0), 3);
  EXPECT_EQ(wb.Version(), xvExcel97);
}

TEST(Workbook, SheetBofWithoutBoundSheetFails) {
  BiffWriter w = Globals({u"Only"});
  w.Bof(xvExcel97, BofWorksheet).Record(0x0208, Bytes(16, 0)); // no EOF: a second BOF follows
  w.Bof(xvExcel97, BofWorksheet).Eof();
  TXLSWorkbook wb;
  EXPECT_EQ(Inner(ReadError(wb, w)), "List index out of bounds (1)");
}

TEST(Workbook, NoSheetsLeavesOneEmptyWorksheet) {
  TXLSWorkbook wb;
  Load(wb, Globals({}));
  ASSERT_EQ(wb.Sheets().Count(), 1);
  EXPECT_EQ(wb.SheetByIndex(0).CellType(0, 0), 0);
}

TEST(Workbook, FailureInSecondSheetKeepsTheFirst) {
  BiffWriter w = Globals({u"A", u"B"});
  w.Bof(xvExcel97, BofWorksheet);
  w.Record(0x0208, ByteWriter().U16(5).Fill(0, 14));
  w.Record(0x0208, ByteWriter().U16(1).Fill(0, 14));
  w.Raw(Number(0, 0, 42).Data()).Eof();
  w.Bof(xvExcel97, BofWorksheet).Raw(Number(0, 0, 1).Data());
  w.Record(0x0203, {1, 2, 3}); // a NUMBER too short for its fields
  w.Eof();
  TXLSWorkbook wb;
  const std::string message = ReadError(wb, w);
  EXPECT_EQ(message.rfind("Error on reading record # ", 0), 0u) << message;
  EXPECT_NE(message.find(", 0203 Offs: "), std::string::npos) << message;
  EXPECT_EQ(Inner(message), "Record 0203 is too short: 3 bytes, 14 needed");
  ASSERT_EQ(wb.Sheets().Count(), 2);
  EXPECT_EQ(wb.SheetByIndex(0).AsFloat(0, 0), 42);
  // AfterRead has not run: rows stay in file order.
  EXPECT_EQ(wb.SheetByIndex(0).Rows.Items(0).Row, 5);
  // A later read starts afresh.
  Load(wb, OneSheet(Number(3, 3, 7)));
  ASSERT_EQ(wb.Sheets().Count(), 1);
  EXPECT_EQ(wb.SheetByIndex(0).AsFloat(3, 3), 7);
}

TEST(Workbook, CalcModeAndOtherSettingsOfTheFirstSheet) {
  BiffWriter records;
  records.Record(0x000D, ByteWriter().U16(0xFFFF));
  records.Record(0x000C, ByteWriter().U16(7));
  records.Record(0x000F, ByteWriter().U16(0));
  records.Record(0x0011, ByteWriter().U16(1));
  TXLSWorkbook wb;
  Load(wb, OneSheet(records));
  EXPECT_EQ(wb.OptionsDialog().CalcMode, cmAutoExTables);
  EXPECT_EQ(wb.OptionsDialog().CalcCount, 7);
  EXPECT_TRUE(wb.OptionsDialog().R1C1Mode);
  EXPECT_TRUE(wb.OptionsDialog().Iteration);
  EXPECT_TRUE(wb.OptionsDialog().SaveRecalc);
}

TEST(Reader, OversizedRecordIsSkippedUncounted) {
  BiffWriter sheet;
  sheet.Record(0x1234, Bytes(3000, 0xFF)); // longer than BIFF5 allows
  sheet.Raw(Number(0, 0, 5).Data());
  sheet.Record(0x9000, {});
  TXLSWorkbook wb;
  const std::string message = ReadError(wb, OneSheet(sheet, xvExcel50), xvExcel50);
  EXPECT_EQ(wb.Version(), xvExcel50);
  EXPECT_EQ(wb.MaxRecordSize(), 2080);
  // globals BOF, 16 XF, BOUNDSHEET, EOF, sheet BOF, NUMBER: the bad record is number 21.
  EXPECT_EQ(message.substr(0, message.find(" Offs")), "Error on reading record # 21, 9000");
  EXPECT_EQ(Inner(message), "Bad record in file");
  EXPECT_EQ(wb.SheetByIndex(0).AsFloat(0, 0), 5);
}

TEST(Reader, UserViewsAreNeitherHandledNorKept) {
  BiffWriter w;
  w.Bof(xvExcel97, BofGlobals);
  w.Record(0x01AA, Bytes(10, 0));
  w.Record(0x0085, BoundSheet(u"Ghost")); // would add a sheet name if handled
  w.Record(0x0042, {1, 2});               // would be put or kept if handled
  w.Record(0x01AB, {});
  w.Record(0x0085, BoundSheet(u"Real")).Eof();
  w.Bof(xvExcel97, BofWorksheet).Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  EXPECT_EQ(wb.SheetByIndex(0).Name(), u"Real");
  EXPECT_EQ(wb.GlobalsStorage().CodePage(), 1200);
  for (int i = 0; i < wb.GlobalsStorage().Count(); ++i)
    EXPECT_NE(wb.GlobalsStorage().Items(i).Id, 0x01AA);
}

TEST(Reader, UnknownRecordsAreKeptRawInFileOrder) {
  BiffWriter sheet;
  sheet.Record(0x0063, {1, 0}).Record(0x00DD, {0, 0});
  TXLSWorkbook wb;
  Load(wb, OneSheet(sheet));
  const TRecordStorageSheet &s = wb.SheetExtras(0).Records;
  // BOF slot, the two raw records, then EOF with the defaults before it.
  EXPECT_EQ(s.Items(0).Id, 0x0809);
  EXPECT_EQ(s.Items(1).Id, 0x0063);
  EXPECT_EQ(s.Items(2).Id, 0x00DD);
  EXPECT_EQ(s.Items(s.Count() - 1).Id, 0x000A);
  EXPECT_EQ(s.DefaultCount(), 0);
}

TEST(Reader, FourFontsGiveFive) {
  BiffWriter w;
  w.Bof(xvExcel97, BofGlobals);
  for (int i = 0; i < 4; ++i)
    w.Record(
        0x0031,
        ByteWriter().U16(200).U16(0x0002).U16(0x7FFF).U16(700).U16(0).U8(1).U8(2).U8(0).U8(0).UnicodeString8(
            u"Arial"));
  w.Record(0x0031,
           ByteWriter().U16(240).U16(0).U16(10).U16(400).U16(0).Fill(0, 4).UnicodeString8(u"Tahoma", true));
  w.Record(0x0085, BoundSheet(u"S")).Eof();
  w.Bof(xvExcel97, BofWorksheet).Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  ASSERT_EQ(wb.Fonts().Count(), 6);
  const TXLSFont &f = wb.Fonts().Items(0);
  EXPECT_EQ(f.Name, u"Arial");
  EXPECT_TRUE(f.Bold);
  EXPECT_TRUE(f.Italic);
  EXPECT_EQ(f.ColorIndex, 0); // 0x7FFF (automatic) is out of the palette
  EXPECT_EQ(f.Underline, 1);
  EXPECT_EQ(wb.Fonts().Items(5).Name, u"Tahoma");
  EXPECT_EQ(wb.Fonts().Items(5).ColorIndex, 10);
  EXPECT_EQ(wb.Font(), &wb.Fonts().Items(0));
}

TEST(Reader, FormatsAndPaletteAndCodePage) {
  BiffWriter w;
  w.Bof(xvExcel50, BofGlobals);
  w.Record(0x0042, ByteWriter().U16(1251));
  w.Record(0x041E, ByteWriter().U16(164).U8(3).Raw({0xC4, 0x30, 0x30})); // "Д00" in Windows-1251
  w.Record(0x0092, ByteWriter().U16(1).U32(0x00112233));
  w.Record(0x0085, Append(ByteWriter().U32(0).U8(0).U8(0).U8(2), Bytes{0xC0, 0xC1})); // "АБ"
  w.Eof();
  w.Bof(xvExcel50, BofWorksheet).Eof();
  TXLSWorkbook wb;
  Load(wb, w, xvExcel50);
  ASSERT_NE(wb.NumberFormats().Find(164), nullptr);
  EXPECT_EQ(*wb.NumberFormats().Find(164), u"\u041400");
  EXPECT_EQ(wb.SheetByIndex(0).Name(), u"\u0410\u0411");
  EXPECT_EQ(ColorTable()[8], 0x00112233u);
  // A new workbook resets the process-wide colours.
  TXLSWorkbook other;
  EXPECT_EQ(ColorTable()[8], 0u);
}

TEST(Reader, EmbeddedChartKeepsSheetOrdinals) {
  BiffWriter w = Globals({u"First", u"Chart", u"Second"});
  w.Bof(xvExcel97, BofWorksheet).Raw(Number(0, 0, 1).Data());
  // An embedded chart, with a nested substream and a record id ending in 09 that is no BOF.
  w.Bof(xvExcel97, BofChart).Record(0x1009, Bytes(12, 0)).Bof(xvExcel97, BofChart).Eof().Eof();
  w.Raw(Number(1, 0, 2).Data()).Eof();
  // A chart sheet with a record longer than BIFF8 allows, which is skipped, not kept.
  w.Bof(xvExcel97, BofChart).Record(0x1002, Bytes(16, 0)).Record(0x1003, Bytes(9000, 0)).Eof();
  w.Bof(xvExcel97, BofWorksheet).Raw(Number(0, 0, 3).Data()).Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  ASSERT_EQ(wb.Sheets().Count(), 2);
  EXPECT_EQ(wb.SheetByIndex(0).Name(), u"First");
  EXPECT_EQ(wb.SheetByIndex(0).AsFloat(0, 1), 2);
  EXPECT_EQ(wb.SheetByIndex(1).Name(), u"Second");
  EXPECT_EQ(wb.SheetByIndex(1).AsFloat(0, 0), 3);
  ASSERT_EQ(wb.Charts().size(), 1u);
  EXPECT_EQ(wb.Charts()[0]->Name, u"Chart");
  EXPECT_EQ(wb.Charts()[0]->Records.size(), 3u); // BOF, 1002, EOF
  ASSERT_EQ(wb.SheetExtras(0).Periphery.Charts.size(), 1u);
  EXPECT_EQ(wb.SheetExtras(0).Periphery.Charts[0]->Records.size(), 5u); // both substreams whole
}

TEST(Reader, PeripheryConsumesItsOwnRecords) {
  BiffWriter s;
  s.Record(0x00E5, ByteWriter().U16(1).U16(0).U16(1).U16(0).U16(2));
  s.Record(0x007D, ByteWriter().U16(2).U16(3).U16(4000).U16(15).U16(0).U16(0));
  s.Record(0x0014, ByteWriter().UnicodeString16(u"Head"));
  s.Record(0x0026, ByteWriter().F64(0.5));
  s.Record(0x0041, Bytes(10, 0));
  s.Record(0x001D, ByteWriter().U8(3).U16(4).U16(2).U16(0).U16(1).U16(4).U16(4).U8(2).U8(2));
  s.Record(0x001D, ByteWriter().U8(2).U16(0).U16(0).U16(0).U16(1).U16(0).U16(0).U8(0).U8(0));
  s.Record(0x01B0, ByteWriter().U16(1).Fill(0, 18)).Record(0x01B1, Bytes(12, 0));
  s.Record(0x00EC, Bytes(40, 0xAB));
  s.Record(0x001C, ByteWriter().U16(1).U16(1).U16(0).U16(7).UnicodeString16(u"Ann").U8(0));
  s.Record(0x0867, Append(Bytes(19, 0), {0x01, 0x80}));
  s.Raw(Number(9, 9, 9).Data());
  TXLSWorkbook wb;
  Load(wb, OneSheet(s));
  const TSheetPeriphery &p = wb.SheetExtras(0).Periphery;
  ASSERT_EQ(p.MergedCells.size(), 1u);
  EXPECT_EQ(p.MergedCells[0].Col2, 2);
  EXPECT_EQ(p.Columns[3].Width, 4000);
  EXPECT_FALSE(p.Columns[4].Assigned);
  EXPECT_EQ(p.Print.Header, u"Head");
  EXPECT_EQ(p.Print.Margins[0], 0.5);
  ASSERT_EQ(p.Selections.size(), 2u); // both taken by PANE
  EXPECT_EQ(p.Selections[0].ActiveRow, 4);
  EXPECT_EQ(p.ConditionalFormats.size(), 2u);
  ASSERT_EQ(p.Drawing.Drawings.size(), 1u);
  EXPECT_EQ(p.Drawing.Drawings[0].size(), 40u);
  ASSERT_EQ(p.Drawing.Notes.size(), 1u);
  EXPECT_EQ(p.Drawing.Notes[0].Author, u"Ann");
  EXPECT_EQ(p.Protection, 1);
  EXPECT_EQ(wb.SheetByIndex(0).AsFloat(9, 9), 9);
}

TEST(Reader, ShortRecordsTheCellsDoNotNeedAreKeptAndTheReadGoesOn) {
  BiffWriter w;
  w.Bof(xvExcel97, BofGlobals);
  AddFormats(w);
  // Says 5 characters and holds 4.
  w.Record(0x041E, ByteWriter().U16(164).U16(5).U8(0).Text8("0.00"));
  w.Record(0x0085, BoundSheet(u"S")).Eof();
  w.Bof(xvExcel97, BofWorksheet);
  w.Record(0x0867, Bytes(19, 0x67));               // no room for the protection flags
  w.Record(0x0014, ByteWriter().U16(0));           // an empty header without its option byte
  w.Record(0x0204, ByteWriter(Cell(0, 1)).U16(0)); // an empty label without its option byte
  w.Raw(Number(1, 0, 7).Data()).Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  ASSERT_NE(wb.NumberFormats().Find(164), nullptr);
  EXPECT_EQ(*wb.NumberFormats().Find(164), u"0.00");
  const TSheetPeriphery &p = wb.SheetExtras(0).Periphery;
  EXPECT_EQ(p.Protection, 0);
  EXPECT_EQ(p.Print.Header, u"");
  const TRecordStorageSheet &raw = wb.SheetExtras(0).Records;
  EXPECT_EQ(raw.Items(1).Id, 0x0867);
  EXPECT_EQ(raw.Items(1).Body, Bytes(19, 0x67));
  TSheet &sheet = wb.SheetByIndex(0);
  EXPECT_EQ(sheet.CellType(1, 0), ckString);
  EXPECT_EQ(sheet.AsString(1, 0), u"");
  EXPECT_EQ(sheet.AsFloat(0, 1), 7);

  // A cell record cut short still ends the read.
  BiffWriter cut;
  cut.Record(0x0203, ByteWriter(Cell(0, 0)).U32(0));
  TXLSWorkbook failed;
  EXPECT_EQ(Inner(ReadError(failed, OneSheet(cut))), "Record 0203 is too short: 10 bytes, 14 needed");
  BiffWriter label;
  label.Record(0x0204, ByteWriter(Cell(0, 0)).U16(2).U8(0).Text8("a"));
  EXPECT_EQ(Inner(ReadError(failed, OneSheet(label))), "Record 0204 is too short: 10 bytes, 11 needed");
}

TEST(Reader, ProgressIsReportedInGrowingWholePercentages) {
  BiffWriter s;
  for (int i = 0; i < 200; ++i)
    s.Raw(Number(i, 0, i).Data());
  TXLSWorkbook wb;
  std::vector<int> seen;
  wb.OnProgress = [&](int v) { seen.push_back(v); };
  Load(wb, OneSheet(s));
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  for (size_t i = 1; i + 1 < seen.size(); ++i)
    EXPECT_LT(seen[i - 1], seen[i]);
}

// ---------------------------------------------------------------------------------------------
// Encryption

namespace {

Bytes EncryptedBook(const std::u16string &password) {
  BiffWriter w = Globals({u"Secret"});
  w.Bof(xvExcel97, BofWorksheet).Raw(Number(2, 1, 12.5).Data()).Eof();
  return xls_test::EncryptBiff8(w.Data(), password);
}

} // namespace

TEST(Encryption, PasswordRequiredMissingOrWrong) {
  const Bytes book = EncryptedBook(u"secret");
  TXLSWorkbook wb;
  EXPECT_EQ(Inner(ReadError(wb, book)), "File is encrypted. Password required.");
  wb.Password = u"wrong";
  EXPECT_EQ(Inner(ReadError(wb, book)), "Invalid password");
  wb.Password.clear();
  wb.OnPassword = [](std::u16string &p) { p.clear(); };
  EXPECT_EQ(Inner(ReadError(wb, book)), "Password is missing.");
}

TEST(Encryption, PasswordGivenOrAskedFor) {
  const Bytes book = EncryptedBook(u"secret");
  TXLSWorkbook wb;
  wb.Password = u"secret";
  Load(wb, book);
  EXPECT_EQ(wb.SheetByIndex(0).AsFloat(1, 2), 12.5);

  TXLSWorkbook asked;
  int calls = 0;
  asked.OnPassword = [&](std::u16string &p) {
    ++calls;
    p = u"secret";
  };
  Load(asked, book);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(asked.SheetByIndex(0).AsFloat(1, 2), 12.5);
  EXPECT_TRUE(asked.Password.empty());
}

TEST(Encryption, DefaultPasswordOpensWithoutAsking) {
  TXLSWorkbook wb;
  int calls = 0;
  wb.OnPassword = [&](std::u16string &) { ++calls; };
  Load(wb, EncryptedBook(u"VelvetSweatshop"));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(wb.SheetByIndex(0).AsFloat(1, 2), 12.5);
}

TEST(Encryption, CryptoApiAndXorObfuscatedWorkbooks) {
  using xls_test::CipherScheme;
  for (const CipherScheme scheme : {CipherScheme::CryptoApi, CipherScheme::CryptoApi40, CipherScheme::Xor}) {
    for (const TExcelVersion version : {xvExcel97, xvExcel50}) {
      if (version == xvExcel50 && scheme != CipherScheme::Xor)
        continue;
      SCOPED_TRACE(static_cast<int>(scheme) * 10 + version);
      BiffWriter w = Globals({u"Secret"}, version);
      w.Bof(version, BofWorksheet).Raw(Number(2, 1, 12.5).Data()).Eof();
      const Bytes book = xls_test::EncryptStream(w.Data(), u"open sesame", scheme, version == xvExcel97);
      TXLSWorkbook wb;
      wb.Password = u"open sesame";
      Load(wb, book, version);
      EXPECT_EQ(wb.SheetByIndex(0).Name(), u"Secret");
      EXPECT_EQ(wb.SheetByIndex(0).AsFloat(1, 2), 12.5);
      TXLSWorkbook wrong;
      wrong.Password = u"open sesamE";
      EXPECT_EQ(Inner(ReadError(wrong, book, version)), "Invalid password");
      TXLSWorkbook none;
      EXPECT_EQ(Inner(ReadError(none, book, version)), "File is encrypted. Password required.");
      // Only write-protected: the default password opens it without asking.
      TXLSWorkbook protectedOnly;
      Load(protectedOnly, xls_test::EncryptStream(w.Data(), u"VelvetSweatshop", scheme, version == xvExcel97),
           version);
      EXPECT_EQ(protectedOnly.SheetByIndex(0).AsFloat(1, 2), 12.5);
    }
  }
}

TEST(Encryption, UnsupportedTypes) {
  for (const Bytes &filePass : {Bytes{2, 0, 0, 0}, Bytes{1, 0, 2, 0, 1, 0}, Bytes{1, 0}}) {
    BiffWriter w;
    w.Bof(xvExcel97, BofGlobals).Record(0x002F, filePass).Eof();
    TXLSWorkbook wb;
    EXPECT_EQ(Inner(ReadError(wb, w)), "Can not read file, unknown type of encryption.");
  }
}

// ---------------------------------------------------------------------------------------------
// Plain BIFF2-4 files

TEST(Reader, PlainBiff2File) {
  BiffWriter w;
  w.Bof(xvExcel21, BofWorksheet);
  w.Record(0x0002, ByteWriter().U16(0).U16(0).Fill(0, 3).U16(77));
  w.Record(0x0004, ByteWriter().U16(1).U16(0).Fill(0, 3).U8(3).Text8("abc"));
  w.Record(0x0042, ByteWriter().U16(1251));
  w.Record(0x0004, ByteWriter().U16(4).U16(0).Fill(0, 3).U8(2).U8('a').U8(0xC0)); // Cyrillic A
  w.Record(0x0005, ByteWriter().U16(2).U16(0).Fill(0, 3).U8(1).U8(0));
  // A formula with a boolean result.
  w.Record(
      0x0006,
      ByteWriter().U16(3).U16(0).Fill(0, 3).U8(1).U8(0).U8(1).Fill(0, 3).U16(0xFFFF).U8(0).U8(1).U8(0x1D));
  w.Eof();
  w.Raw(Number(0, 0, 1).Data()); // after the first EOF nothing is read
  const std::string path = xls_test::TempPath("plain2.xls");
  xls_test::WriteFile(path, w);
  TXLSWorkbook wb;
  wb.Filename = common::Utf8ToUtf16(path);
  wb.Read();
  EXPECT_EQ(wb.Version(), xvExcel21);
  TSheet &s = wb.SheetByIndex(0);
  EXPECT_EQ(s.Name(), u"Sheet1");
  EXPECT_EQ(s.AsFloat(0, 0), 77);
  EXPECT_EQ(s.AsString(0, 1), u"abc");
  EXPECT_EQ(s.AsString(0, 4), u"a\u0410");
  EXPECT_EQ(Text(s, 0, 2), "TRUE");
  EXPECT_EQ(s.CellType(0, 3), ckBooleanFormula);
  std::remove(path.c_str());
}

TEST(Reader, MissingFileKeepsItsMessage) {
  TXLSWorkbook wb;
  wb.Filename = u"/nonexistent/book.xls";
  try {
    wb.Read();
    FAIL();
  } catch (const common::Exception &e) {
    EXPECT_EQ(std::string(e.what()).find("Error on reading"), std::string::npos) << e.what();
  }
  EXPECT_EQ(wb.Sheets().Count(), 1);
}

// ---------------------------------------------------------------------------------------------
// More globals records

TEST(Reader, GlobalsDefaultsAndMarkersInFileOrder) {
  BiffWriter w;
  w.Bof(xvExcel50, BofGlobals);
  w.Record(0x005C, ByteWriter().U8(3).Text8("Bob").Fill(0x20, 28)); // BIFF5 WRITEACCESS
  w.Record(0x0013, {0x34, 0x12});
  w.Record(0x00DA, {1, 0});
  AddFormats(w, xvExcel50);
  w.Record(0x0085, BoundSheet(u"S", xvExcel50));
  w.Record(0x0059, ByteWriter().U16(2)); // XCT with two CRN records
  w.Record(0x005A, {1, 2, 3});
  w.Record(0x005A, {4});
  w.Eof();
  w.Bof(xvExcel50, BofWorksheet).Record(0x0013, {0, 0}).Eof();
  TXLSWorkbook wb;
  Load(wb, w, xvExcel50);
  EXPECT_EQ(wb.UserName(), u"Bob");
  const TRecordStorageGlobals &g = wb.GlobalsStorage();
  EXPECT_EQ(g.FindSlot(0x005C)->Body.size(), 112u);
  EXPECT_EQ(g.FindSlot(0x0013)->Body[1], 0x12);
  // BOOKBOOL and its marker come before the sheet list's marker.
  std::vector<uint16_t> ids;
  for (int i = 0; i < g.Count(); ++i)
    ids.push_back(g.Items(i).Id);
  const auto at = [&](uint16_t id) { return std::find(ids.begin(), ids.end(), id) - ids.begin(); };
  EXPECT_EQ(at(0x8001), at(0x00DA) + 1);
  EXPECT_EQ(at(0x8002), at(0x8001) + 1);
  EXPECT_EQ(wb.FormulaTables().Crns.size(), 2u);
  // PASSWORD inside a sheet is kept raw there.
  const TRecordStorageSheet &s = wb.SheetExtras(0).Records;
  EXPECT_EQ(s.Items(1).Id, 0x0013);
}

TEST(Reader, GlobalsFailures) {
  TXLSWorkbook wb;
  BiffWriter crn;
  crn.Bof(xvExcel97, BofGlobals).Record(0x0059, ByteWriter().U16(2).U16(0)).Record(0x005A, {1}).Eof();
  EXPECT_EQ(Inner(ReadError(wb, crn)), "CRN record missing");
  BiffWriter big;
  big.Record(0x0809, ByteWriter().U16(0x0600).U16(BofGlobals).Fill(0, 300));
  EXPECT_EQ(Inner(ReadError(wb, big)), "Invalid BOF size");
  BiffWriter workspace;
  workspace.Bof(xvExcel97, 0x0100);
  EXPECT_EQ(Inner(ReadError(wb, workspace)), "BIFF4 Workbook unhandled");
  // Failures before the record loop keep their own message.
  try {
    wb.LoadFromStream(xls_test::MakeCompoundFile(Globals({}), u"Other"));
    FAIL();
  } catch (const std::exception &e) {
    EXPECT_STREQ(e.what(), "The file is not an Excel workbook");
  }
}

TEST(Reader, SstBodyBeyondItsStringsIsSkipped) {
  BiffWriter w;
  w.Bof(xvExcel97, BofGlobals);
  AddFormats(w);
  // One string stated, but the body holds a second one that must not be taken for a header.
  w.Record(0x00FC, ByteWriter().U32(1).U32(1).UnicodeString16(u"one").UnicodeString16(u"\u8000\u8000"));
  w.Record(0x0085, BoundSheet(u"S")).Eof();
  w.Bof(xvExcel97, BofWorksheet).Record(0x00FD, ByteWriter(Cell(0, 0)).U32(0)).Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  EXPECT_EQ(wb.SheetByIndex(0).AsString(0, 0), u"one");
}

TEST(Reader, DrawingGroupAcrossContinueRecords) {
  // A drawing-group container of 8224 + 100 bytes: one full record and one CONTINUE.
  Bytes group = ByteWriter().U16(0x000F).U16(0xF000).U32(8224 + 100 - 8).Fill(0x11, 8224 - 8);
  BiffWriter w;
  w.Bof(xvExcel97, BofGlobals);
  AddFormats(w);
  w.Record(0x00EB, group).Record(0x003C, Bytes(100, 0x22));
  w.Record(0x0085, BoundSheet(u"S")).Eof();
  w.Bof(xvExcel97, BofWorksheet).Raw(Number(0, 0, 1).Data()).Eof();
  TXLSWorkbook wb;
  Load(wb, w);
  ASSERT_EQ(wb.MSOPictures().Data.size(), 8324u);
  EXPECT_EQ(wb.MSOPictures().Data.back(), 0x22);
  EXPECT_EQ(wb.SheetByIndex(0).AsFloat(0, 0), 1);
}

TEST(Reader, PlainBiff4FileWithIndex) {
  BiffWriter w;
  w.Bof(xvExcel40, BofWorksheet);
  w.Record(0x020B, Bytes(16, 0)); // INDEX: later records go to the sheet's storage
  w.Record(0x0443, Bytes(12, 0)); // 16 XF records give 16 default formats
  for (int i = 0; i < 15; ++i)
    w.Record(0x0443, Bytes(12, 0));
  w.Record(0x0063, {1, 0});
  // BIFF4 formula whose string result follows in a STRING record; a second with none.
  w.Record(
      0x0406,
      ByteWriter(Cell(0, 0)).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U16(0xFFFF).U16(0).U16(3).Raw({0x1E, 1, 0}));
  w.Record(0x0207, ByteWriter().U16(2).Text8("hi"));
  w.Record(
      0x0406,
      ByteWriter(Cell(1, 0)).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U16(0xFFFF).U16(0).U16(3).Raw({0x1E, 1, 0}));
  w.Eof();
  const std::string path = xls_test::TempPath("plain4.xls");
  xls_test::WriteFile(path, w);
  TXLSWorkbook wb;
  wb.Filename = common::Utf8ToUtf16(path);
  wb.Read();
  std::remove(path.c_str());
  EXPECT_EQ(wb.Version(), xvExcel40);
  EXPECT_EQ(wb.CellFormats().Count(), 16);
  TSheet &s = wb.SheetByIndex(0);
  EXPECT_EQ(s.CellType(0, 0), ckStringFormula);
  EXPECT_EQ(s.AsText(0, 0), u"hi");
  EXPECT_EQ(s.CellType(0, 1), ckNumberFormula); // no STRING: the number cell stays
  const TRecordStorageSheet &st = wb.SheetExtras(0).Records;
  bool kept = false;
  for (int i = 0; i < st.Count(); ++i)
    kept = kept || st.Items(i).Id == 0x0063;
  EXPECT_TRUE(kept);
}

TEST(Reader, PlainFileOfNoKnownVersion) {
  const std::string path = xls_test::TempPath("notabook.xls");
  // Records of unknown ids read to the end of the file under the 2080-byte limit.
  xls_test::WriteFile(path, BiffWriter().Record(0x1234, {1, 2}).RawHeader(0x4567, 3000).Raw(Bytes(10, 0)));
  TXLSWorkbook wb;
  wb.Filename = common::Utf8ToUtf16(path);
  wb.Read();
  EXPECT_EQ(wb.Version(), xvNone);
  EXPECT_EQ(wb.MaxRecordSize(), 2080);
  EXPECT_EQ(wb.Sheets().Count(), 1);
  xls_test::WriteFile(path, BiffWriter().Record(0x1234, {1, 2}).Record(0x8001, {}));
  EXPECT_EQ(Inner([&] {
              try {
                wb.Read();
              } catch (const std::exception &e) {
                return std::string(e.what());
              }
              return std::string();
            }()),
            "Bad record in file");
  EXPECT_EQ(wb.Sheets().Count(), 1);
  std::remove(path.c_str());
}
