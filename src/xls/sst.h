#pragma once

// The shared string table: every distinct string of a workbook stored once, interned in a hash
// trie and reference-counted; string cells point at their entry directly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "common/exception.h"
#include "xls/chunks.h"

namespace xls {

class TXLSStream;
class SSTReader;
class TXLSFonts;
struct TXLSFont;

// One string in one block of memory: this header, its SST position when it was read from the
// SST, the sizes of its runs and phonetic block when it has either (most strings have neither
// and go without), then the key bytes (characters in the file's width, runs as 4-byte pairs of
// first character and font index, the phonetic block), then one font reference per run.
struct SSTEntry {
  int32_t RefCount;
  uint16_t CharCount;
  uint8_t Options; // 0x01 16-bit characters, 0x04 phonetic block, 0x08 runs
  uint8_t Flags;   // InArenaFlag, IndexFlag

  static constexpr uint8_t InArenaFlag = 0x01; // memory belongs to the table's arena
  static constexpr uint8_t IndexFlag = 0x02;   // an SST position follows the header
  // A deferred text found equal to an interned entry, whose handle RefCount then holds, until
  // its cell is moved there (TSST2::MoveToInterned).
  static constexpr uint8_t ForwardFlag = 0x04;

  struct TSizes {
    uint16_t RunCount;
    int32_t ExtSize; // bytes of the phonetic block
  };
  static bool HasSizes(uint8_t Options) { return (Options & 0x0C) != 0; }
  // Bytes before the key of an entry with these options and flags.
  static size_t HeaderBytes(uint8_t Options, uint8_t Flags) {
    return sizeof(SSTEntry) + ((Flags & IndexFlag) ? sizeof(int32_t) : 0) +
           (HasSizes(Options) ? sizeof(TSizes) : 0);
  }
  // Lays out the header in Block, which has room for the whole entry; the key goes to Key().
  static SSTEntry *Init(void *Block, uint16_t CharCount, uint8_t Options, uint8_t Flags, int32_t SSTIndex,
                        uint16_t RunCount, int32_t ExtSize);

  bool InArena() const { return (Flags & InArenaFlag) != 0; }
  // Position in the SST when read; 65535 for AddText entries.
  int32_t SSTIndex() const {
    return (Flags & IndexFlag) ? *reinterpret_cast<const int32_t *>(this + 1) : 65535;
  }
  uint16_t RunCount() const { return HasSizes(Options) ? Sizes()->RunCount : 0; }
  int32_t ExtSize() const { return HasSizes(Options) ? Sizes()->ExtSize : 0; }

  bool Wide() const { return (Options & 0x01) != 0; }
  const uint8_t *Key() const { return reinterpret_cast<const uint8_t *>(this) + HeaderBytes(Options, Flags); }
  size_t KeyLength() const { return CharBytes() + size_t(RunCount()) * 4 + size_t(ExtSize()); }
  size_t CharBytes() const { return Wide() ? size_t(CharCount) * 2 : CharCount; }
  const uint8_t *Chars() const { return Key(); }
  // Run i: index of its first character and its font index as read.
  uint16_t RunFirstChar(int i) const;
  uint16_t RunFontIndex(int i) const;
  TXLSFont *RunFont(int i) const;
  const uint8_t *Phonetic() const { return Key() + CharBytes() + size_t(RunCount()) * 4; }
  // The character at position i as a UTF-16 code unit.
  char16_t CharAt(int i) const;

private:
  const TSizes *Sizes() const {
    return reinterpret_cast<const TSizes *>(reinterpret_cast<const uint8_t *>(this + 1) +
                                            ((Flags & IndexFlag) ? sizeof(int32_t) : 0));
  }
};
static_assert(sizeof(SSTEntry) == 8 && alignof(SSTEntry::TSizes) <= alignof(SSTEntry));

// A generic hash trie of 256-way nodes whose slots hold chains of up to 8 items or a child node
// one level deeper; each level uses the next byte of the 32-bit hash. Items are opaque to it:
// the virtual operations give their hash, key and equality, and free them.
class THashTrie {
public:
  THashTrie();
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
  // Number of items stored.
  size_t ItemCount() const { return FItemCount; }
  // Calls f for every stored item (any order).
  template <class F> void ForEach(F &&f) const;
  // Depth statistics for tests and benchmarks: number of nodes and longest chain.
  size_t NodeCount() const;
  size_t LongestChain() const;

protected:
  // Stores Item, whose hash is Hash, unless an equal item is stored: returns that item, or
  // nullptr when Item was stored. One walk down the trie does both.
  void *InsertWithHash(void *Item, uint32_t Hash);
  void *FindWithHash(const void *Item, uint32_t Hash) const;
  // Stores Count items, distinct from each other and from every stored item, given in trie
  // order: ascending by hash byte 0, then byte 1, and so on. Under an empty slot the subtree is
  // built whole, each node with just the slots it needs.
  void InsertSorted(void *const *Items, const uint32_t *Hashes, size_t Count);
  // Takes over Other's items, which sit under root slots empty here, and the memory of its nodes
  // and chains; Other is left empty.
  void AdoptRootSlots(THashTrie &Other);

