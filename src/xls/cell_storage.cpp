#include "xls/cell_storage.h"

#include <algorithm>

#include "common/exception.h"
#include "xls/sst.h"

namespace xls {

namespace {} // namespace

TCellStorage::TCellStorage() = default;

TCellStorage::~TCellStorage() { ClearCells(); }

void *TCellStorage::AllocateSlot() {
  if (FFreeSlots) {
    auto *free = static_cast<TFreeSlot *>(FFreeSlots);
    FFreeSlots = free->Next;
    FNewestSlot = free;
    FNewestSlotId = free->Id;
    return free;
  }
  const size_t chunks = FSlots.Chunks.size();
  const uint32_t id = FSlots.Add();
  void *slot = &FSlots[id];
  if (FSlots.Chunks.size() != chunks) {
    auto entry = std::make_pair(reinterpret_cast<uintptr_t>(FSlots.Chunks.back().get()),
                                static_cast<uint32_t>(FSlots.Chunks.size() - 1));
    FChunkByAddress.insert(std::upper_bound(FChunkByAddress.begin(), FChunkByAddress.end(), entry), entry);
  }
  FNewestSlot = slot;
  FNewestSlotId = id;
  return slot;
}

void TCellStorage::ReturnSlot(void *Slot) {
  auto *free = static_cast<TFreeSlot *>(Slot);
  const uint32_t id = SlotId(static_cast<TCell *>(Slot));
  free->Next = FFreeSlots;
  free->Id = id;
  FFreeSlots = free;
  if (FNewestSlot == Slot)
    FNewestSlot = nullptr;
}

uint32_t TCellStorage::SlotId(const TCell *Cell) const {
  if (Cell == FNewestSlot)
    return FNewestSlotId; // the cell just built, the usual case
  const auto address = reinterpret_cast<uintptr_t>(Cell);
  auto it =
      std::upper_bound(FChunkByAddress.begin(), FChunkByAddress.end(), std::make_pair(address, UINT32_MAX));
  if (it == FChunkByAddress.begin())
    throw common::Exception("The cell belongs to another cell store");
  --it;
  const size_t offset = (address - it->first) / sizeof(TSlot);
  const size_t size = it->second >= 9 ? size_t(1) << 12 : size_t(8) << it->second;
  if (offset >= size)
    throw common::Exception("The cell belongs to another cell store");
  return static_cast<uint32_t>((size_t(it->second) << 12) | offset) + 1;
}

void TCellStorage::DestroyCell(TCell *Cell) {
  switch (Cell->CellKind()) {
  case ckNumberFormula: static_cast<TNumberFormulaCell *>(Cell)->~TNumberFormulaCell(); break;
  case ckStringFormula: static_cast<TStringFormulaCell *>(Cell)->~TStringFormulaCell(); break;
  case ckBooleanFormula: static_cast<TBooleanFormulaCell *>(Cell)->~TBooleanFormulaCell(); break;
  case ckErrorFormula: static_cast<TErrorFormulaCell *>(Cell)->~TErrorFormulaCell(); break;
  case ckArrayFormula: static_cast<TArrayFormulaCell *>(Cell)->~TArrayFormulaCell(); break;
  default: break; // the other classes are trivially destructible
  }
}

void TCellStorage::FreeCell(TCell *Cell) {
  if (!Cell)
    return;
  DestroyCell(Cell);
  ReturnSlot(Cell);
}

TCellStorage::TCellPtr TCellStorage::Clone(const TCell &Cell) {
  switch (Cell.CellKind()) {
  case ckBlank: return NewCell<TBlankCell>(static_cast<const TBlankCell &>(Cell));
  case ckInteger: return NewCell<TIntegerCell>(static_cast<const TIntegerCell &>(Cell));
  case ckFloat: return NewCell<TFloatCell>(static_cast<const TFloatCell &>(Cell));
  case ckString: {
    auto clone = NewCell<TStringCell>(static_cast<const TStringCell &>(Cell));
    if (SSTEntry *entry = static_cast<const TStringCell &>(Cell).Entry())
      ++entry->RefCount;
    return clone;
  }
  case ckBoolean: return NewCell<TBooleanCell>(static_cast<const TBooleanCell &>(Cell));
  case ckError: return NewCell<TErrorCell>(static_cast<const TErrorCell &>(Cell));
  case ckNumberFormula: return NewCell<TNumberFormulaCell>(static_cast<const TNumberFormulaCell &>(Cell));
  case ckStringFormula: return NewCell<TStringFormulaCell>(static_cast<const TStringFormulaCell &>(Cell));
  case ckBooleanFormula: return NewCell<TBooleanFormulaCell>(static_cast<const TBooleanFormulaCell &>(Cell));
  case ckErrorFormula: return NewCell<TErrorFormulaCell>(static_cast<const TErrorFormulaCell &>(Cell));
  case ckArrayFormula: return NewCell<TArrayFormulaCell>(static_cast<const TArrayFormulaCell &>(Cell));
  default: throw common::Exception(common::Format("Unknown cell kind %d", Cell.CellKind()));
  }
}

void TCellStorage::SplitKey(uint32_t Key) {
  FPath[0] = static_cast<int>(Key >> 16);
  FPath[1] = static_cast<int>((Key >> 8) & 255);
  FPath[2] = static_cast<int>((Key >> 4) & 15);
  FPath[3] = static_cast<int>(Key & 15);
}

uint32_t TCellStorage::Level4Id(uint32_t Level2Slot, int ColumnHigh) const {
  if (Level2Slot & DirectLevel4)
    return ColumnHigh == 0 ? Level2Slot & ~DirectLevel4 : 0;
  return Level2Slot ? FLevel3[Level2Slot].Slots[ColumnHigh] : 0;
}

uint32_t *TCellStorage::Level4Slot(uint32_t Key) {
  SplitKey(Key);
  TLevel2 *l2 = FRoot[FPath[0]];
  if (!l2)
    return nullptr;
  uint32_t l4 = Level4Id(l2->Slots[FPath[1]], FPath[2]);
  if (!l4)
    return nullptr;
  return &FLevel4[l4].Slots[FPath[3]];
}

TCell *TCellStorage::Find(uint32_t Key) {
  if (Key >= CellKeyLimit)
    return nullptr;
  if (FLastCell && FLastCell->Key() == Key)
    return FLastCell;
  uint32_t *slot = Level4Slot(Key);
  TCell *cell = slot ? CellAt(*slot) : nullptr;
  if (cell)
    FLastCell = cell;
  return cell;
}

TCell *TCellStorage::Put(uint32_t Key, TCellPtr Cell) {
  // A cell lives in its store's memory; adopting another store's cell would free it there.
  if (Cell && Cell.get_deleter().Store != this)
    throw common::Exception("The cell belongs to another cell store");
  TCell *cell = Cell.release();
  return Put(Key, cell);
}

TCell *TCellStorage::Put(uint32_t Key, TCell *Cell) {
  if (!Cell)
    return nullptr;
  if (Key >= CellKeyLimit) {
    // The table has no place for it; refuse instead of writing outside the root.
    FreeCell(Cell);
    common::ListIndexError(Key);
  }
  const uint32_t id = SlotId(Cell);
  // A block just added is all empty and is written without being read first: a page of fresh
  // memory that is read first is mapped to the shared zero page, and the write after it then
  // costs a second fault and a flush of the other processors' address caches.
  bool fresh = false;
  // Cells arrive mostly in row order, so the block of the previous cell is usually the one.
  if (!FPutBlock || Key >> 4 != FPutBlockKey) {
    SplitKey(Key);
    TLevel2 *&l2 = FRoot[FPath[0]];
    if (!l2) {
      l2 = new TLevel2();
      ++FLevel2Count;
    }
    uint32_t &row = l2->Slots[FPath[1]];
    if (!row && FPath[2] == 0) {
      row = FLevel4.Add() | DirectLevel4;
      fresh = true;
    } else if (!row || ((row & DirectLevel4) && FPath[2] != 0)) {
      // The first cell of the row beyond column 15 gives it its level-3 block.
      const uint32_t l3 = FLevel3.Add();
      if (row)
        FLevel3[l3].Slots[0] = row & ~DirectLevel4;
      row = l3;
    }
    uint32_t l4 = Level4Id(row, FPath[2]);
    if (!l4) {
      l4 = FLevel4.Add();
      FLevel3[row].Slots[FPath[2]] = l4; // pool chunks never move
      fresh = true;
    }
    FPutBlock = &FLevel4[l4];
    FPutBlockKey = Key >> 4;
  }
  uint32_t &slot = FPutBlock->Slots[Key & 15];
  if (fresh) {
    ++FCellCount;
    slot = id;
  } else if (slot != id) {
    if (TCell *old = CellAt(slot)) {
      // A replacement keeps the format of the cell it replaces.
      Cell->SetXF(old->XF());
      FreeCell(old);
    } else {
      ++FCellCount;
    }
    slot = id;
  }
  FLastCell = Cell;
  return Cell;
}

void TCellStorage::Remove(uint32_t Key) {
  if (Key >= CellKeyLimit)
    return;
  uint32_t *slot = Level4Slot(Key);
  TCell *cell = slot ? CellAt(*slot) : nullptr;
  if (!cell)
    return;
  if (FLastCell == cell)
    FLastCell = nullptr;
  FreeCell(cell);
  *slot = 0;
  --FCellCount;
}

void TCellStorage::ClearCells() {
  for (TLevel2 *&l2 : FRoot) {
    if (!l2)
      continue;
    for (uint32_t row : l2->Slots)
      for (int high = 0; high < 16; ++high)
        if (uint32_t l4 = Level4Id(row, high))
          for (uint32_t cell : FLevel4[l4].Slots)
            if (cell)
              DestroyCell(CellAt(cell));
    delete l2;
    l2 = nullptr;
  }
  // Every block and slot was in a pool, so the pools can go as a whole.
  FLevel3.Clear();
  FLevel4.Clear();
  FPutBlock = nullptr;
  FSlots.Clear();
  std::vector<std::pair<uintptr_t, uint32_t>>().swap(FChunkByAddress);
  FFreeSlots = nullptr;
  FNewestSlot = nullptr;
  FNewestSlotId = 0;
  FLastCell = nullptr;
  FCellCount = 0;
  FLevel2Count = 0;
  ResetIteration();
}

void TCellStorage::ResetIteration() {
  FCursor[0] = FCursor[1] = FCursor[2] = FCursor[3] = 0;
  FCursorBlock = nullptr;
}

TCell *TCellStorage::NextCellInNextBlock() {
  // Blocks are freed only by ClearCells, which resets the iteration.
  FCursorBlock = nullptr;
  for (; FCursor[0] < 256; ++FCursor[0], FCursor[1] = 0) {
    TLevel2 *l2 = FRoot[FCursor[0]];
    if (!l2)
      continue;
    for (; FCursor[1] < 256; ++FCursor[1], FCursor[2] = 0) {
      const uint32_t row = l2->Slots[FCursor[1]];
      if (!row)
        continue;
      const int highs = (row & DirectLevel4) ? 1 : 16;
      for (; FCursor[2] < highs; ++FCursor[2], FCursor[3] = 0) {
        uint32_t l4 = Level4Id(row, FCursor[2]);
        if (!l4)
          continue;
        const TLevel4 &level4 = FLevel4[l4];
        for (; FCursor[3] < 16; ++FCursor[3])
          if (uint32_t cell = level4.Slots[FCursor[3]]) {
            ++FCursor[3];
            FCursorBlock = &level4;
            return CellAt(cell);
          }
      }
    }
  }
  return nullptr;
}

size_t TCellStorage::MemoryUsed() const {
  return FLevel2Count * sizeof(TLevel2) + FLevel3.Capacity * sizeof(TLevel3) +
         FLevel4.Capacity * sizeof(TLevel4) + FSlots.Capacity * sizeof(TSlot) +
         FChunkByAddress.capacity() * sizeof(FChunkByAddress[0]);
}

} // namespace xls
