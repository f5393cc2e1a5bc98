#include "cells/cell_storage.h"

#include "cells/sst.h"
#include "common/exception.h"

namespace xls {

namespace {
[[noreturn]] void ForeignCell() { throw common::Exception("The cell belongs to another cell store"); }
} // namespace

uint32_t TCellStorage::NewSlot() {
  FFreeCells.reserve(FFreeCells.size() + 1); // so that giving the slot back cannot fail
  if (!FFreeCells.empty()) {
    const uint32_t id = FFreeCells.back();
    FFreeCells.pop_back();
    return id;
  }
  return FCells.Add();
}

void TCellStorage::DestroyCell(TCell *Cell) {
  // The formula classes add nothing to TFormulaCell; the others are trivially destructible.
  if (Cell->IsFormula())
    static_cast<TFormulaCell *>(Cell)->~TFormulaCell();
}

void TCellStorage::FreeCell(uint32_t Id, TCell *Cell) {
  if (!Cell)
    return;
  DestroyCell(Cell);
  FFreeCells.push_back(Id);
}

TCellStorage::TCellPtr TCellStorage::Clone(const TCell &Cell) {
  // Each clone is made as its own class, so that later casts by kind are to the object's type.
  switch (Cell.CellKind()) {
  case ckBlank: return CloneAs<TBlankCell>(Cell);
  case ckInteger: return CloneAs<TIntegerCell>(Cell);
  case ckFloat: return CloneAs<TFloatCell>(Cell);
  case ckString: {
    TCellPtr clone = CloneAs<TStringCell>(Cell);
    if (SSTEntry *entry = static_cast<const TStringCell &>(Cell).Entry())
      ++entry->RefCount; // the clone holds one more reference
    return clone;
  }
  case ckBoolean: return CloneAs<TBooleanCell>(Cell);
  case ckError: return CloneAs<TErrorCell>(Cell);
  case ckNumberFormula: return CloneAs<TNumberFormulaCell>(Cell);
  case ckStringFormula: return CloneAs<TStringFormulaCell>(Cell);
  case ckBooleanFormula: return CloneAs<TBooleanFormulaCell>(Cell);
  case ckErrorFormula: return CloneAs<TErrorFormulaCell>(Cell);
  case ckArrayFormula: return CloneAs<TArrayFormulaCell>(Cell);
  default: throw common::Exception(common::Format("Unknown cell kind %d", Cell.CellKind()));
  }
}

uint32_t *TCellStorage::Slot(uint32_t Key) {
  if (Key >= CellKeyLimit || !FRoot)
    return nullptr;
  const TLevel2 *level2 = (*FRoot)[Key >> 16].get();
  if (!level2)
    return nullptr;
  const uint32_t level3 = (*level2)[(Key >> 8) & 255];
  if (!level3)
    return nullptr;
  const uint32_t level4 = FBlocks[level3][(Key >> 4) & 15];
  return level4 ? &FBlocks[level4][Key & 15] : nullptr;
}

TCell *TCellStorage::Find(uint32_t Key) {
  if (FLastCell && FLastCell->Key() == Key)
    return FLastCell;
  const uint32_t *slot = Slot(Key);
  if (TCell *cell = slot ? CellAt(*slot) : nullptr) {
    FLastCell = cell;
    return cell;
  }
  return nullptr;
}

TCell *TCellStorage::Put(uint32_t Key, TCellPtr Cell) {
  if (!Cell)
    return nullptr;
  if (Cell.get_deleter().Store != this)
    ForeignCell();
  if (Key >= CellKeyLimit)
    common::ListIndexError(Key); // no place for it: refused instead of written outside the root
  if (!FRoot)
    FRoot = std::make_unique<std::array<std::unique_ptr<TLevel2>, 256>>();
  std::unique_ptr<TLevel2> &level2 = (*FRoot)[Key >> 16];
  if (!level2) {
    level2 = std::make_unique<TLevel2>();
    ++FLevel2Count;
  }
  // The pool's blocks never move, but an id must be read again after Add.
  uint32_t &level3 = (*level2)[(Key >> 8) & 255];
  if (!level3)
    level3 = FBlocks.Add();
  if (!FBlocks[level3][(Key >> 4) & 15]) {
    const uint32_t id = FBlocks.Add();
    FBlocks[level3][(Key >> 4) & 15] = id;
  }
  uint32_t &slot = FBlocks[FBlocks[level3][(Key >> 4) & 15]][Key & 15];
  const uint32_t id = Cell.get_deleter().Id;
  TCell *cell = Cell.release();
  if (TCell *old = CellAt(slot)) {
    // A replacement keeps the format of the cell it replaces.
    cell->SetXF(old->XF());
    FreeCell(slot, old);
  } else {
    ++FCellCount;
  }
  slot = id;
  FLastCell = cell;
  return cell;
}

TCell *TCellStorage::Put(uint32_t Key, TCell *Cell) {
  if (Cell && Find(Key) != Cell)
    ForeignCell();
  return Cell;
}

void TCellStorage::Remove(uint32_t Key) {
  uint32_t *slot = Slot(Key);
  TCell *cell = slot ? CellAt(*slot) : nullptr;
  if (!cell)
    return;
  if (FLastCell == cell)
    FLastCell = nullptr;
  FreeCell(*slot, cell);
  *slot = 0;
  --FCellCount;
}

void TCellStorage::ClearCells() {
  ResetIteration();
  while (TCell *cell = NextCell())
    DestroyCell(cell);
  FRoot.reset();
  FBlocks.Clear();
  FCells.Clear();
  std::vector<uint32_t>().swap(FFreeCells);
  FLastCell = nullptr;
  FCellCount = 0;
  FLevel2Count = 0;
  ResetIteration();
}

TCell *TCellStorage::NextCell() {
  if (!FRoot)
    return nullptr;
  // Blocks are freed only by ClearCells, which resets the iteration.
  for (; FCursor[0] < 256; ++FCursor[0], FCursor[1] = 0) {
    const TLevel2 *level2 = (*FRoot)[FCursor[0]].get();
    if (!level2)
      continue;
    for (; FCursor[1] < 256; ++FCursor[1], FCursor[2] = 0) {
      const uint32_t level3 = (*level2)[FCursor[1]];
      if (!level3)
        continue;
      for (; FCursor[2] < 16; ++FCursor[2], FCursor[3] = 0) {
        const uint32_t level4 = FBlocks[level3][FCursor[2]];
        if (!level4)
          continue;
        while (FCursor[3] < 16)
          if (const uint32_t cell = FBlocks[level4][FCursor[3]++])
            return CellAt(cell);
      }
    }
  }
  return nullptr;
}

size_t TCellStorage::MemoryUsed() const {
  return (FRoot ? sizeof(*FRoot) : 0) + FLevel2Count * sizeof(TLevel2) + FBlocks.Capacity * sizeof(TBlock16) +
         FCells.Capacity * sizeof(TCellSlot);
}

} // namespace xls