  virtual uint32_t HashOf(const void *Item) const;
  virtual void FreeItem(void *Item) = 0;
  virtual bool ItemsEqual(const void *A, const void *B) const;
  virtual size_t KeyLength(const void *Item) const = 0;
  virtual const uint8_t *KeyStart(const void *Item) const = 0;

public:
  struct TTreeItem;
  // A chain: its items and their hashes side by side in one block, so a search compares hashes
  // in one or two cache lines and touches an item only when its hash matches.
  struct TChain {
    uint32_t Count;
    uint32_t Capacity; // even, so the item pointers after the hashes stay aligned
    uint32_t *Hashes() { return reinterpret_cast<uint32_t *>(this + 1); }
    void **Items() {
      return reinterpret_cast<void **>(reinterpret_cast<uint8_t *>(this + 1) + 4 * size_t(Capacity));
    }
    static constexpr size_t Bytes(uint32_t Capacity) { return sizeof(TChain) + 12 * size_t(Capacity); }
  };

private:
  void *InsertAt(uintptr_t *NodeRef, void *Item, uint32_t Hash);
  void InsertRun(uintptr_t *NodeRef, void *const *Items, const uint32_t *Hashes, size_t Lo, size_t Hi);
  // The slot value holding items [Lo, Hi), which share hash bytes 0 to Depth, in a node of Depth.
  uintptr_t BuildSlot(void *const *Items, const uint32_t *Hashes, size_t Lo, size_t Hi, int Depth);
  void FreeNode(TTreeItem *Node, bool FreeItems);
  void VisitItems(const TTreeItem *Node, void (*Visit)(void *Ctx, void *Item), void *Ctx) const;
  TChain *NewChain(uint32_t Capacity);
  void FreeChain(TChain *Chain);
  // Nodes and chains come from chunks owned by the trie; freed blocks are kept per size for
  // reuse. Blocks above MaxPooledBytes (long chains at the last depth) are allocated alone.
  void *AllocateBlock(size_t Bytes);
  void FreeBlock(void *Block, size_t Bytes);

  TTreeItem *FRoot = nullptr;
  size_t FItemCount = 0;
  static constexpr size_t MaxPooledBytes = 4096; // above a dense node (2,088 bytes)
  std::vector<TChunkPtr<uint64_t>> FChunks;
  size_t FChunkUsed = 0; // bytes
  void *FFreeBlocks[MaxPooledBytes / 8 + 1] = {};
};

// The trie specialised for SSTEntry: key = characters, runs and phonetic block; hash = the
// CRC-32 register without the final inversion (the empty key hashes to 0xFFFFFFFF).
class TSSTHashTrie : public THashTrie {
public:
  ~TSSTHashTrie() override;
  static uint32_t KeyHash(const uint8_t *Key, size_t Length);

protected:
  uint32_t HashOf(const void *Item) const override;
  void FreeItem(void *Item) override;
  bool ItemsEqual(const void *A, const void *B) const override;
  size_t KeyLength(const void *Item) const override;
  const uint8_t *KeyStart(const void *Item) const override;
};

class TSST2 : public TSSTHashTrie {
public:
  // Fonts (not owned) turn the font indexes of runs into font references; may be null for a
  // table that never meets runs.
  explicit TSST2(TXLSFonts *Fonts = nullptr);
  ~TSST2() override;

  void SetFonts(TXLSFonts *Fonts) { FFonts = Fonts; }
  TXLSFonts *Fonts() const { return FFonts; }

