#pragma once

// The shared string table: every distinct string of a workbook stored once, interned in a hash
// trie and reference-counted; string cells point at their entry directly.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cells/crc32.h"
#include "common/bytes.h"
#include "common/exception.h"

namespace xls {

class TXLSStream;
class SSTReader;
class TXLSFonts;
struct TXLSFont;

// One string in one block of memory: this header; the sizes of its runs and phonetic block when
// it has either (most strings have neither and go without); the key bytes (characters in the
// file's width, runs as 4-byte pairs of first character and font index, the phonetic block);
// then, 8-byte aligned, one font reference per run.
struct SSTEntry {
  int32_t Index; // position in the SST when read; 65535 for AddText entries
  int32_t RefCount;
  uint16_t CharCount;
  uint8_t Options; // 0x01 16-bit characters, 0x04 phonetic block, 0x08 runs
  uint8_t Reserved;

  struct TSizes {
    uint16_t RunCount;
    int32_t ExtSize; // bytes of the phonetic block
  };
  static bool HasSizes(uint8_t Options) { return (Options & 0x0C) != 0; }
  static size_t HeaderBytes(uint8_t Options) {
    return sizeof(SSTEntry) + (HasSizes(Options) ? sizeof(TSizes) : 0);
  }

  int32_t SSTIndex() const { return Index; }
  uint16_t RunCount() const { return HasSizes(Options) ? Sizes()->RunCount : 0; }
  int32_t ExtSize() const { return HasSizes(Options) ? Sizes()->ExtSize : 0; }

  bool Wide() const { return (Options & 0x01) != 0; }
  const uint8_t *Key() const { return reinterpret_cast<const uint8_t *>(this) + HeaderBytes(Options); }
  uint8_t *Key() { return reinterpret_cast<uint8_t *>(this) + HeaderBytes(Options); }
  size_t KeyLength() const { return CharBytes() + size_t(RunCount()) * 4 + size_t(ExtSize()); }
  size_t CharBytes() const { return Wide() ? size_t(CharCount) * 2 : CharCount; }
  const uint8_t *Chars() const { return Key(); }
  // The index of the first character of run i.
  uint16_t RunFirstChar(int i) const { return common::Get16(Key() + CharBytes() + size_t(i) * 4); }
  TXLSFont *RunFont(int i) const { return RunFonts()[i]; }
  TXLSFont **RunFonts() const;
  const uint8_t *Phonetic() const { return Key() + CharBytes() + size_t(RunCount()) * 4; }

  // Bytes of an entry of this shape, font references included.
  static size_t Bytes(uint8_t Options, size_t KeyLength, uint16_t RunCount);

private:
  const TSizes *Sizes() const { return reinterpret_cast<const TSizes *>(this + 1); }
  friend class TSST2;
};
static_assert(sizeof(SSTEntry) == 12);

// A hash trie of 256-slot nodes: a slot is empty, a chain of up to 8 items, or a child node one
// level deeper; depth d uses hash byte d. A full chain becomes a child node, except at depth 3,
// where the hash is used up and chains grow. Items are opaque to it: the virtual operations
// give their hash, key and equality, and free them.
class THashTrie {
public:
  THashTrie() = default;
  virtual ~THashTrie();
  THashTrie(const THashTrie &) = delete;
  THashTrie &operator=(const THashTrie &) = delete;

  // The stored item equal to Item, or nullptr.
  void *Find(const void *Item) const;
  // Inserts Item unless an equal one is stored; returns the stored item (Item or the equal one).
  void *Insert(void *Item);
  // Unlinks Item (the very object) from the trie without freeing it; false when not stored.
  bool Remove(const void *Item);
  // Frees every item once and every node.
  void ClearTrie();
  size_t ItemCount() const { return FItemCount; }
  // Calls f for every stored item (any order).
  void ForEach(const std::function<void(void *)> &f) const;
  // Number of nodes and longest chain, for tests and benchmarks.
  size_t NodeCount() const;
  size_t LongestChain() const;

  // A chain: the hashes of its items, then the items, so that a search reads the hashes and
  // touches only an item whose hash matches.
  struct TChain {
    uint32_t Count; // unbounded at the last depth, where colliding keys meet
    uint32_t Capacity;
    uint32_t *Hashes() { return reinterpret_cast<uint32_t *>(this + 1); } // Capacity of them
    void **Items() { return reinterpret_cast<void **>(reinterpret_cast<char *>(this) + ItemsAt(Capacity)); }
    static size_t ItemsAt(size_t Capacity) { return (sizeof(TChain) + 4 * Capacity + 7) & ~size_t(7); }
    static size_t Bytes(size_t Capacity) { return ItemsAt(Capacity) + Capacity * sizeof(void *); }
  };
  struct TTreeItem;

protected:
  // Stores Item, whose hash is Hash, unless an equal item is stored: returns that item, or
  // nullptr when Item was stored.
  void *InsertWithHash(void *Item, uint32_t Hash);

