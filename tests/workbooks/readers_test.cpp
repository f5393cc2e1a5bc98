// The .xlsx, .ods and delimited-text readers and the opener that picks among them, on workbooks
// built here part by part (what no writer would make: damage, bombs, limits) and on fixtures
// from independent programs.

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/exception.h"
#include "common/text.h"
#include "workbooks/open_workbook.h"
#include "xls/workbook.h"

namespace fs = std::filesystem;

namespace {

class Scratch {
public:
  Scratch() : FDir(fs::temp_directory_path() / ("xe-books-" + std::to_string(::getpid()) + "-" + std::to_string(++FCount))) {
    fs::create_directories(FDir);
  }
  ~Scratch() { fs::remove_all(FDir); }
  std::string Path(const std::string &name) const { return (FDir / name).string(); }

private:
  fs::path FDir;
  static inline int FCount = 0;
};

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A zip archive of the given parts, deflated.
void WriteZip(const std::string &path, const std::map<std::string, std::string> &parts) {
  int error = 0;
  zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(z, nullptr);
  for (const auto &[name, data] : parts) {
    zip_source_t *src = zip_source_buffer(z, data.data(), data.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}

const char kRels[] =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";

// An .xlsx with one sheet per entry of Sheets (name -> sheetData content) and the shared
// strings given.
std::map<std::string, std::string> XlsxParts(const std::vector<std::pair<std::string, std::string>> &Sheets,
                                             const std::string &SharedStrings = "") {
  std::map<std::string, std::string> parts;
  parts["[Content_Types].xml"] = "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>";
  parts["_rels/.rels"] = kRels;
  std::string workbook = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                         "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>";
  std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (size_t i = 0; i < Sheets.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    workbook += "<sheet name=\"" + Sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"" +
                (i == 1 ? " state=\"hidden\"" : "") + "/>";
    rels += "<Relationship Id=\"rId" + n +
            "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
            "Target=\"worksheets/sheet" + n + ".xml\"/>";
    parts["xl/worksheets/sheet" + n + ".xml"] =
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
        Sheets[i].second + "</sheetData></worksheet>";
  }
  if (!SharedStrings.empty()) {
    rels += "<Relationship Id=\"rS\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
            "sharedStrings\" Target=\"/xl/sharedStrings.xml\"/>";
    parts["xl/sharedStrings.xml"] =
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" + SharedStrings + "</sst>";
  }
  parts["xl/workbook.xml"] = workbook + "</sheets></workbook>";
  parts["xl/_rels/workbook.xml.rels"] = rels + "</Relationships>";
  return parts;
}

std::string OdsContent(const std::string &Body, const std::string &Styles = "") {
  return R"(<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
         R"(xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" )"
         R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
         R"(xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" )"
         R"(xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0">)"
         "<office:automatic-styles>" +
         Styles + "</office:automatic-styles><office:body><office:spreadsheet>" + Body +
         "</office:spreadsheet></office:body></office:document-content>";
}

class Book : public ::testing::Test {
protected:
  Scratch scratch;
  xls::TXLSWorkbook book;

  void Read(const std::string &path, char delimiter = 0) {
    book.Filename = common::Utf8ToUtf16(path);
    workbooks::ReadWorkbook(book, delimiter);
  }
  // The message of the read's failure, and checks the workbook is left empty.
  std::string Failure(const std::string &path, char delimiter = 0) {
    try {
      Read(path, delimiter);
    } catch (const common::Exception &e) {
      EXPECT_EQ(book.Sheets().Count(), 1);
      EXPECT_EQ(book.SheetByIndex(0).CellType(0, 0), 0);
      return e.what();
    }
    ADD_FAILURE() << "no failure";
    return {};
  }
  std::string Text(int sheet, int col, int row) { return common::Utf16ToUtf8(book.SheetByIndex(sheet).AsText(col, row)); }
  std::string Value(int sheet, int col, int row) { return book.SheetByIndex(sheet).AsVariant(col, row).ToText(); }
  int Kind(int sheet, int col, int row) { return book.SheetByIndex(sheet).CellType(col, row); }
  int CellCount(int sheet) {
    xls::TCellStorage &cells = book.SheetByIndex(sheet).Cells();
    cells.ResetIteration();
    int n = 0;
    while (cells.NextCell())
      ++n;
    return n;
  }
};

