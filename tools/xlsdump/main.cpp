// xlsdump [--password PW] [--delimiter D] FILE: the workbook (.xls, .xlsx, .ods or delimited text)
// as JSON on stdout.

#include <cstring>
#include <iostream>

#include "common/cli.h"
#include "common/text.h"
#include "json_dump.h"
#include "workbooks/open_workbook.h"
#include "xls/workbook.h"

namespace {
const common::TCliTool kTool{"xlsdump",
                             "[--password PW] [--delimiter D] FILE",
                             "Prints the workbook FILE (.xls, .xlsx, .xlsm, .ods or delimited text) as JSON on "
                             "standard output.",
                             {{"--password", "PW", "the password of an encrypted workbook"},
                              {"--delimiter", "D", "the delimiter of a text file: comma, semicolon or tab"}}};
} // namespace

int main(int argc, char **argv) {
  if (auto status = common::CheckCommandLine(argc, argv, kTool))
    return *status;
  std::string file, password;
  char delimiter = 0; // 0: guessed from the text
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc)
      password = argv[++i];
    else if (std::strcmp(argv[i], "--delimiter") == 0) {
      if (i + 1 >= argc || (delimiter = workbooks::DelimiterFromName(argv[++i])) == 0)
        return common::BadUsage(kTool, "--delimiter takes comma, semicolon or tab");
    }
    else if (file.empty())
      file = argv[i];
    else
      return common::BadUsage(kTool, "expected one FILE");
  }
  if (file.empty())
    return common::BadUsage(kTool, "expected one FILE");
  try {
    xls::TXLSWorkbook workbook;
    workbook.Filename = common::Utf8ToUtf16(file);
    workbook.Password = common::Utf8ToUtf16(password);
    workbooks::ReadWorkbook(workbook, delimiter);
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
