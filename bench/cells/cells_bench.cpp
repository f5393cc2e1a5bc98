// Memory and speed of the cell store and the shared string table.
//   cells_bench --benchmark_counters_tabular=true
// Memory is the growth of malloc's in-use bytes (mallinfo2) while the cells are stored, so it
// includes the table's blocks, the cell slots and the allocator's own overhead.

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <string>
#include <vector>

#include "cells/formats.h"
#include "cells/sheets.h"
#include "cells/sst.h"

namespace {

size_t InUse() { return mallinfo2().uordblks; }

std::u16string Text(int i) {
  std::u16string t = u"text-";
  for (int d = 1000000; d > 0; d /= 10)
    t.push_back(static_cast<char16_t>(u'0' + (i / d) % 10));
  return t;
}

struct Workbook {
  xls::TXLSFonts Fonts;
  xls::TCellFormats Formats;
  Workbook() {
    Fonts.Add();
    Formats.AddDefaults(21);
  }
};

// One million float cells over 65536 rows x 16 columns.
void FloatCells(benchmark::State &state) {
  constexpr int Rows = 65536, Cols = 16;
  double perCell = 0;
  for (auto _ : state) {
    Workbook wb;
    auto sheets = std::make_unique<xls::TSheets>(wb.Fonts, wb.Formats);
    xls::TSheet &sheet = sheets->AddSheet();
    size_t before = InUse();
    for (int r = 0; r < Rows; ++r)
      for (int c = 0; c < Cols; ++c)
        sheet.StoreFloat(c, r, r * 0.5 + c, 15);
    size_t after = InUse();
    perCell = double(after - before) / (Rows * Cols);
    benchmark::DoNotOptimize(sheet.AsFloat(7, 40000));
  }
  state.counters["cells"] = Rows * Cols;
  state.counters["bytes_per_cell"] = perCell;
  state.SetItemsProcessed(state.iterations() * Rows * Cols);
}
BENCHMARK(FloatCells)->Unit(benchmark::kMillisecond)->Iterations(3);

// One million string cells referring to 100000 distinct strings.
void StringCells(benchmark::State &state) {
  constexpr int Rows = 65536, Cols = 16, Distinct = 100000;
  constexpr int Cells = 1000000;
  double perCell = 0, perString = 0, cellsOnly = 0;
  for (auto _ : state) {
    Workbook wb;
    auto sheets = std::make_unique<xls::TSheets>(wb.Fonts, wb.Formats);
    xls::TSheet &sheet = sheets->AddSheet();
    size_t before = InUse();
    // The distinct strings first, as a read meets them in the SST.
    for (int i = 0; i < Distinct; ++i)
      sheet.StoreString(0, 0, Text(i), 15);
    sheet.DeleteCell(0, 0);
    size_t afterStrings = InUse();
    for (int n = 0; n < Cells; ++n)
      sheet.StoreString(n % Cols, (n / Cols) % Rows, Text(n % Distinct), 15);
    size_t after = InUse();
    perString = double(afterStrings - before) / Distinct;
    cellsOnly = double(after - afterStrings) / Cells;
    perCell = double(after - before) / Cells;
    if (sheets->SST().EntryCount() != size_t(Distinct))
      state.SkipWithError("distinct strings were not interned once");
  }
  state.counters["bytes_per_cell_total"] = perCell;
  state.counters["bytes_per_cell_without_strings"] = cellsOnly;
  state.counters["bytes_per_distinct_string"] = perString;
  state.SetItemsProcessed(state.iterations() * Cells);
}
BENCHMARK(StringCells)->Unit(benchmark::kMillisecond)->Iterations(3);

// A million distinct strings and as many repeats through the trie; every lookup must give the
// entry of its text, the counts must add up, and releasing everything must empty the table.
void TrieMillion(benchmark::State &state) {
  constexpr int Distinct = 1000000;
  double perString = 0;
  size_t nodes = 0, longest = 0;
  for (auto _ : state) {
    xls::TSST2 sst;
    std::vector<xls::SSTEntry *> entries(Distinct);
    size_t before = InUse();
    for (int i = 0; i < Distinct; ++i)
      entries[size_t(i)] = sst.AddText(Text(i));
    perString = double(InUse() - before - Distinct * sizeof(void *)) / Distinct;
    nodes = sst.NodeCount();
    longest = sst.LongestChain();
    bool ok = sst.EntryCount() == size_t(Distinct);
    for (int i = 0; i < Distinct && ok; ++i) {
      xls::SSTEntry *e = sst.AddText(Text(i));
      ok = e == entries[size_t(i)] && xls::TSST2::EntryText(e) == Text(i) && e->RefCount == 2;
    }
    long long refs = 0;
    sst.ForEach([&](void *item) { refs += static_cast<xls::SSTEntry *>(item)->RefCount; });
    ok = ok && refs == 2LL * Distinct;
    for (xls::SSTEntry *e : entries) {
      sst.ReleaseEntry(e);
      sst.ReleaseEntry(e);
    }
    ok = ok && sst.EntryCount() == 0 && sst.NodeCount() == 1;
    if (!ok)
      state.SkipWithError("trie lost or mixed up strings");
  }
  state.counters["bytes_per_string"] = perString;
  state.counters["nodes"] = double(nodes);
  state.counters["longest_chain"] = double(longest);
  state.SetItemsProcessed(state.iterations() * Distinct * 2);
}
BENCHMARK(TrieMillion)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
