// xlsdump [--password PW] [--delimiter D] FILE: the workbook (.xls, .xlsx, .ods or delimited text)
// as JSON on stdout.

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "common/text.h"
#include "json_dump.h"
#include "workbooks/open_workbook.h"
#include "xls/workbook.h"

int main(int argc, char **argv) {
  std::string file, password;
  char delimiter = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc)
      password = argv[++i];
    else if (std::strcmp(argv[i], "--delimiter") == 0 && i + 1 < argc &&
             (delimiter = workbooks::DelimiterFromName(argv[i + 1])) != 0)
      ++i;
    else if (file.empty())
      file = argv[i];
    else {
      std::cerr << "usage: xlsdump [--password PW] [--delimiter , ; or tab] FILE\n";
      return 2;
    }
  }
  if (file.empty()) {
    std::cerr << "usage: xlsdump [--password PW] [--delimiter , ; or tab] FILE\n";
    return 2;
  }
  try {
    xls::TXLSWorkbook workbook;
    workbook.Filename = common::Utf8ToUtf16(file);
    workbook.Password = common::Utf8ToUtf16(password);
    workbooks::ReadWorkbook(workbook, delimiter);
    // The read is complete before anything is written, so a failure leaves stdout empty.
    std::ios::sync_with_stdio(false);
    xlsdump::DumpWorkbook(std::cout, workbook);
    std::cout.flush();
    // Nothing is left to do: ending here spares freeing a large workbook entry by entry.
    std::_Exit(std::cout ? 0 : 1);
  } catch (const std::exception &e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
