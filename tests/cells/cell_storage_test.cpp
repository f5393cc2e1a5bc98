#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "cells/cell_storage.h"
#include "cells/formats.h"
#include "cells/sst.h"
#include "common/exception.h"

using namespace xls;

TEST(CellKeys, ColumnsWrapAndRowsOutsideTheSheetFindNothing) {
  EXPECT_EQ(CellKey(0, 0), 0u);
  EXPECT_EQ(CellKey(256, 3), CellKey(0, 3));
  EXPECT_EQ(CellKey(300, 3), CellKey(44, 3));
  EXPECT_EQ(CellKey(255, 65535), 65535u * 256 + 255);
  EXPECT_GE(CellKey(0, 65536), CellKeyLimit);
  EXPECT_GE(CellKey(0, -1), CellKeyLimit);
  EXPECT_GE(CellKey(0, 1LL << 40), CellKeyLimit);
}

TEST(CellStorage, ReplacementTakesOverTheFormatAndFreesTheOldCell) {
  TCellStorage store;
  uint32_t key = CellKey(2, 5);
  store.Put(key, store.NewCell<TFloatCell>(key, 1.5, 21));
  TCell *blank = store.Put(key, store.NewCell<TBlankCell>(key, 0));
  EXPECT_EQ(store.Find(key), blank);
  EXPECT_EQ(blank->CellKind(), ckBlank);
  EXPECT_EQ(blank->XF(), 21);
  EXPECT_EQ(store.CellCount(), 1u);

  // The same object again: kept, nothing freed (ASan would report a double free).
  EXPECT_EQ(store.Put(key, blank), blank);
  EXPECT_EQ(store.Find(key), blank);
  EXPECT_EQ(store.CellCount(), 1u);

  // Formula cells own their data; replacing one frees it (leak check).
  const uint8_t expr[] = {0x1E, 0x05, 0x00};
  store.Put(key, store.NewCell<TNumberFormulaCell>(key, 2.0, 3, 3, expr, 15));
  store.Put(key, store.NewCell<TFloatCell>(key, 3.0, 15));
  EXPECT_EQ(CellAs<TFloatCell>(store.Find(key))->Value(), 3.0);
}