  // Reads the SST body (stream positioned at it, Length bytes) and the CONTINUE records that
  // follow, filling the index list. Throws "CONTINUE record is missing in SST",
  // "STT: Unhandled string type in Read (%.2X)", "Corrupt SST record" (a string header cut by the
  // record end, or a negative phonetic size) or the list-index error (font index of a run).
  void ReadSST(TXLSStream &Stream, int Length);

  // The entry at an SST position; the list-index error outside the index list. Inline: every
  // LABELSST cell asks it.
  SSTEntry *EntryByIndex(int Index) const {
    SSTEntry *e = Index < 0 || Index >= IndexCount() ? nullptr : EntryOf(FIndex[static_cast<size_t>(Index)]);
    if (!e)
      common::ListIndexError(Index);
    return e;
  }
  // The interned entry for Text, counting one new reference.
  SSTEntry *AddText(std::u16string_view Text);
  static std::u16string EntryText(const SSTEntry *Entry);
  // Drops one reference; an entry left without references leaves the table.
  void ReleaseEntry(SSTEntry *Entry);
  // Empties the index list; entries stay interned.
  void DropIndex();
  // Frees every entry once, empties the trie and the index list; Total becomes 0.
  void ClearSST();

  // The largest record body of the workbook's version; only a writer splitting the table into
  // CONTINUE records needs it, reading finds the record sizes in the stream.
  void SetMaxRecordSize(int Size) { FMaxRecordSize = Size; }
  int MaxRecordSize() const { return FMaxRecordSize; }

  int32_t Total() const { return FTotal; }
  int IndexCount() const { return static_cast<int>(FIndex.Size()); }
  size_t EntryCount() const { return ItemCount(); }