// --- delimited text ---

TEST_F(Book, CsvQuotingFollowsTheUsualRules) {
  const std::string path = scratch.Path("q.csv");
  WriteFile(path, "a,\"b,c\",\"say \"\"hi\"\"\"\r\n\"two\nlines\",,x\"y\r\n\"\",last");
  Read(path);
  EXPECT_EQ(book.SheetByIndex(0).Name(), u"q");
  EXPECT_EQ(Text(0, 1, 0), "b,c");
  EXPECT_EQ(Text(0, 2, 0), "say \"hi\"");
  EXPECT_EQ(Text(0, 0, 1), "two\nlines");
  EXPECT_EQ(Kind(0, 1, 1), 0); // an empty field stores nothing
  EXPECT_EQ(Text(0, 2, 1), "x\"y");
  EXPECT_EQ(Text(0, 1, 2), "last");
  // Many fields with doubled quotes in one record: each keeps its own text.
  WriteFile(path, "\"a\"\"1\",\"b\"\"2\",\"c\"\"3\",\"d\"\"4\",\"e\"\"5\",\"f\"\"6\",\"g\"\"7\"\n");
  Read(path);
  for (int c = 0; c < 7; ++c)
    EXPECT_EQ(Text(0, c, 0), std::string(1, char('a' + c)) + "\"" + std::to_string(c + 1)) << c;
  // Every field is text, numbers too.
  WriteFile(path, "1,2.5,TRUE\n");
  Read(path);
  EXPECT_EQ(Kind(0, 0, 0), xls::ckString);
  EXPECT_EQ(Value(0, 1, 0), "2.5");
  EXPECT_EQ(Value(0, 2, 0), "TRUE");
}

TEST_F(Book, CsvWithoutAClosingQuoteFailsAndKeepsNothing) {
  const std::string path = scratch.Path("open.csv");
  WriteFile(path, "a,b\nc,d\n\"e,f\n\ng\n");
  EXPECT_EQ(Failure(path), "Line 3 of " + path + ": a quoted field has no closing quote");
}

TEST_F(Book, CsvDelimiterIsGuessedOrGiven) {
  EXPECT_EQ(csv::GuessDelimiter("a;b;c\n1,5;2;3\n").Delimiter, ';');
  EXPECT_TRUE(csv::GuessDelimiter("a;b;c\n1,5;2;3\n").Sure);
  EXPECT_EQ(csv::GuessDelimiter("a\tb\n1\t2\n").Delimiter, '\t');
  EXPECT_EQ(csv::GuessDelimiter("\"x;y\",b\n\"1;2\",3\n").Delimiter, ','); // quoted delimiters do not count
  EXPECT_TRUE(csv::GuessDelimiter("one\ntwo\n").Sure);                      // one column either way
  // Both split every record in two: the user must choose.
  EXPECT_FALSE(csv::GuessDelimiter("a,b;c\nd,e;f\n").Sure);

  const std::string path = scratch.Path("s.txt");
  WriteFile(path, "a,b;c\nd,e;f\n");
  Read(path, ';');
  EXPECT_EQ(Text(0, 0, 0), "a,b");
  EXPECT_EQ(Text(0, 1, 1), "f");
}

