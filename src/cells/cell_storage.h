#pragma once

// A sheet's cells in a sparse four-level table keyed by CellKey: 256 root slots (row high byte),
// level-2 blocks of 256 (row low byte), level-3 blocks of 16 (column high half) and level-4
// blocks of 16 (column low half), each holding one cell.

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "cells/cells.h"

namespace xls {

class TCellStorage {
public:
  // Frees a cell built by this store that was never put into it.
  struct TCellDeleter {
    TCellStorage *Store = nullptr;
    uint32_t Id = 0;
    void operator()(TCell *Cell) const { Store->FreeCell(Id, Cell); }
  };
  using TCellPtr = std::unique_ptr<TCell, TCellDeleter>;

  TCellStorage() = default;
  ~TCellStorage() { ClearCells(); }
  TCellStorage(const TCellStorage &) = delete;
  TCellStorage &operator=(const TCellStorage &) = delete;

  // Builds a cell in the store's memory; it belongs to the store once Put.
  template <class T, class... Args> TCellPtr NewCell(Args &&...args) {
    static_assert(sizeof(T) == sizeof(TCellSlot));
    const uint32_t id = NewSlot();
    T *cell;
    try {
      cell = ::new (&FCells[id]) T(std::forward<Args>(args)...);
    } catch (...) {
      FFreeCells.push_back(id);
      throw;
    }
    return TCellPtr(cell, TCellDeleter{this, id});
  }
  // A new cell of the same class with the same key, value and XF. A string clone counts one
  // more reference to its entry; formula clones copy their expression and array data.
  TCellPtr Clone(const TCell &Cell);
  template <class T> TCellPtr CloneAs(const TCell &Cell) { return NewCell<T>(static_cast<const T &>(Cell)); }

  // The cell under Key, or nullptr (also for keys at or above CellKeyLimit).
  TCell *Find(uint32_t Key);
  // Stores Cell under Key, creating missing blocks. A different cell found there is freed and
  // Cell takes over its XF. A key at or above CellKeyLimit, or a cell of another store, is
  // refused with an exception (and Cell freed).
  TCell *Put(uint32_t Key, TCellPtr Cell);
  // Putting the cell stored under Key again keeps it and frees nothing; any other is refused.
  TCell *Put(uint32_t Key, TCell *Cell);
  // Frees the cell under Key; nothing when there is none.
  void Remove(uint32_t Key);
  // Frees every cell and block.
  void ClearCells();

  void ResetIteration() { FCursor[0] = FCursor[1] = FCursor[2] = FCursor[3] = 0; }
  // The next cell in ascending key order, nullptr when exhausted (until ResetIteration).
  TCell *NextCell();

  size_t CellCount() const { return FCellCount; }
  // Bytes held by blocks and cells (not counting allocator overhead).
  size_t MemoryUsed() const;

private:
  struct alignas(8) TCellSlot {
    unsigned char Bytes[16];
  };
  // Blocks and cells live in pools and are referred to by 32-bit ids (0 = empty), half the size
  // of pointers in the many small blocks of a large sheet.
  // Blocks grow from 16 items to 4096, so a sheet of a few cells stays small.
  template <class T> struct TPool {
    std::vector<std::unique_ptr<T[]>> Blocks;
    uint32_t Count = 0, Capacity = 0;
    static constexpr uint32_t Small = 16 * 255; // items in the growing blocks 0 to 7
    T &operator[](uint32_t Id) const {
      const uint32_t i = Id - 1;
      if (i < Small) {
        const int block = std::bit_width(i / 16 + 1) - 1;
        return Blocks[size_t(block)][i - 16 * ((1u << block) - 1)];
      }
      return Blocks[8 + (i - Small) / 4096][(i - Small) % 4096];
    }
    uint32_t Add() { // zero-filled
      if (Count == Capacity) {
        const size_t size = Blocks.size() < 8 ? size_t(16) << Blocks.size() : 4096;
        Blocks.reserve(Blocks.size() + 1);
        Blocks.push_back(std::make_unique<T[]>(size));
        Capacity += static_cast<uint32_t>(size);
      }
      return ++Count;
    }
    void Clear() {
      Blocks.clear();
      Count = Capacity = 0;
    }
  };
  using TBlock16 = std::array<uint32_t, 16>; // a level-3 or level-4 block
  using TLevel2 = std::array<uint32_t, 256>;

  uint32_t NewSlot();
  void FreeCell(uint32_t Id, TCell *Cell);
  static void DestroyCell(TCell *Cell);
  TCell *CellAt(uint32_t Id) const { return Id ? reinterpret_cast<TCell *>(&FCells[Id]) : nullptr; }
  // The level-4 slot of Key, or nullptr when its blocks are missing.
  uint32_t *Slot(uint32_t Key);

  // The root's 256 slots are made with the first cell, so that an empty sheet costs nothing.
  std::unique_ptr<std::array<std::unique_ptr<TLevel2>, 256>> FRoot;
  int FCursor[4] = {0, 0, 0, 0};
  TCell *FLastCell = nullptr;
  size_t FCellCount = 0;
  size_t FLevel2Count = 0;
  TPool<TBlock16> FBlocks;
  TPool<TCellSlot> FCells;
  std::vector<uint32_t> FFreeCells;
};

} // namespace xls
