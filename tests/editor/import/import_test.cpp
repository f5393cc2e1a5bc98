// The spreadsheet import on exact workbooks: which rows and columns are read, how values become
// text, what a cancel leaves, and the xlsimport tool.

#include "common/number_text.h"
#include "common/text.h"
#include "editor/excel_import.h"
#include "import_book.h"
#include "xls/workbook.h"
#include "xmlmodel/xml_obj.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace import_test;

namespace {

const char kTemplate[] = "<item id=\"t\">\n  <Name>n</Name>\n  <Price/>\n</item>\n";

struct Fixture {
  xmlmodel::TOrbMainXML doc;
  xmlmodel::TOrbMainXML tmpl;
  xls::TXLSWorkbook workbook;

  explicit Fixture(const Sheet &sheet, const std::string &templateText = kTemplate) {
    doc.NewDocument("root");
    const std::string path = TempPath("import-template.xml");
    std::ofstream(path) << templateText;
    tmpl.FileName = path;
    tmpl.Load();
    workbook.LoadFromStream(MakeCompoundFile(sheet.Stream()));
  }

  int Import(const editor::TImportProgress &progress = {}) {
    return editor::TExcelImport(workbook.SheetByIndex(0))
        .ImportRows(*doc.RootItem(), *tmpl.RootItem(), progress);
  }

  // The text of the child named Name of the i-th imported copy.
  std::string Value(int copy, const std::string &name) {
    xmlmodel::TOrbXMLList *children = doc.RootChildren()->Items(copy)->Children();
    for (int i = 0; i < children->Count(); ++i)
      if (children->Items(i)->NodeName() == name)
        return children->Items(i)->Text();
    return "(absent)";
  }
};

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

} // namespace

TEST(ExcelImport, RowsUpToTheLastCellOrRowRecordAreImported) {
  // Header only: nothing is added.
  EXPECT_EQ(Fixture(Sheet().Row(0).Label(0, 0, u"Name")).Import(), 0);

  // No ROW records at all: the data rows are still read.
  Fixture noRows(Sheet().Label(0, 0, u"Name").Label(1, 0, u"a").Label(2, 0, u"b"));
  EXPECT_EQ(noRows.Import(), 2);
  EXPECT_EQ(noRows.Value(0, "Name"), "a");
  EXPECT_EQ(noRows.Value(1, "Name"), "b");

  // ROW records for rows 0, 1 and 3 only: rows 1, 2 and 3 are all imported; row 2 has no values
  // but still gets its copy.
  Fixture gaps(Sheet().Row(0).Row(1).Row(3).Label(0, 0, u"Name").Label(1, 0, u"one").Label(3, 0, u"three"));
  EXPECT_EQ(gaps.Import(), 3);
  EXPECT_EQ(gaps.Value(0, "Name"), "one");
  EXPECT_EQ(gaps.Value(1, "Name"), "0");
  EXPECT_EQ(gaps.Value(2, "Name"), "three");
  EXPECT_TRUE(gaps.doc.Modified);
}

TEST(ExcelImport, HeadersAreTrimmedMatchedExactlyAndEndAtTheFirstEmptyOne) {
  Fixture f(Sheet()
                .Label(0, 0, u"  Price\t") // padded: matches
                .Label(0, 1, u"name")      // lower case: no match for Name
                .Label(0, 2, u"Price")     // same header again: the rightmost wins
                .Blank(0, 3)               // ends the header row
                .Label(0, 4, u"Name")      // never reached
                .Number(1, 0, 1)
                .Label(1, 1, u"x")
                .Number(1, 2, 2.5)
                .Label(1, 4, u"never"));
  ASSERT_EQ(f.Import(), 1);
  EXPECT_EQ(f.Value(0, "Price"), "2.5");
  EXPECT_EQ(f.Value(0, "Name"), "n"); // unchanged copy of the template text
  // The template root's own attributes are kept and never filled.
  EXPECT_EQ(f.doc.RootChildren()->Items(0)->Attributes()->Items(0)->Text(), "t");

  // A first header that is empty or a number: every copy stays as the template has it.
  for (const Sheet &sheet : {Sheet().Number(0, 0, 5).Label(0, 1, u"Name").Label(1, 1, u"v"),
                             Sheet().Label(0, 0, u" ").Label(0, 1, u"Name").Label(1, 1, u"v")}) {
    Fixture g(sheet);
    ASSERT_EQ(g.Import(), 1);
    EXPECT_EQ(g.Value(0, "Name"), "n");
  }
}

TEST(ExcelImport, CellValuesBecomeText) {
  const std::string tmpl = "<r><A/><B/><C/><D/><E/><F/><G/><H/></r>";
  Fixture f(Sheet()
                .Label(0, 0, u"A")
                .Label(0, 1, u"B")
                .Label(0, 2, u"C")
                .Label(0, 3, u"D")
                .Label(0, 4, u"E")
                .Label(0, 5, u"F")
                .Label(0, 6, u"G")
                .Label(0, 7, u"H")
                .Number(1, 0, 1234.5)
                .Number(1, 1, 1e-5)
                .Number(1, 2, 100)
                .Blank(1, 3) // blank cell
                /* column 4 absent */
                .Bool(1, 5, 1)
                .Bool(1, 6, 0x07, true) // TRUE, #DIV/0!
                .Label(1, 7, u"  caf\u00e9  "),
            tmpl);
  ASSERT_EQ(f.Import(), 1);
  const char sep = common::LocaleDecimalSeparator();
  EXPECT_EQ(f.Value(0, "A"), std::string("1234") + sep + "5");
  EXPECT_EQ(f.Value(0, "B"), "1E-5");
  EXPECT_EQ(f.Value(0, "C"), "100");
  EXPECT_EQ(f.Value(0, "D"), "0");
  EXPECT_EQ(f.Value(0, "E"), "0");
  EXPECT_EQ(f.Value(0, "F"), "1");
  EXPECT_EQ(f.Value(0, "G"), "#DIV/0!");
  EXPECT_EQ(f.Value(0, "H"), "caf\xC3\xA9");
}

