#pragma once

// The reader of delimited text (.csv, .tsv, .txt): quoted fields with delimiters, doubled quotes
// and line breaks inside; comma, semicolon or tab between fields; UTF-8 with or without a byte
// order mark, UTF-16 with one, and Windows-1252 for bytes that are not UTF-8. Every field is
// kept as text: the file says nothing of types, and a user importing it expects what it shows.

#include <string>
#include <string_view>

namespace xls {
class TSheets;
}

namespace csv {

// The file's bytes as UTF-8, by its byte order mark, else UTF-8 when they are valid UTF-8, else
// Windows-1252.
std::string DecodeText(std::string_view Bytes);

struct TDelimiterGuess {
  char Delimiter = ',';
  // False when another delimiter would split the first records just as plausibly, so a user
  // should choose.
  bool Sure = true;
};
// Comma, semicolon or tab, by which of them splits the first records of Text (UTF-8) into the
// same number of fields, more than one.
TDelimiterGuess GuessDelimiter(std::string_view Text);

// One sheet named after the file, a row per record, a text cell per non-empty field. Delimiter
// 0 takes the guess. A quoted field without its closing quote raises
// "Line N of FILE: a quoted field has no closing quote", and a value beyond the 65536 rows and
// 256 columns a sheet holds raises too; nothing is stored then.
void ReadCsv(const std::string &Path, xls::TSheets &Sheets, char Delimiter = 0);
// The same over the decoded text; Name names the sheet and the errors.
void ReadCsvText(std::string_view Text, const std::string &Name, xls::TSheets &Sheets, char Delimiter = 0);

} // namespace csv