TEST(CellStorage, FindAtTheLimitsAndAfterRemove) {
  TCellStorage store;
  uint32_t last = 65535u * 256 + 255;
  store.Put(last, store.NewCell<TFloatCell>(last, 7.0, 0));
  EXPECT_EQ(CellAs<TFloatCell>(store.Find(last))->Value(), 7.0);
  EXPECT_EQ(store.Find(CellKeyLimit), nullptr);
  EXPECT_EQ(store.Find(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(store.Find(last - 1), nullptr);
  EXPECT_EQ(store.Find(0), nullptr);

  // Remove of the last-found cell clears the shortcut.
  ASSERT_NE(store.Find(last), nullptr);
  store.Remove(last);
  EXPECT_EQ(store.Find(last), nullptr);
  store.Remove(last); // nothing there: no effect
  store.Remove(CellKeyLimit + 5);
  EXPECT_EQ(store.CellCount(), 0u);

  // A key outside the table is refused rather than written outside the root.
  EXPECT_THROW(store.Put(CellKeyLimit, store.NewCell<TBlankCell>(CellKeyLimit, 0)), common::Exception);
}

TEST(CellStorage, NextCellVisitsKeysInOrderWhateverTheStoreOrder) {
  TCellStorage store;
  std::vector<uint32_t> keys;
  for (int row : {0, 1, 15, 16, 255, 256, 4095, 65535})
    for (int col : {0, 1, 15, 16, 17, 200, 255})
      keys.push_back(CellKey(col, row));
  // Rows with cells only in the first sixteen columns are stored more compactly.
  for (int row : {2, 3, 300, 65534})
    for (int col : {0, 7, 15})
      keys.push_back(CellKey(col, row));
  std::sort(keys.begin(), keys.end());
  std::vector<uint32_t> shuffled = keys;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(42));
  for (uint32_t k : shuffled)
    store.Put(k, store.NewCell<TFloatCell>(k, double(k), 0));
  store.Remove(CellKey(16, 1)); // a hole inside a block
  keys.erase(std::find(keys.begin(), keys.end(), CellKey(16, 1)));

  store.ResetIteration();
  std::vector<uint32_t> seen;
  while (TCell *c = store.NextCell())
    seen.push_back(c->Key());
  EXPECT_EQ(seen, keys);
  EXPECT_EQ(store.NextCell(), nullptr); // stays exhausted
  EXPECT_EQ(store.Find(CellKey(16, 2)), nullptr);
  store.Remove(CellKey(16, 2)); // nothing there, nothing happens
  EXPECT_NE(store.Find(CellKey(15, 2)), nullptr);

  store.ResetIteration();
  ASSERT_NE(store.NextCell(), nullptr);
  EXPECT_EQ(store.NextCell()->Key(), CellKey(1, 0));

  store.ClearCells();
  EXPECT_EQ(store.CellCount(), 0u);
  EXPECT_EQ(store.MemoryUsed(), 0u);
  store.ResetIteration();
  EXPECT_EQ(store.NextCell(), nullptr);
  EXPECT_EQ(store.Find(CellKey(0, 0)), nullptr);

  // Blocks are new after a clear: a cell beside the last one stored before it lands in them.
  const uint32_t last = shuffled.back(), beside = last ^ 1;
  store.Put(beside, store.NewCell<TFloatCell>(beside, 1.5, 0));
  store.Put(last, store.NewCell<TFloatCell>(last, 2.5, 0));
  EXPECT_EQ(store.CellCount(), 2u);
  ASSERT_NE(store.Find(last), nullptr);
  EXPECT_EQ(static_cast<TFloatCell *>(store.Find(last))->Value(), 2.5);
  store.ResetIteration();
  EXPECT_EQ(store.NextCell()->Key(), std::min(last, beside));
}

TEST(CellStorage, ClonesCopyValuesAndCountStringReferences) {
  TCellStorage store;
  TSST2 sst;
  SSTEntry *entry = sst.AddText(u"shared");
  auto original = store.NewCell<TStringCell>(5, entry, 17);
  auto copy = store.Clone(*original);
  EXPECT_EQ(copy->CellKind(), ckString);
  EXPECT_EQ(copy->Key(), 5u);
  EXPECT_EQ(copy->XF(), 17);
  EXPECT_EQ(CellAs<TStringCell>(copy.get())->Entry(), entry);
  EXPECT_EQ(entry->RefCount, 2);

  const uint8_t expr[] = {1, 2, 3, 4};
  const uint8_t array[] = {9, 8, 7};
  auto formula = store.NewCell<TArrayFormulaCell>(6, 1, 3, array, 4.5, 2, 4, expr, 15);
  auto formulaCopy = store.Clone(*formula);
  formula.reset(); // the copy owns its own bytes
  const auto *af = CellAs<TArrayFormulaCell>(formulaCopy.get());
  ASSERT_NE(af, nullptr);
  EXPECT_EQ(af->FormulaValue(), 4.5);
  EXPECT_EQ(af->ExprBytes(), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(af->ExprLen(), 2u);
  EXPECT_EQ(af->ArrayBytes(), (std::vector<uint8_t>{9, 8, 7}));
  EXPECT_EQ(af->IsMember(), 1);
  EXPECT_NE(CellAs<TFormulaCell>(formulaCopy.get()), nullptr);
  EXPECT_EQ(CellAs<TFloatCell>(formulaCopy.get()), nullptr);

  auto sf = store.NewCell<TStringFormulaCell>(7, u"text", 0, 0, nullptr, 15);
  EXPECT_EQ(CellAs<TStringFormulaCell>(store.Clone(*sf).get())->FormulaValue(), u"text");

  // Cells move between stores only as clones.
  TCellStorage other;
  EXPECT_THROW(other.Put(7, std::move(sf)), common::Exception);
  TCell *moved = other.Put(5, other.Clone(*copy));
  EXPECT_EQ(TSST2::EntryText(CellAs<TStringCell>(moved)->Entry()), u"shared");
}

TEST(CellFormats, OutOfRangeXFFallsBackTo15) {
  TCellFormats formats;
  formats.AddDefaults(10);
  EXPECT_EQ(formats.ResolveXF(3), 3);
  EXPECT_EQ(formats.ResolveXF(10), 15); // fewer than 16 formats: the cell still stores
  formats.AddDefaults(10);
  EXPECT_EQ(formats.ResolveXF(19), 19);
  EXPECT_EQ(formats.ResolveXF(20), 15);
  EXPECT_EQ(formats.ResolveXF(4095), 15);
}

TEST(NumberFormats, BuiltInListAndFileFormats) {
  TNumberFormats formats;
  EXPECT_EQ(formats.Count(), 50);
  EXPECT_EQ(*formats.Find(0), u"General");
  EXPECT_EQ(*formats.Find(14), u"m/d/yy");
  EXPECT_EQ(*formats.Find(49), u"@");
  EXPECT_EQ(formats.Find(164), nullptr);
  formats.Add(164, u"0.000");
  formats.Add(14, u"dd/mm/yyyy");
  EXPECT_EQ(*formats.Find(164), u"0.000");
  EXPECT_EQ(*formats.Find(14), u"dd/mm/yyyy");
  formats.Reset();
  EXPECT_EQ(formats.Find(164), nullptr);
  EXPECT_EQ(*formats.Find(14), u"m/d/yy");
}

TEST(CellStorage, CellsBuiltAheadAndReusedSlotsLandUnderTheirKeys) {
  // Cells put in another order than they were built, across many pool blocks, and slots freed
  // and handed out again must each end up under their own key.
  TCellStorage store;
  constexpr int Count = 20000;
  std::vector<TCellStorage::TCellPtr> built;
  for (int i = 0; i < Count; ++i) {
    uint32_t key = CellKey(i % 200, i / 200);
    built.push_back(store.NewCell<TIntegerCell>(key, i, 0));
  }
  for (int i = Count - 1; i >= 0; --i) {
    uint32_t key = CellKey(i % 200, i / 200);
    store.Put(key, std::move(built[size_t(i)]));
  }
  for (int i = 0; i < Count; i += 2)
    store.Remove(CellKey(i % 200, i / 200));
  for (int i = 0; i < Count; i += 4) {
    uint32_t key = CellKey(i % 200, i / 200);
    store.Put(key, store.NewCell<TFloatCell>(key, -i, 0));
  }
  EXPECT_EQ(store.CellCount(), size_t(Count / 2 + Count / 4));
  for (int i = 0; i < Count; ++i) {
    TCell *cell = store.Find(CellKey(i % 200, i / 200));
    if (i % 4 == 0) {
      ASSERT_NE(cell, nullptr) << i;
      ASSERT_EQ(cell->CellKind(), ckFloat) << i;
      EXPECT_EQ(static_cast<TFloatCell *>(cell)->Value(), -i);
    } else if (i % 2 == 0) {
      EXPECT_EQ(cell, nullptr) << i;
    } else {
      ASSERT_NE(cell, nullptr) << i;
      ASSERT_EQ(cell->CellKind(), ckInteger) << i;
      EXPECT_EQ(static_cast<TIntegerCell *>(cell)->Value(), i);
    }
  }

  TCellStorage other;
  auto foreign = other.NewCell<TBlankCell>(0, 0);
  EXPECT_THROW(store.Put(0, foreign.get()), common::Exception);
}

TEST(CellStorage, LargeStoreFindsEveryCellAndStartsAgainWhenCleared) {
  TCellStorage store;
  for (int row = 0; row < 3000; ++row)
    for (int col = 0; col < 40; ++col)
      store.Put(CellKey(col, row), store.NewCell<TFloatCell>(CellKey(col, row), row + col / 100.0, 0));
  EXPECT_EQ(store.CellCount(), 120000u);
  EXPECT_EQ(static_cast<TFloatCell *>(store.Find(CellKey(39, 2999)))->Value(), 2999.39);
  EXPECT_EQ(static_cast<TFloatCell *>(store.Find(CellKey(17, 1234)))->Value(), 1234.17);
  store.ClearCells();
  EXPECT_EQ(store.MemoryUsed(), 0u);
  store.Put(CellKey(1, 1), store.NewCell<TFloatCell>(CellKey(1, 1), 5, 0));
  EXPECT_EQ(store.CellCount(), 1u);
  EXPECT_EQ(static_cast<TFloatCell *>(store.Find(CellKey(1, 1)))->Value(), 5);
}