TEST_F(Book, CsvEncodingsAreToldByMarkAndContent) {
  EXPECT_EQ(csv::DecodeText("\xEF\xBB\xBF" "caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(csv::DecodeText(std::string("\xFF\xFE" "a\0\xE9\0", 6)), "a\xC3\xA9");
  EXPECT_EQ(csv::DecodeText(std::string("\xFE\xFF\0a\x20\xAC", 6)), "a\xE2\x82\xAC");
  EXPECT_EQ(csv::DecodeText("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");       // not UTF-8: Windows-1252
  EXPECT_EQ(csv::DecodeText("\xC3\xA9\xED\xA0\x80"), "\xC3\x83\xC2\xA9\xC3\xAD\xC2\xA0\xE2\x82\xAC"); // a surrogate is no UTF-8
}

TEST_F(Book, CsvBeyondTheSheetFails) {
  const std::string path = scratch.Path("wide.csv");
  WriteFile(path, std::string(256, ',') + "x\n");
  EXPECT_NE(Failure(path).find("256 columns"), std::string::npos);
  WriteFile(path, std::string(300, ',') + "\nx\n"); // empty fields past the edge lose nothing
  Read(path);
  EXPECT_EQ(Text(0, 0, 1), "x");
}

// --- .xlsx ---

TEST_F(Book, XlsxCellsOfEveryKind) {
  const std::string path = scratch.Path("kinds.xlsx");
  WriteZip(path, XlsxParts({{"Data",
                             R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>)"
                             R"(<c r="C1" t="inlineStr"><is><r><t>in</t></r><r><t xml:space="preserve"> line</t></r></is></c>)"
                             R"(<c r="D1" t="b"><v>1</v></c><c r="E1" t="e"><v>#DIV/0!</v></c><c r="F1" s="3"/></row>)"
                             R"(<row r="3"><c r="A3"><v>1234.5</v></c><c><f>A3*2</f><v>2469</v></c>)"
                             R"(<c t="str"><f>"x"</f><v>x!</v></c><c t="b"><f>TRUE</f><v>0</v></c>)"
                             R"(<c t="e"><f>1/0</f><v>#N/A</v></c><c><v>1E-5</v></c></row>)"
                             R"(<row><c r="IV4"><v>7</v></c></row>)"},
                            {"Other", R"(<row r="2"><c r="B2"><v>3</v></c></row>)"}},
                           R"(<si><t>Plain</t></si><si><r><t>Ri</t></r><r><rPr/><t>ch</t></r><rPh><t>phon</t></rPh></si>)"));
  Read(path);
  ASSERT_EQ(book.Sheets().Count(), 2);
  EXPECT_EQ(book.SheetByIndex(0).Name(), u"Data");
  EXPECT_EQ(book.SheetByIndex(1).Hidden, 1);
  EXPECT_EQ(Text(0, 0, 0), "Plain");
  EXPECT_EQ(Text(0, 1, 0), "Rich"); // runs joined, the phonetic run left out
  EXPECT_EQ(Text(0, 2, 0), "in line");
  EXPECT_EQ(Value(0, 3, 0), "1");
  EXPECT_EQ(Text(0, 3, 0), "TRUE");
  EXPECT_EQ(Value(0, 4, 0), "#DIV/0!");
  EXPECT_EQ(Kind(0, 5, 0), xls::ckBlank);
  EXPECT_EQ(Value(0, 0, 2), "1234.5");
  EXPECT_EQ(Kind(0, 1, 2), xls::ckNumberFormula);
  EXPECT_EQ(Value(0, 1, 2), "2469");
  EXPECT_EQ(Value(0, 2, 2), "x!");
  EXPECT_EQ(Value(0, 3, 2), "0");
  EXPECT_EQ(Value(0, 4, 2), "#N/A");
  EXPECT_EQ(Text(0, 5, 2), "1E-5");
  EXPECT_EQ(Value(0, 255, 3), "7"); // a row without its number follows the last one
  EXPECT_EQ(Value(1, 1, 1), "3");
  EXPECT_EQ(book.SheetByIndex(0).Rows.Count(), 3);
}

TEST_F(Book, XlsxFaultsAreReportedAndKeepNothing) {
  const std::string path = scratch.Path("bad.xlsx");
  auto withSheet = [&](const std::string &data) { WriteZip(path, XlsxParts({{"S", data}})); };

  withSheet(R"(<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>2</v></row>)");
  EXPECT_NE(Failure(path).find("Malformed XML in xl/worksheets/sheet1.xml, line 1"), std::string::npos);

  withSheet(R"(<row r="1"><c r="A1" t="s"><v>4</v></c></row>)");
  EXPECT_NE(Failure(path).find("shared string index \"4\""), std::string::npos);

  withSheet(R"(<row r="1"><c r="A1"><v>1</v></c><c r="IW1"><v>2</v></c></row>)");
  EXPECT_NE(Failure(path).find("256 columns"), std::string::npos);
  withSheet(R"(<row r="70000"><c r="A70000"><v>2</v></c></row>)");
  EXPECT_NE(Failure(path).find("65536 rows"), std::string::npos);
  withSheet(R"(<row r="1"><c r="A1"><v>1</v></c><c r="XFD1" s="2"/></row>)"); // formatting only: kept out
  Read(path);
  EXPECT_EQ(Value(0, 0, 0), "1");

  auto parts = XlsxParts({{"S", ""}});
  parts.erase("xl/workbook.xml");
  WriteZip(path, parts);
  EXPECT_EQ(Failure(path), "The workbook has no part xl/workbook.xml");

  // A cut archive.
  withSheet(R"(<row r="1"><c r="A1"><v>1</v></c></row>)");
  const std::string whole = ReadFile(path);
  WriteFile(path, whole.substr(0, whole.size() / 2));
  EXPECT_NE(Failure(path).find("not a readable zip archive"), std::string::npos);
}

// A sheet far larger than the blocks the parser is fed: elements and texts cut by every block
// end, empty cells in both spellings, and shared strings of which only some are used.
TEST_F(Book, XlsxLargeSheetReadsWholeAcrossBlocks) {
  const std::string path = scratch.Path("large.xlsx");
  const std::string longText(65000, 'x'); // about a block, the most a cell holds
  std::string data;
  const int rows = 4000;
  for (int r = 1; r <= rows; ++r) {
    const std::string n = std::to_string(r);
    data += "\n<row r=\"" + n + "\" spans=\"1:5\"><c r=\"A" + n + "\" t=\"s\"><v>" + std::to_string(r % 2 * 2) +
            "</v></c><c r=\"B" + n + "\"><v>" + n + ".25</v></c><c r=\"C" + n + "\" t=\"inlineStr\"><is><t>caf\xC3\xA9 " +
            n + "</t></is></c><c r=\"D" + n + "\" s=\"1\"></c><c r=\"E" + n + "\" s=\"1\"/>" +
            (r == 2000 ? "<c r=\"F2000\" t=\"inlineStr\"><is><t>" + longText + "</t></is></c>" : "") + "</row>";
  }
  WriteZip(path, XlsxParts({{"S", data}}, "<si><t>even</t></si><si><t>unused</t></si><si><t>odd</t></si>"));
  Read(path);
  xls::TSheet &sheet = book.SheetByIndex(0);
  for (int r = 0; r < rows; ++r) {
    SCOPED_TRACE(r);
    ASSERT_EQ(Text(0, 0, r), r % 2 ? "even" : "odd");
    ASSERT_EQ(Value(0, 1, r), std::to_string(r + 1) + ".25");
    ASSERT_EQ(Text(0, 2, r), "caf\xC3\xA9 " + std::to_string(r + 1));
    ASSERT_EQ(Kind(0, 3, r), xls::ckBlank);
    ASSERT_EQ(Kind(0, 4, r), xls::ckBlank);
  }
  EXPECT_EQ(Text(0, 5, 1999), longText);
  EXPECT_EQ(sheet.Rows.Count(), rows);
  EXPECT_EQ(CellCount(0), rows * 5 + 1);
  // One entry per distinct text, the unused shared string none.
  EXPECT_EQ(book.Sheets().SST().EntryCount(), 2u + rows + 1);
  // A shared string's entry outlives the cells that drop it only while another refers to it.
  sheet.DeleteCell(0, 0);
  sheet.DeleteCell(0, 2);
  EXPECT_EQ(Text(0, 0, 4), "odd");
}

// Where a fault lies deep in a part, the message names its line.
TEST_F(Book, XlsxFaultsDeepInAPartNameTheirLine) {
  const std::string path = scratch.Path("deep.xlsx");
  std::string rows;
  for (int r = 1; r < 3000; ++r)
    rows += "\n<row r=\"" + std::to_string(r) + "\"><c><v>" + std::to_string(r) + "</v></c></row>";
  WriteZip(path, XlsxParts({{"S", rows + "\n<row><c><v>1x</v></c></row>"}}));
  EXPECT_EQ(Failure(path), "Malformed XML in xl/worksheets/sheet1.xml, line 3001: bad number \"1x\"");
  WriteZip(path, XlsxParts({{"S", rows + "\n<row><c><v>1</v></c></rw>"}}));
  EXPECT_NE(Failure(path).find("Malformed XML in xl/worksheets/sheet1.xml, line 3001: "), std::string::npos);
  auto parts = XlsxParts({{"S", rows}});
  std::string &sheet = parts["xl/worksheets/sheet1.xml"];
  sheet.resize(sheet.size() - 40); // the part ends inside a row
  WriteZip(path, parts);
  EXPECT_EQ(Failure(path).rfind("Malformed XML in xl/worksheets/sheet1.xml, line 3000: ", 0), 0u);
}

// Parts in UTF-16, and namespace declarations, which are no attributes of the element.
TEST_F(Book, XlsxPartsInUtf16AndNamespaceDeclarations) {
  const std::string path = scratch.Path("u16.xlsx");
  auto parts = XlsxParts({{"S", R"(<row r="1"><c xmlns:r="urn:other" r="B1" t="inlineStr"><is><t>d)"
                                "\xC3\xA9j\xC3\xA0</t></is></c></row>"}});
  std::string &sheet = parts["xl/worksheets/sheet1.xml"];
  const std::u16string wide = common::Utf8ToUtf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + sheet);
  sheet = "\xFF\xFE";
  for (char16_t c : wide)
    sheet += std::string{char(c & 0xFF), char(c >> 8)};
  WriteZip(path, parts);
  Read(path);
  EXPECT_EQ(Text(0, 1, 0), "d\xC3\xA9j\xC3\xA0");
}

TEST_F(Book, AZipBombIsRefusedBeforeItInflates) {
  const std::string path = scratch.Path("bomb.xlsx");
  // 200 MB of one repeated row: some 200 kB deflated, so far past what the file can justify.
  std::string row = "<row><c><v>1</v></c></row>";
  std::string data;
  data.reserve(200u << 20);
  while (data.size() < (200u << 20))
    data += row;
  WriteZip(path, XlsxParts({{"S", data}}));
  data.clear();
  data.shrink_to_fit();
  EXPECT_LT(fs::file_size(path), 2u << 20);
  EXPECT_NE(Failure(path).find("zip bomb"), std::string::npos);
}

// --- .ods ---

TEST_F(Book, OdsValuesByTypeAndRepeats) {
  const std::string path = scratch.Path("t.ods");
  const std::string body =
      R"(<table:table table:name="First"><table:table-column table:number-columns-repeated="1024"/>)"
      R"(<table:table-row><table:table-cell office:value-type="string"><text:p>Name</text:p></table:table-cell>)"
      R"(<table:table-cell office:value-type="float" office:value="2.5"><text:p>2,50</text:p></table:table-cell>)"
      R"(<table:table-cell office:value-type="percentage" office:value="0.15"/>)"
      R"(<table:table-cell office:value-type="currency" office:value="-3"/>)"
      R"(<table:table-cell office:value-type="date" office:date-value="2024-01-31T12:00:00"/>)"
      R"(<table:table-cell office:value-type="time" office:time-value="PT36H30M00S"/>)"
      R"(<table:table-cell office:value-type="boolean" office:boolean-value="true"/>)"
      R"(<table:table-cell table:formula="of:=1/0" office:value-type="float" office:value="" calcext:value-type="error"><text:p>#DIV/0!</text:p></table:table-cell>)"
      R"(<table:table-cell office:value-type="string"><office:annotation><text:p>note</text:p></office:annotation>)"
      R"(<text:p>a<text:s text:c="2"/>b<text:tab/>c</text:p><text:p><text:span>two</text:span></text:p></table:table-cell>)"
      R"(<table:table-cell table:number-columns-repeated="1000000"/></table:table-row>)"
      R"(<table:table-row table:number-rows-repeated="3"><table:table-cell table:number-columns-repeated="2" office:value-type="float" office:value="7"/></table:table-row>)"
      R"(<table:table-row table:number-rows-repeated="1048570"><table:table-cell table:number-columns-repeated="1024"/></table:table-row>)"
      R"(</table:table><table:table table:name="Second" table:style-name="ta2"/>)";
  WriteZip(path, {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                  {"content.xml", OdsContent(body, R"(<style:style style:name="ta2" style:family="table">)"
                                                   R"(<style:table-properties table:display="false"/></style:style>)")}});
  Read(path);
  ASSERT_EQ(book.Sheets().Count(), 2);
  EXPECT_EQ(book.SheetByIndex(1).Name(), u"Second");
  EXPECT_EQ(book.SheetByIndex(1).Hidden, 1);
  EXPECT_EQ(book.SheetByIndex(0).Hidden, 0);
  EXPECT_EQ(Text(0, 0, 0), "Name");
  EXPECT_EQ(Value(0, 1, 0), "2.5");
  EXPECT_EQ(Value(0, 2, 0), "0.15");
  EXPECT_EQ(Value(0, 3, 0), "-3");
  EXPECT_EQ(Value(0, 4, 0), "45322.5");
  EXPECT_EQ(Value(0, 5, 0), "1.52083333333333");
  EXPECT_EQ(Value(0, 6, 0), "1");
  EXPECT_EQ(Value(0, 7, 0), "#DIV/0!");
  EXPECT_EQ(Kind(0, 7, 0), xls::ckErrorFormula);
  EXPECT_EQ(Text(0, 8, 0), "a  b\tc\ntwo");
  for (int r = 1; r <= 3; ++r)
    EXPECT_EQ(Value(0, 1, r), "7") << r;
  EXPECT_EQ(CellCount(0), 9 + 6);
}

TEST_F(Book, OdsFaults) {
  const std::string path = scratch.Path("bad.ods");
  WriteZip(path, {{"content.xml", OdsContent("<table:table table:name=\"T\"><table:table-row>")}});
  EXPECT_NE(Failure(path).find("Malformed XML in content.xml"), std::string::npos);
  WriteZip(path, {{"content.xml", OdsContent(R"(<table:table table:name="T"><table:table-row table:number-rows-repeated="70000">)"
                                             R"(<table:table-cell office:value-type="float" office:value="1"/></table:table-row></table:table>)")}});
  EXPECT_NE(Failure(path).find("65536 rows"), std::string::npos);
  WriteZip(path, {{"content.xml", OdsContent(R"(<table:table table:name="T"><table:table-row>)"
                                             R"(<table:table-cell office:value-type="float" office:value="x"/></table:table-row></table:table>)")}});
  EXPECT_NE(Failure(path).find("bad number \"x\""), std::string::npos);
}

// --- the format by content ---

TEST_F(Book, TheFormatIsToldByContentNotName) {
  const std::string xlsx = scratch.Path("really-xlsx.xls");
  WriteZip(xlsx, XlsxParts({{"S", R"(<row r="1"><c r="A1"><v>5</v></c></row>)"}}));
  EXPECT_EQ(workbooks::DetectFormat(xlsx), workbooks::TBookFormat::Xlsx);
  Read(xlsx);
  EXPECT_EQ(Value(0, 0, 0), "5");

  const std::string text = scratch.Path("really-text.xlsx");
  WriteFile(text, "a;b\n");
  EXPECT_EQ(workbooks::DetectFormat(text), workbooks::TBookFormat::Text);

  const std::string other = scratch.Path("other.zip");
  WriteZip(other, {{"readme.txt", "hello"}});
  EXPECT_NE(Failure(other).find("neither an .xlsx nor an .ods"), std::string::npos);

  EXPECT_EQ(workbooks::DetectFormat(XE_TEST_DATA "/xls/lo_biff8.xls"), workbooks::TBookFormat::Xls);
  EXPECT_EQ(workbooks::DelimiterFromName("tab"), '\t');
  EXPECT_EQ(workbooks::DelimiterFromName("\t"), '\t');
  EXPECT_EQ(workbooks::DelimiterFromName(";"), ';');
  EXPECT_EQ(workbooks::DelimiterFromName("|"), 0);
}

TEST_F(Book, AnEncryptedXlsxIsRefusedClearly) {
  // The container of an encrypted .xlsx: a compound file holding an EncryptionInfo stream. Here
  // sectors 0 to 7 hold the stream, 8 the directory and 9 the allocation table.
  constexpr uint32_t End = 0xFFFFFFFE, Free = 0xFFFFFFFF, FatSector = 0xFFFFFFFD;
  std::string file(512 + 10 * 512, '\0');
  auto put16 = [&](size_t at, uint32_t v) { file[at] = char(v), file[at + 1] = char(v >> 8); };
  auto put32 = [&](size_t at, uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
  file.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
  put16(24, 0x3E), put16(26, 3), put16(28, 0xFFFE), put16(30, 9), put16(32, 6);
  put32(44, 1), put32(48, 8), put32(56, 4096), put32(60, End), put32(68, End);
  for (int i = 0; i < 109; ++i)
    put32(76 + 4 * size_t(i), i == 0 ? 9 : Free);
  const size_t dir = 512 + 8 * 512;
  const std::u16string names[2] = {u"Root Entry", u"EncryptionInfo"};
  for (size_t e = 0; e < 2; ++e) {
    const size_t at = dir + 128 * e;
    for (size_t i = 0; i < names[e].size(); ++i)
      put16(at + 2 * i, names[e][i]);
    put16(at + 64, uint32_t(2 * (names[e].size() + 1)));
    file[at + 66] = e == 0 ? 5 : 2;
    file[at + 67] = 1;
    put32(at + 68, Free), put32(at + 72, Free), put32(at + 76, e == 0 ? 1 : Free);
    put32(at + 116, e == 0 ? End : 0), put32(at + 120, e == 0 ? 0 : 4096);
  }
  const size_t fat = 512 + 9 * 512;
  for (uint32_t i = 0; i < 128; ++i)
    put32(fat + 4 * i, i < 7 ? i + 1 : i == 7 || i == 8 ? End : i == 9 ? FatSector : Free);
  const std::string path = scratch.Path("locked.xlsx");
  WriteFile(path, file);
  EXPECT_EQ(Failure(path), "The file is an encrypted .xlsx workbook; encrypted .xlsx files are not supported");
}

// --- the same workbook in three formats ---

TEST(SameWorkbook, ImportsIntoTheSameXmlFromEveryFormat) {
  Scratch scratch;
  const std::string tmpl = scratch.Path("t.xml");
  WriteFile(tmpl, "<order><Customer/><Total/><Paid/><Note/><When/><Double/><Shout/><Broken/><Big/></order>\n");
  std::string first;
  for (const char *ext : {"xls", "xlsx", "ods"}) {
    const std::string out = scratch.Path(std::string("out.") + ext + ".xml");
    const std::string command = std::string("LC_ALL=C ") + XLSIMPORT_EXE + " --template " + tmpl +
                                " --workbook " XE_TEST_DATA "/workbooks/lo_same." + ext + " -o " + out;
    ASSERT_EQ(std::system(command.c_str()), 0) << ext;
    const std::string xml = ReadFile(out);
    if (first.empty()) {
      first = xml;
      EXPECT_NE(xml.find("<Customer>Bj\xC3\xB6rn \xC3\x85str\xC3\xB6m</Customer>"), std::string::npos);
      EXPECT_NE(xml.find("<Broken>#DIV/0!</Broken>"), std::string::npos);
    } else
      EXPECT_EQ(xml, first) << ext;
  }
}

} // namespace