TEST(ExcelImport, AFullHeaderRowIsScannedPastColumn255) {
  // 256 header cells: positions 256 to 300 read columns 0 to 44 again, with the same result.
  Sheet sheet;
  for (int c = 0; c < 256; ++c)
    sheet.Label(0, static_cast<uint16_t>(c),
                c == 255 ? u"Price" : u"H" + common::Utf8ToUtf16(std::to_string(c)));
  sheet.Label(0, 7, u"Name").Label(1, 7, u"seven").Number(1, 255, 42);
  Fixture f(sheet);
  ASSERT_EQ(f.Import(), 1);
  EXPECT_EQ(f.Value(0, "Name"), "seven");
  EXPECT_EQ(f.Value(0, "Price"), "42");
}

TEST(ExcelImport, AnElementWithChildrenTakesTheValueInPlaceOfThem) {
  Fixture f(Sheet().Label(0, 0, u"group").Label(0, 1, u"leaf").Label(1, 0, u"G").Label(1, 1, u"L"),
            "<r><group><leaf/></group></r>");
  ASSERT_EQ(f.Import(), 1);
  EXPECT_EQ(f.Value(0, "group"), "G");
  f.doc.FileName = TempPath("import-children.xml");
  f.doc.Save();
  EXPECT_NE(ReadFile(f.doc.FileName).find("<group>G</group>"), std::string::npos);
}

TEST(ExcelImport, ACancelLeavesTheDocumentAsItWas) {
  Fixture f(Sheet().Label(0, 0, u"Name").Label(1, 0, u"a").Label(2, 0, u"b").Label(3, 0, u"c"));
  f.doc.FileName = TempPath("import-cancel.xml");
  f.doc.Save();
  const std::string before = ReadFile(f.doc.FileName);
  EXPECT_EQ(f.Import([](int row, int) { return row < 3; }), -1);
  EXPECT_EQ(f.doc.RootChildren()->Count(), 0);
  EXPECT_FALSE(f.doc.Modified);
  f.doc.Save();
  EXPECT_EQ(ReadFile(f.doc.FileName), before);
}

TEST(ExcelImportTool, WritesTheImportedDocumentAndFailsWithoutWriting) {
  const std::string book = TempPath("tool.xls"), tmpl = TempPath("tool-template.xml"),
                    out = TempPath("tool-out.xml");
  WriteFile(book, MakeCompoundFile(Sheet().Label(0, 0, u"Name").Label(1, 0, u"a").Stream()));
  std::ofstream(tmpl) << kTemplate;
  std::remove(out.c_str());
  const std::string exe = XLSIMPORT_EXE;
  ASSERT_EQ(std::system((exe + " --template " + tmpl + " --workbook " + book + " -o " + out).c_str()), 0);
  EXPECT_EQ(ReadFile(out), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root><item id=\"t\">\n  "
                           "<Name>a</Name>\n  <Price/>\n</item></root>\n");

  // An encrypted workbook: the right password imports, a wrong one fails and writes nothing.
  WriteFile(book,
            MakeCompoundFile(EncryptBiff8(Sheet().Label(0, 0, u"Name").Label(1, 0, u"s").Stream(), u"pw")));
  std::remove(out.c_str());
  EXPECT_NE(
      std::system(
          (exe + " --template " + tmpl + " --workbook " + book + " -o " + out + " 2>/dev/null").c_str()),
      0);
  EXPECT_NE(std::system((exe + " --template " + tmpl + " --workbook " + book + " --password x -o " + out +
                         " 2>/dev/null")
                            .c_str()),
            0);
  EXPECT_FALSE(std::ifstream(out).good());
  ASSERT_EQ(
      std::system((exe + " --template " + tmpl + " --workbook " + book + " --password pw -o " + out).c_str()),
      0);
  EXPECT_NE(ReadFile(out).find("<Name>s</Name>"), std::string::npos);
}

TEST(ExcelImportTool, CryptoApiAndXorWorkbooksImportWithTheirPassword) {
  const std::string book = TempPath("tool-cipher.xls"), tmpl = TempPath("tool-cipher-template.xml"),
                    out = TempPath("tool-cipher-out.xml");
  std::ofstream(tmpl) << kTemplate;
  const std::string exe = XLSIMPORT_EXE;
  const std::string command = exe + " --template " + tmpl + " --workbook " + book + " -o " + out;
  for (const auto scheme : {xls_test::CipherScheme::CryptoApi, xls_test::CipherScheme::CryptoApi40,
                            xls_test::CipherScheme::Xor}) {
    SCOPED_TRACE(static_cast<int>(scheme));
    WriteFile(book, MakeCompoundFile(xls_test::EncryptStream(
                        Sheet().Label(0, 0, u"Name").Label(1, 0, u"s").Stream(), u"pw", scheme)));
    std::remove(out.c_str());
    EXPECT_NE(std::system((command + " --password x 2>/dev/null").c_str()), 0);
    EXPECT_FALSE(std::ifstream(out).good());
    ASSERT_EQ(std::system((command + " --password pw").c_str()), 0);
    EXPECT_NE(ReadFile(out).find("<Name>s</Name>"), std::string::npos);
  }
}
