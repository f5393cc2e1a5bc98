#pragma once

// A sheet's cells in a sparse four-level table keyed by CellKey: 256 root slots (row high byte),
// level-2 blocks of 256 (row low byte), level-3 blocks of 16 (column high half) and level-4
// blocks of 16 (column low half). Cells live in pooled 16-byte slots owned by the store.

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "xls/cells.h"

namespace xls {

class TCellStorage {
public:
  // Frees a cell built by this store that was never put into it.
  struct TCellDeleter {
    TCellStorage *Store = nullptr;
    void operator()(TCell *Cell) const { Store->FreeCell(Cell); }
  };
  using TCellPtr = std::unique_ptr<TCell, TCellDeleter>;

  TCellStorage();
  ~TCellStorage();
  TCellStorage(const TCellStorage &) = delete;
  TCellStorage &operator=(const TCellStorage &) = delete;

  // Builds a cell in the store's memory; it belongs to the store once Put.
  template <class T, class... Args> TCellPtr NewCell(Args &&...args) {
    void *slot = AllocateSlot();
    T *cell;
    try {
      cell = ::new (slot) T(std::forward<Args>(args)...);
    } catch (...) {
      ReturnSlot(slot);
      throw;
    }
    return TCellPtr(cell, TCellDeleter{this});
  }
  // A new cell of the same class with the same key, value and XF. A string clone counts one
  // more reference to its entry; formula clones copy their expression and array data.
  TCellPtr Clone(const TCell &Cell);

  // The cell under Key, or nullptr (also for keys at or above CellKeyLimit).
  TCell *Find(uint32_t Key);
  // Stores Cell under Key, creating missing blocks. A different cell found there is freed and
  // Cell takes over its XF. Key must be below CellKeyLimit (else the list-index error and Cell
  // is freed).
  TCell *Put(uint32_t Key, TCellPtr Cell);
  // The same for a cell the store already owns (putting a stored cell again under its key keeps
  // it and frees nothing).
  TCell *Put(uint32_t Key, TCell *Cell);
  // Frees the cell under Key; nothing when there is none.
  void Remove(uint32_t Key);
  // Frees every cell and block.
  void ClearCells();

  void ResetIteration();
  // The next cell in ascending key order, nullptr when exhausted (until ResetIteration).
  TCell *NextCell();

  size_t CellCount() const { return FCellCount; }
  // Bytes held by blocks and cell slots (not counting allocator overhead).
  size_t MemoryUsed() const;

private:
  struct TLevel4 {
    std::array<TCell *, 16> Slots{};
  };
  struct TLevel3 {
    std::array<TLevel4 *, 16> Slots{};
  };
  struct TLevel2 {
    std::array<TLevel3 *, 256> Slots{};
  };

  void SplitKey(uint32_t Key);
  void *AllocateSlot();
  void ReturnSlot(void *Slot);
  void FreeCell(TCell *Cell);
  static void DestroyCell(TCell *Cell);

  std::array<TLevel2 *, 256> FRoot{};
  int FPath[4] = {0, 0, 0, 0};
  int FCursor[4] = {0, 0, 0, 0};
  TCell *FLastCell = nullptr;
  size_t FCellCount = 0;
  size_t FBlockCount[3] = {0, 0, 0};

  // Cell slots come from chunks; freed slots are chained for reuse.
  struct TSlot {
    alignas(8) unsigned char Bytes[16];
  };
  std::vector<std::unique_ptr<TSlot[]>> FChunks;
  size_t FChunkUsed = 0; // slots handed out of the newest chunk
  size_t FChunkSize = 0; // slots in the newest chunk
  size_t FSlotCapacity = 0;
  void *FFreeSlots = nullptr;
};

} // namespace xls