  // An entry for Text holding one reference, not yet interned (for Defer); Hash gets its key
  // hash.
  SSTEntry *NewText(std::u16string_view Text, uint32_t &Hash);
  // The same for Count characters from 0 to 255, one byte each.
  SSTEntry *NewText(const uint8_t *Chars, size_t Count, uint32_t &Hash);
  // Texts of LABEL records are interned together, as the strings of the SST are, rather than
  // one by one: each lookup of a large table one by one waits on memory. Defer keeps an entry
  // from NewText, which one cell at most may hold, uninterned until InternDeferred; when Defer
  // fails, E is freed. Released meanwhile, it is dropped then.
  void Defer(SSTEntry *E, uint32_t Hash);
  // NewText of 8-bit characters and Defer in one step, as a reader of many labels wants.
  SSTEntry *DeferText(const uint8_t *Chars, size_t Count);
  bool HasDeferred() const { return FDeferred.Size() != 0; }
  // Interns the deferred entries, after the interning ahead (below) has finished. One equal to
  // an interned entry is left forwarding to it, which has counted its reference, until
  // FreeForwarded: true when there is any, and then every string cell must be moved on with
  // MoveToInterned before. Throws what interning ahead failed with.
  bool InternDeferred();
  // While on, the strings of a large SST are interned on a thread of their own while reading
  // goes on. A string cell may then take an entry that proves equal to an earlier one:
  // InternDeferred forwards it. Anything else that needs the trie waits for that thread first.
  void SetInternAhead(bool On) { FInternAhead = On; }
  // The entry a cell holding E must hold: E, or for a forwarded E the entry it forwards to.
  SSTEntry *MoveToInterned(SSTEntry *E) const {
    return (E->Flags & SSTEntry::ForwardFlag) ? EntryOf(static_cast<uint32_t>(E->RefCount)) : E;
  }
  // Frees the forwarded entries, whether a cell still held them or not (one replaced during the
  // read holds none).
  void FreeForwarded();
  // Allocates an entry with room for its key and run fonts; the caller fills it.
  static SSTEntry *NewEntry(uint16_t CharCount, uint8_t Options, uint16_t RunCount, int32_t ExtSize,
                            uint8_t Flags = 0, int32_t SSTIndex = 0);
  static void FreeEntry(SSTEntry *E);

private:
  struct TBackground;
  // Interns a fully built entry whose key hash is Hash: an equal stored entry gets one more
  // reference and E is freed.
  SSTEntry *Intern(SSTEntry *E, uint32_t Hash);
  struct TEntryShape {
    uint16_t CharCount = 0;
    uint16_t RunCount = 0;
    int32_t ExtSize = 0;
    uint8_t Options = 0;
  };
  void ReadEntryKey(SSTReader &In, TEntryShape &Shape);
  struct TRef { // 8 bytes, so that sorting many moves little
    uint32_t Handle;
    uint32_t Hash;
  };
  // Entries waiting to be interned, split by the upper half of their root slot index into parts
  // kept in the order added, so that putting a part in trie order later works within memory the
  // cache holds. They arrive through a small buffer and are split a buffer at a time, away from
  // the work of reading each one.
  struct TPending {
    std::array<TChunkedArray<TRef>, 16> Parts;
    std::array<TRef, 1024> Stage;
    size_t Staged = 0;
    // Throws std::bad_alloc with Ref not added.
    void Add(const TRef &Ref) {
      if (Staged == Stage.size())
        Flush();
      Stage[Staged++] = Ref;
    }
    // Moves the buffer into the parts; on failure, what was not moved stays.
    void Flush();
    size_t Size() const;
    template <class F> void ForEach(F f) const {
      for (const auto &part : Parts)
        for (size_t i = 0; i < part.Size(); ++i)
          f(part[i]);
      for (size_t i = 0; i < Staged; ++i)
        f(Stage[i]);
    }
  };
  // Working room of InternGroup, kept from one group to the next.
  struct TInternScratch {
    bool Stored = false; // the table held entries before: strings may equal them
    std::vector<TRef> Spare;
    std::vector<void *> Items;
    std::vector<uint32_t> Hashes, Handles;
  };
  // What interning finds besides the entries it stores: an entry equal to one stored or kept
  // before it (the handle of that one, when known, else NoEntry), and with DropReleased an entry
  // released meanwhile (no references left).
  struct TDuplicate {
    SSTEntry *Entry;
    SSTEntry *Kept;
    uint32_t KeptHandle;
  };
  // Interns the entries of Pending (their handles turned into entries by resolve) and uses it
  // up. Of equal strings the first in Pending is kept. Changes nothing but the trie itself and
  // tells found.Duplicate and found.Dropped the rest, so that it may run on another thread while
  // reading goes on.
  template <class Resolve, class Found>
  void InternPending(TPending &Pending, bool DropReleased, const Resolve &resolve, Found &found);
  // The same for parts [First, Last) of a flushed Pending, each root slot's kept entries stored by
  // store(items, hashes, count), compared with the stored items only when Stored.
  template <class Resolve, class Found, class Store>
  void InternParts(TPending &Pending, size_t First, size_t Last, bool Stored, bool DropReleased,
                   const Resolve &resolve, Found &found, const Store &store);
  // Interns one root slot's refs, in the order added; Refs is used as working room.
  template <class Resolve, class Found, class Store>
  void InternGroup(TRef *Refs, size_t Count, TInternScratch &Scratch, const Resolve &resolve, Found &found,
                   const Store &store);
  // Interns Pending on this thread, settling what it finds at once; a large Pending into an
  // empty table is shared with a second thread.
  void InternNow(TPending &Pending, bool DropReleased, bool FromSST);
  // False, with nothing interned, when no second thread can be had.
  bool InternInTwo(TPending &Pending, bool DropReleased, bool FromSST);
  // A duplicate's references go to the entry it equals: for one read from the SST, its position
  // and the reference interning counts; one that cells hold is left forwarding.
  void SettleDuplicate(const TDuplicate &D, bool FromSST);
  void FreeReleased(SSTEntry *E);
  // Finders of what interning finds: TSettle settles it at once, TFound keeps it for
  // SettleFound, as interning on another thread must.
  struct TSettle;
  struct TFound;
  void SettleFound(TFound &Found, bool FromSST);
  // Interns the entries just read into the index list, now or (interning ahead) on a thread of
  // their own: those Pending holds and, hashed into it first, those at positions Unhashed on.
  void InternRead(std::unique_ptr<TPending> Pending, size_t Unhashed);
  // Hands them to a thread of their own; false, with nothing done, when no thread can be had.
  bool InternReadAhead(std::unique_ptr<TPending> &Pending, size_t Unhashed);
  // Adds the entries at positions [From, To) of the index list to Pending with their hashes.
  template <class Resolve>
  void HashPositions(TPending &Pending, size_t From, size_t To, const Resolve &resolve) const;
  // Waits for the strings being interned ahead, if any, and settles what was found; a failure
  // is kept for InternDeferred to throw.
  void FinishBackground() {
    if (FBackground)
      JoinBackground();
  }
  void JoinBackground();