  virtual uint32_t HashOf(const void *Item) const;
  virtual void FreeItem(void *Item) = 0;
  virtual bool ItemsEqual(const void *A, const void *B) const;
  virtual size_t KeyLength(const void *Item) const = 0;
  virtual const uint8_t *KeyStart(const void *Item) const = 0;

private:
  // Block resized to Bytes (a new one when null), as realloc; throws when memory is short.
  static void *Resize(void *Block, size_t Bytes);
  // Chain (a new one when null) with Item added; it may move.
  static TChain *AddToChain(TChain *Chain, void *Item, uint32_t Hash);
  void FreeNode(TTreeItem *Node, bool FreeItems);

  TTreeItem *FRoot = nullptr;
  size_t FItemCount = 0;
};

// The trie specialised for SSTEntry: key = characters, runs and phonetic block; hash = the
// CRC-32 register without the final inversion (the empty key hashes to 0xFFFFFFFF).
class TSSTHashTrie : public THashTrie {
public:
  ~TSSTHashTrie() override { ClearTrie(); }
  static uint32_t KeyHash(const uint8_t *Key, size_t Length) { return Crc32Update(0xFFFFFFFFu, Key, Length); }

protected:
  void FreeItem(void *) override {} // entries live in the table's arena
  // Entries are equal when options, counts and key bytes all are: bytes alone would join an
  // 8-bit "AB" and a 16-bit U+4241, or a text with runs and the same text without.
  bool ItemsEqual(const void *A, const void *B) const override;
  size_t KeyLength(const void *Item) const override { return static_cast<const SSTEntry *>(Item)->KeyLength(); }
  const uint8_t *KeyStart(const void *Item) const override { return static_cast<const SSTEntry *>(Item)->Key(); }
};

class TSST2 : public TSSTHashTrie {
public:
  // Fonts (not owned) turn the font indexes of runs into font references; may be null for a
  // table that never meets runs.
  explicit TSST2(TXLSFonts *Fonts = nullptr) : FFonts(Fonts) {}
  ~TSST2() override;

  // Reads the SST body (stream positioned at it, Length bytes) and the CONTINUE records that
  // follow, filling the index list. The .xls reader defines it (src/xls/sst_read.cpp): the table
  // itself knows no file format. Throws "CONTINUE record is missing in SST",
  // "STT: Unhandled string type in Read (%.2X)", "Corrupt SST record" (a string header cut by the
  // record end, or a negative phonetic size) or the list-index error (font index of a run).
  void ReadSST(TXLSStream &Stream, int Length);

  // The entry at an SST position; the list-index error outside the index list.
  SSTEntry *EntryByIndex(int Index) const {
    SSTEntry *e = Index < 0 || Index >= IndexCount() ? nullptr : FIndex[static_cast<size_t>(Index)];
    if (!e)
      common::ListIndexError(Index);
    return e;
  }
  // The interned entry for Text, counting one new reference.
  SSTEntry *AddText(std::u16string_view Text);
  // The same for Count characters from 0 to 255, one byte each.
  SSTEntry *AddText(const uint8_t *Chars, size_t Count);
  static std::u16string EntryText(const SSTEntry *Entry);
  // The same as UTF-8: the entry's own characters when they are ASCII, else converted into Buffer.
  static std::string_view Utf8Text(const SSTEntry *Entry, std::string &Buffer);
  // Drops one reference; an entry left without references leaves the table.
  void ReleaseEntry(SSTEntry *Entry);
  // Empties the index list; entries stay interned.
  void DropIndex() { std::vector<SSTEntry *>().swap(FIndex); }
  // Frees every entry once, empties the trie and the index list; Total becomes 0.
  void ClearSST();

  int32_t Total() const { return FTotal; }
  int IndexCount() const { return static_cast<int>(FIndex.size()); }
  size_t EntryCount() const { return ItemCount(); }

private:
  struct TShape {
    uint16_t CharCount = 0;
    uint8_t Options = 0;
    uint16_t RunCount = 0;
    int32_t ExtSize = 0;
  };
  // The interned entry of the string in FKey (room for the header, then the key; run fonts in
  // FRunFonts): an equal stored entry with one more reference, or a new entry.
  SSTEntry *Intern(const TShape &Shape, int32_t Index, int32_t RefCount);
  void ReadEntry(SSTReader &In, TShape &Shape);
  void StartText(size_t Count, uint8_t Options);
  void *Allocate(size_t Bytes, size_t Align);

  std::vector<SSTEntry *> FIndex;
  // Entries, allocated back to back in blocks and freed together by ClearSST; a released
  // entry's bytes stay until then.
  std::vector<std::unique_ptr<uint64_t[]>> FBlocks;
  uint8_t *FBlock = nullptr; // the block being filled
  size_t FBlockUsed = 0;
  std::vector<uint8_t> FKey; // the string being read or added
  std::vector<uint8_t> FText;
  std::vector<TXLSFont *> FRunFonts;
  int32_t FTotal = 0;
  TXLSFonts *FFonts = nullptr;
};

} // namespace xls
