// Arbitrary bytes through the delimited-text reader: decoding (byte order marks, UTF-8 checks,
// Windows-1252), the delimiter guess, and the read with the guess and with each delimiter
// given, each into the emptied workbook whose cells are then written as xlsdump's JSON. One
// workbook serves every run: making and freeing its memory costs far more than a small read.

#include <cstdint>
#include <sstream>
#include <string>

#include "csv/csv_reader.h"
#include "json_dump.h"
#include "xls/workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text = csv::DecodeText(std::string_view(reinterpret_cast<const char *>(data), size));
  csv::GuessDelimiter(text);
  static xls::TXLSWorkbook book;
  for (char delimiter : {'\0', ',', ';', '\t'}) {
    book.Clear();
    book.Sheets().ClearSheets();
    try {
      csv::ReadCsvText(text, "fuzz.csv", book.Sheets(), delimiter);
    } catch (const std::exception &) {
    }
    if (book.Sheets().Count() == 0)
      book.AddSheet(0);
    std::ostringstream out;
    xlsdump::DumpWorkbook(out, book);
  }
  return 0;
}
