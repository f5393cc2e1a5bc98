// xls_warm_read FILE [PASSES]: reads FILE and writes it as xlsdump's JSON to /dev/null PASSES
// times (default 3) in one process, printing each pass's wall time. The heap is never given back,
// so from the second pass on the memory the first pass faulted in is used again: those passes
// time the reader's own work, the first one that work plus the page faults.

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>

#include "common/text.h"
#include "json_dump.h"
#include "workbooks/open_workbook.h"
#include "xls/workbook.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: xls_warm_read FILE [PASSES]\n");
    return 2;
  }
  const int passes = argc > 2 ? std::atoi(argv[2]) : 3;
  // Neither blocks mapped of their own (up to 32 MiB, the most every glibc takes) nor the top of
  // the heap go back to the system.
  if (!mallopt(M_MMAP_THRESHOLD, 32 << 20) || !mallopt(M_TRIM_THRESHOLD, 1 << 30)) {
    std::fprintf(stderr, "xls_warm_read: the allocator refused to keep its memory\n");
    return 2;
  }
  std::ofstream null("/dev/null");
  try {
    for (int pass = 1; pass <= passes; ++pass) {
      const auto start = std::chrono::steady_clock::now();
      {
        xls::TXLSWorkbook workbook;
        workbook.Filename = common::Utf8ToUtf16(argv[1]);
        workbooks::ReadWorkbook(workbook, 0);
        xlsdump::DumpWorkbook(null, workbook);
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      std::printf("pass %d: %.3f s\n", pass, took.count());
    }
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
