#pragma once

// Opening a workbook of any format the import reads: the format is told by the file's content
// (a zip archive, a compound file, text), never by its name, and the matching reader fills the
// workbook's sheets.

#include <string>

#include "csv/csv_reader.h"

namespace xls {
class TXLSWorkbook;
}

namespace workbooks {

enum class TBookFormat { Xls, Xlsx, Ods, Text };

// The file prompt's filter for every format.
extern const char *const SpreadsheetFilter;

// What the file holds. A zip archive that is neither an .xlsx nor an .ods, and an encrypted
// .xlsx (a compound file holding "EncryptionInfo"), raise their own clear messages; anything
// else that is not text goes to the .xls reader, which says what is wrong with it.
TBookFormat DetectFormat(const std::string &Path);

// The delimiter that the first records of a text file suggest.
csv::TDelimiterGuess GuessFileDelimiter(const std::string &Path);

// Reads Book.Filename into Book with the reader its content calls for (Delimiter 0: the guess
// for text). The .xls reader keeps its password handling. On failure the workbook is left empty
// with one sheet and the error propagates.
void ReadWorkbook(xls::TXLSWorkbook &Book, char Delimiter = 0);

// "," ";" and tab from what a user or a command line names them: the character itself, "tab",
// "\t", "comma", "semicolon". 0 when Name is none of them.
char DelimiterFromName(const std::string &Name);

} // namespace workbooks
