#include "workbooks/open_workbook.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "common/exception.h"
#include "common/text.h"
#include "ods/ods_reader.h"
#include "xls/compound_file.h"
#include "xls/workbook.h"
#include "xlsx/xlsx_reader.h"
#include "zipxml/zip_part.h"

namespace workbooks {

const char *const SpreadsheetFilter = "Spreadsheets (*.xls *.xlsx *.xlsm *.ods *.csv *.tsv *.txt)";

namespace {

std::string Head(const std::string &Path, size_t Size) {
  std::ifstream in(Path, std::ios::binary);
  if (!in)
    throw common::Exception("Cannot open file " + Path);
  std::string head(Size, '\0');
  in.read(head.data(), static_cast<std::streamsize>(Size));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}

} // namespace

TBookFormat DetectFormat(const std::string &Path) {
  const std::string head = Head(Path, 4096);
  if (head.size() >= 4 && head[0] == 'P' && head[1] == 'K' && (head[2] == 3 || head[2] == 5) &&
      (head[3] == 4 || head[3] == 6)) {
    zipxml::TZipArchive zip(Path);
    if (zip.Has("content.xml"))
      return TBookFormat::Ods;
    if (zip.Has("[Content_Types].xml") || zip.Has("xl/workbook.xml"))
      return TBookFormat::Xlsx;
    throw common::Exception("The file is a zip archive but neither an .xlsx nor an .ods workbook");
  }
  if (xls::TCompoundFile::HasSignature(reinterpret_cast<const uint8_t *>(head.data()), head.size())) {
    bool encrypted = false;
    try {
      encrypted = xls::TCompoundFile::FromFile(Path).Find(u"EncryptionInfo") >= 0;
    } catch (const common::Exception &) {
      // A damaged compound file: the .xls reader gives the reason.
    }
    if (encrypted)
      throw common::Exception("The file is an encrypted .xlsx workbook; encrypted .xlsx files are not supported");
    return TBookFormat::Xls;
  }
  // A BIFF2 to BIFF4 file starts with its BOF record; text has no NUL bytes unless it is UTF-16.
  const bool bof = head.size() >= 4 && head[0] == 0x09 && (head[1] == 0 || head[1] == 2 || head[1] == 4 || head[1] == 8);
  const bool utf16 = head.size() >= 2 && ((head[0] == '\xFF' && head[1] == '\xFE') || (head[0] == '\xFE' && head[1] == '\xFF'));
  if (!bof && (utf16 || head.find('\0') == std::string::npos))
    return TBookFormat::Text;
  return TBookFormat::Xls;
}

csv::TDelimiterGuess GuessFileDelimiter(const std::string &Path) {
  std::string head = csv::DecodeText(Head(Path, 64 * 1024 + 4));
  return csv::GuessDelimiter(head);
}

void ReadWorkbook(xls::TXLSWorkbook &Book, char Delimiter) {
  const std::string path = common::Utf16ToUtf8(Book.Filename);
  TBookFormat format;
  try {
    format = DetectFormat(path);
  } catch (...) {
    Book.Clear();
    throw;
  }
  if (format == TBookFormat::Xls) {
    Book.Read();
    return;
  }
  Book.Clear();
  xls::TSheets &sheets = Book.Sheets();
  sheets.ClearSheets();
  Book.SetVersion(xls::xvNone);
  try {
    switch (format) {
    case TBookFormat::Xlsx: xlsx::ReadXlsx(path, sheets); break;
    case TBookFormat::Ods: ods::ReadOds(path, sheets); break;
    default: csv::ReadCsv(path, sheets, Delimiter); break;
    }
  } catch (...) {
    Book.Clear();
    throw;
  }
  if (sheets.Count() == 0)
    Book.AddSheet(0);
  for (int i = 0; i < sheets.Count(); ++i)
    sheets.Items(i).AfterRead();
}

char DelimiterFromName(const std::string &Name) {
 if (Name == "\t")
    return '\t';
  const std::string n = common::TrimControl(Name);
  if (n == "," || n == "comma")
    return ',';
  if (n == ";" || n == "semicolon")
    return ';';
  if (n == "\t" || n == "\\t" || n == "tab")
    return '\t';
  return 0;
}

} // namespace workbooks
