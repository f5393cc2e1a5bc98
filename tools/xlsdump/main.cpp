// xlsdump [--password PW] FILE: the workbook as JSON on stdout.

#include <cstring>
#include <iostream>

#include "common/text.h"
#include "json_dump.h"
#include "xls/workbook.h"

int main(int argc, char **argv) {
  std::string file, password;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc)
      password = argv[++i];
    else if (file.empty())
      file = argv[i];
    else {
      std::cerr << "usage: xlsdump [--password PW] FILE\n";
      return 2;
    }
  }
  if (file.empty()) {
    std::cerr << "usage: xlsdump [--password PW] FILE\n";
    return 2;
  }
  try {
    xls::TXLSWorkbook workbook;
    workbook.Filename = common::Utf8ToUtf16(file);
    workbook.Password = common::Utf8ToUtf16(password);
    workbook.Read();
    // The read is complete before anything is written, so a failure leaves stdout empty.
    std::ios::sync_with_stdio(false);
    xlsdump::DumpWorkbook(std::cout, workbook);
    std::cout.flush();
    return std::cout ? 0 : 1;
  } catch (const std::exception &e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
