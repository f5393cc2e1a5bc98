// Arbitrary bytes through the whole workbook read. An input that is a compound file is read as
// it is; any other input is a record stream: its first byte picks where it goes (a "Workbook"
// stream, a "Book" stream, or a plain BIFF2-4 file), so the record handlers of every version are
// reached without the fuzzer having to build a compound file first.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/text.h"
#include "xls/workbook.h"
#include "xls_fuzz.h"

using xls_fuzz::CompoundFile;
using xls_fuzz::Read;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  xls::TXLSWorkbook wb;
  if (size >= 8 && std::memcmp(data, sig, 8) == 0) {
    Read(wb, std::vector<uint8_t>(data, data + size));
    return 0;
  }
  if (size < 1)
    return 0;
  switch (data[0] % 3) {
  case 0: Read(wb, CompoundFile(data + 1, size - 1, u"Workbook")); break;
  case 1: Read(wb, CompoundFile(data + 1, size - 1, u"Book")); break;
  default: {
    static const std::string path = "/tmp/fuzz_xls_workbook_" + std::to_string(getpid()) + ".xls";
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
      return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    wb.Filename = common::Utf8ToUtf16(path);
    Read(wb, {});
    break;
  }
  }
  return 0;
}
