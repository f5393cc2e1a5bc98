#pragma once

// A sheet's cells in a sparse four-level table keyed by CellKey: 256 root slots (row high byte),
// level-2 blocks of 256 (row low byte), level-3 blocks of 16 (column high half) and level-4
// blocks of 16 (column low half). Cells live in pooled 16-byte slots owned by the store.

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "xls/cells.h"
#include "xls/chunks.h"

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
  TCell *NextCell() {
    // Most cells follow the previous one in its level-4 block.
    if (FCursorBlock)
      while (FCursor[3] < 16)
        if (uint32_t cell = FCursorBlock->Slots[FCursor[3]++])
          return CellAt(cell);
    return NextCellInNextBlock();
  }

  size_t CellCount() const { return FCellCount; }
  // Bytes held by blocks and cell slots (not counting allocator overhead).
  size_t MemoryUsed() const;

private:
  // Blocks and cells are referred to by 32-bit ids (0 = empty) into pools of chunks; that halves
  // the blocks next to 64-bit pointers, and pooling spares an allocator header per block.
  struct TLevel4 {
    std::array<uint32_t, 16> Slots{}; // cell ids
  };
  struct TLevel3 {
    std::array<uint32_t, 16> Slots{}; // level-4 block ids
  };
  struct TLevel2 {
    // Level-3 block ids; a row with cells only in columns 0-15 (most rows) goes without a
    // level-3 block: its slot holds its one level-4 block id with DirectLevel4 set.
    std::array<uint32_t, 256> Slots{};
  };
  static constexpr uint32_t DirectLevel4 = 0x80000000u;

  // Chunks grow from small (a sheet of a few cells stays small) to 2^Shift items, which fill one
  // 64 KiB chunk of the shared chunk memory; an id is chunk << Shift | position, plus one. Items
  // start zero-filled.
  template <class T, int Shift> struct TPool {
    static_assert(sizeof(T) << Shift == ChunkBytes && std::is_trivially_copyable_v<T>);
    struct TFree {
      void operator()(T *Chunk) const noexcept {
        if (Full)
          FreeChunk(Chunk);
        else
          delete[] Chunk;
      }
      bool Full = false;
    };
    std::vector<std::unique_ptr<T[], TFree>> Chunks;
    size_t Used = 0; // items handed out of the newest chunk
    size_t Size = 0; // items in the newest chunk
    size_t Capacity = 0;

    T &operator[](uint32_t Id) const {
      return Chunks[(Id - 1) >> Shift][(Id - 1) & ((uint32_t(1) << Shift) - 1)];
    }
    uint32_t Add() {
      if (Chunks.empty() || Used == Size) {
        Size = Chunks.empty() ? 8 : std::min(Size * 2, size_t(1) << Shift);
        const bool full = Size == size_t(1) << Shift;
        Chunks.reserve(Chunks.size() + 1);
        Chunks.emplace_back(full ? static_cast<T *>(NewChunk()) : new T[Size](), TFree{full});
        Used = 0;
        Capacity += Size;
      }
      return static_cast<uint32_t>(((Chunks.size() - 1) << Shift) | Used++) + 1;
    }
    void Clear() {
      Chunks.clear();
      Used = Size = Capacity = 0;
    }
  };

  TCell *NextCellInNextBlock();
  void SplitKey(uint32_t Key);
  void *AllocateSlot();
  void ReturnSlot(void *Slot);
  void FreeCell(TCell *Cell);
  static void DestroyCell(TCell *Cell);
  uint32_t SlotId(const TCell *Cell) const;
  TCell *CellAt(uint32_t Id) const { return Id ? reinterpret_cast<TCell *>(FSlots[Id].Bytes) : nullptr; }
  // The level-4 block id of a column-high half under a level-2 slot, or 0.
  uint32_t Level4Id(uint32_t Level2Slot, int ColumnHigh) const;
  // The slot id of a level-4 position, or nullptr when its blocks are missing.
  uint32_t *Level4Slot(uint32_t Key);

  std::array<TLevel2 *, 256> FRoot{};
  int FPath[4] = {0, 0, 0, 0};
  int FCursor[4] = {0, 0, 0, 0};
  const TLevel4 *FCursorBlock = nullptr; // the level-4 block the cursor stands in, when known
  TCell *FLastCell = nullptr;
  // The level-4 block the last Put went to and its key without the column's low half.
  TLevel4 *FPutBlock = nullptr;
  uint32_t FPutBlockKey = 0;
  size_t FCellCount = 0;
  size_t FLevel2Count = 0;

  struct TSlot {
    alignas(8) unsigned char Bytes[16];
  };
  // A free slot holds the next free slot and its own id.
  struct TFreeSlot {
    void *Next;
    uint32_t Id;
  };
  TPool<TLevel3, 10> FLevel3;
  TPool<TLevel4, 10> FLevel4;
  TPool<TSlot, 12> FSlots;
  void *FFreeSlots = nullptr;
  // Slot chunks by address, to find the id of a cell that is not the one just built.
  std::vector<std::pair<uintptr_t, uint32_t>> FChunkByAddress;
  void *FNewestSlot = nullptr;
  uint32_t FNewestSlotId = 0;
};

} // namespace xls