  // A text entry with room for Count characters, holding one reference, counted in Total.
  SSTEntry *NewTextEntry(size_t Count, bool Wide);
  // Entries up to this size live in the arena; a longer one gets a block of its own, so that a
  // chunk is never mostly wasted.
  static constexpr size_t MaxArenaEntryBytes = ChunkBytes / 8;
  void *ArenaAllocate(size_t Bytes, size_t Align) {
    const size_t at = (FArenaUsed + Align - 1) & ~(Align - 1);
    if (at > FArenaSize || FArenaSize - at < Bytes) // also when there is no chunk yet
      return ArenaAllocateInNewChunk(Bytes);
    FArenaUsed = at + Bytes;
    return reinterpret_cast<uint8_t *>(FArena.back().get()) + at;
  }
  void *ArenaAllocateInNewChunk(size_t Bytes);
  void *ArenaEntry(size_t Bytes);
  // Frees an entry that left the table (arena blocks are kept for reuse).
  void DiscardEntry(SSTEntry *E);

  // The index list holds 32-bit handles rather than pointers, halving it: an arena entry is its
  // chunk number (17 bits) and offset in 4-byte units (14 bits); an entry with a block of its
  // own is OwnBlock plus its place in FOwnBlocks; a released entry is NoEntry.
  static constexpr uint32_t NoEntry = 0xFFFFFFFFu;
  static constexpr uint32_t OwnBlock = 0x80000000u;
  SSTEntry *EntryOf(uint32_t Handle) const { return EntryIn(Handle, FArena.data(), FOwnBlocks.data()); }
  // The same over given arena chunks and own blocks (Chunk: anything indexing to a chunk's words).
  template <class Chunk>
  static SSTEntry *EntryIn(uint32_t Handle, const Chunk *Arena, SSTEntry *const *OwnBlocks) {
    if (Handle == NoEntry)
      return nullptr;
    if (Handle & OwnBlock)
      return OwnBlocks[Handle & ~OwnBlock];
    return reinterpret_cast<SSTEntry *>(reinterpret_cast<uint8_t *>(&Arena[Handle >> 14][0]) +
                                        (size_t(Handle & 0x3FFF) << 2));
  }
  // The handle of a block in the newest arena chunk.
  uint32_t NewestArenaHandle(const void *Block) {
    const size_t chunk = FArena.size() - 1;
    const auto offset = static_cast<size_t>(static_cast<const uint8_t *>(Block) -
                                            reinterpret_cast<const uint8_t *>(FArena.back().get()));
    if (chunk >= (size_t(1) << 17)) // beyond what a handle addresses (8 GiB of strings)
      return OwnBlockHandle(static_cast<SSTEntry *>(const_cast<void *>(Block)));
    return static_cast<uint32_t>(chunk << 14 | offset >> 2);
  }
  uint32_t OwnBlockHandle(SSTEntry *E);
  uint32_t HandleOf(SSTEntry *E);
  // In chunk memory, which huge pages back and the helper thread maps ahead, not in a heap
  // block of hundreds of small pages each faulted in on first use.
  TChunkedArray<uint32_t> FIndex;
  std::vector<SSTEntry *> FOwnBlocks;
  TPending FDeferred;
  size_t FDeadDeferred = 0; // deferred entries released since
  std::vector<SSTEntry *> FForwarded;
  bool FInternAhead = false;
  std::unique_ptr<TBackground> FBackground; // the batch being interned ahead
  std::exception_ptr FBackgroundFailure;
  // Short entries, read from the SST or made for a text, allocated back to back; freed only by
  // ClearSST.
  std::vector<TChunkPtr<uint64_t>> FArena;
  size_t FArenaUsed = 0;
  size_t FArenaSize = 0;
  std::unordered_map<size_t, void *> FArenaFree; // released arena blocks by size
  size_t FArenaFreeCount = 0;                    // blocks on those lists
  std::vector<uint8_t> FKey;                     // scratch: the key of the string being read
  std::vector<TXLSFont *> FRunFonts;
  int32_t FTotal = 0;
  int FMaxRecordSize = 8224;
  TXLSFonts *FFonts = nullptr;
};

template <class F> void THashTrie::ForEach(F &&f) const {
  using Fn = std::remove_reference_t<F>;
  VisitItems(
      FRoot, [](void *ctx, void *item) { (*static_cast<Fn *>(ctx))(item); },
      const_cast<void *>(static_cast<const void *>(&f)));
}

} // namespace xls
