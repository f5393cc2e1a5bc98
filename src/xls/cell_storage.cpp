#include "xls/cell_storage.h"

#include <algorithm>

#include "common/exception.h"
#include "xls/sst.h"

namespace xls {

namespace {
// Chunks grow from small (a sheet of a few cells stays small) to 4096 slots (64 KB).
constexpr size_t FirstChunkSlots = 32;
constexpr size_t MaxChunkSlots = 4096;
} // namespace

TCellStorage::TCellStorage() = default;

TCellStorage::~TCellStorage() { ClearCells(); }

void *TCellStorage::AllocateSlot() {
  if (FFreeSlots) {
    void *slot = FFreeSlots;
    FFreeSlots = *static_cast<void **>(slot);
    return slot;
  }
  if (FChunks.empty() || FChunkUsed == FChunkSize) {
    size_t size = FChunks.empty() ? FirstChunkSlots : std::min(FChunkSize * 2, MaxChunkSlots);
    FChunks.push_back(std::make_unique<TSlot[]>(size));
    FChunkSize = size;
    FChunkUsed = 0;
    FSlotCapacity += size;
  }
  return &FChunks.back()[FChunkUsed++];
}

void TCellStorage::ReturnSlot(void *Slot) {
  *static_cast<void **>(Slot) = FFreeSlots;
  FFreeSlots = Slot;
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

TCell *TCellStorage::Find(uint32_t Key) {
  if (Key >= CellKeyLimit)
    return nullptr;
  if (FLastCell && FLastCell->Key() == Key)
    return FLastCell;
  SplitKey(Key);
  TLevel2 *l2 = FRoot[FPath[0]];
  if (!l2)
    return nullptr;
  TLevel3 *l3 = l2->Slots[FPath[1]];
  if (!l3)
    return nullptr;
  TLevel4 *l4 = l3->Slots[FPath[2]];
  if (!l4)
    return nullptr;
  TCell *cell = l4->Slots[FPath[3]];
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
  SplitKey(Key);
  TLevel2 *&l2 = FRoot[FPath[0]];
  if (!l2) {
    l2 = new TLevel2();
    ++FBlockCount[0];
  }
  TLevel3 *&l3 = l2->Slots[FPath[1]];
  if (!l3) {
    l3 = new TLevel3();
    ++FBlockCount[1];
  }
  TLevel4 *&l4 = l3->Slots[FPath[2]];
  if (!l4) {
    l4 = new TLevel4();
    ++FBlockCount[2];
  }
  TCell *&slot = l4->Slots[FPath[3]];
  if (slot != Cell) {
    if (slot) {
      // A replacement keeps the format of the cell it replaces.
      Cell->SetXF(slot->XF());
      FreeCell(slot);
    } else {
      ++FCellCount;
    }
    slot = Cell;
  }
  FLastCell = Cell;
  return Cell;
}

void TCellStorage::Remove(uint32_t Key) {
  if (Key >= CellKeyLimit)
    return;
  SplitKey(Key);
  TLevel2 *l2 = FRoot[FPath[0]];
  if (!l2)
    return;
  TLevel3 *l3 = l2->Slots[FPath[1]];
  if (!l3)
    return;
  TLevel4 *l4 = l3->Slots[FPath[2]];
  if (!l4)
    return;
  TCell *&slot = l4->Slots[FPath[3]];
  if (!slot)
    return;
  if (FLastCell == slot)
    FLastCell = nullptr;
  FreeCell(slot);
  slot = nullptr;
  --FCellCount;
}

void TCellStorage::ClearCells() {
  for (TLevel2 *&l2 : FRoot) {
    if (!l2)
      continue;
    for (TLevel3 *l3 : l2->Slots) {
      if (!l3)
        continue;
      for (TLevel4 *l4 : l3->Slots) {
        if (!l4)
          continue;
        for (TCell *cell : l4->Slots)
          if (cell)
            DestroyCell(cell);
        delete l4;
      }
      delete l3;
    }
    delete l2;
    l2 = nullptr;
  }
  // Every slot was in a block, so the chunks can go as a whole.
  FChunks.clear();
  FChunkUsed = 0;
  FChunkSize = 0;
  FSlotCapacity = 0;
  FFreeSlots = nullptr;
  FLastCell = nullptr;
  FCellCount = 0;
  FBlockCount[0] = FBlockCount[1] = FBlockCount[2] = 0;
  ResetIteration();
}

void TCellStorage::ResetIteration() { FCursor[0] = FCursor[1] = FCursor[2] = FCursor[3] = 0; }

TCell *TCellStorage::NextCell() {
  for (; FCursor[0] < 256; ++FCursor[0], FCursor[1] = 0) {
    TLevel2 *l2 = FRoot[FCursor[0]];
    if (!l2)
      continue;
    for (; FCursor[1] < 256; ++FCursor[1], FCursor[2] = 0) {
      TLevel3 *l3 = l2->Slots[FCursor[1]];
      if (!l3)
        continue;
      for (; FCursor[2] < 16; ++FCursor[2], FCursor[3] = 0) {
        TLevel4 *l4 = l3->Slots[FCursor[2]];
        if (!l4)
          continue;
        for (; FCursor[3] < 16; ++FCursor[3])
          if (TCell *cell = l4->Slots[FCursor[3]]) {
            ++FCursor[3];
            return cell;
          }
      }
    }
  }
  return nullptr;
}

size_t TCellStorage::MemoryUsed() const {
  return FBlockCount[0] * sizeof(TLevel2) + FBlockCount[1] * sizeof(TLevel3) +
         FBlockCount[2] * sizeof(TLevel4) + FSlotCapacity * sizeof(TSlot);
}

} // namespace xls
