#include "xls/sst.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/exception.h"
#include "common/prefetch.h"
#include "common/short_copy.h"
#include "xls/crc32.h"
#include "xls/formats.h"
#include "xls/xls_stream.h"

namespace xls {

// ---------------------------------------------------------------------------------------------
// Trie

namespace {
constexpr int MaxChain = 8;
constexpr int MaxDepth = 3;
constexpr uintptr_t ChildTag = 1;
constexpr uintptr_t ItemTag = 2;
static_assert(alignof(SSTEntry) >= 4, "entries are kept in a slot with a tag in their low bits");

inline int SlotIndex(uint32_t Hash, int Depth) { return static_cast<int>((Hash >> (8 * Depth)) & 0xFF); }

// Where the run of hashes from Lo on that share Lo's slot index at Depth ends (before Hi); the
// hashes are in trie order.
template <class HashAt> size_t RunEnd(HashAt hashAt, size_t Lo, size_t Hi, int Depth) {
  const int index = SlotIndex(hashAt(Lo), Depth);
  size_t hi = Lo + 1;
  while (hi < Hi && SlotIndex(hashAt(hi), Depth) == index)
    ++hi;
  return hi;
}

// std::popcount becomes a library call on the baseline x86-64 target; this stays inline.
} // namespace

// A slot is 0 (empty), a TChain*, a TTreeItem* with bit 0 set (child) or, for a chain of one
// aligned item, the item itself with bit 1 set (most slots of deep nodes hold just one).
// Nodes start sparse: only the filled slots are stored, each with its slot index in a key byte,
// so a deep node holding a handful of chains costs a few dozen bytes instead of 2 KB. A node
// that fills up (the root and the first level of a large table) turns dense, all 256 slots
// indexed directly.
struct THashTrie::TTreeItem {
  uint8_t Depth;
  bool DenseFlag;
  uint16_t Filled = 0; // filled slots; the length of the key and slot arrays while sparse
  uint16_t Capacity;
  uint16_t SlotsAt; // bytes from the node to its slots, kept so a step down need not work it out
  // The key bytes (sparse nodes only, padded to 8) and the slots follow the node in the same
  // block, so a step down the trie is one memory access.

  static constexpr int DenseFrom = 64;

  static constexpr size_t KeyBytes(int capacity, bool dense) {
    return dense ? 0 : (size_t(capacity) + 7) & ~size_t(7);
  }
  static constexpr size_t Bytes(int capacity, bool dense) {
    return sizeof(TTreeItem) + KeyBytes(capacity, dense) + sizeof(uintptr_t) * size_t(capacity);
  }
  static TTreeItem *New(THashTrie &trie, int depth, int capacity, bool dense = false) {
    if (dense)
      capacity = 256;
    auto *node = ::new (trie.AllocateBlock(Bytes(capacity, dense))) TTreeItem(depth, capacity, dense);
    std::fill(node->Slots(), node->Slots() + capacity, uintptr_t(0));
    return node;
  }
  static void Delete(THashTrie &trie, TTreeItem *node) {
    trie.FreeBlock(node, Bytes(node->Capacity, node->DenseFlag));
  }

  uint8_t *Keys() const { return reinterpret_cast<uint8_t *>(const_cast<TTreeItem *>(this) + 1); }
  uintptr_t *Slots() const {
    return reinterpret_cast<uintptr_t *>(reinterpret_cast<uint8_t *>(const_cast<TTreeItem *>(this)) +
                                         SlotsAt);
  }
  static bool IsChild(uintptr_t slot) { return (slot & ChildTag) != 0; }
  static TTreeItem *Child(uintptr_t slot) { return reinterpret_cast<TTreeItem *>(slot & ~ChildTag); }
  static bool IsItem(uintptr_t slot) { return (slot & ItemTag) != 0; }
  static void *Item(uintptr_t slot) { return reinterpret_cast<void *>(slot & ~ItemTag); }
  static TChain *Chain(uintptr_t slot) { return reinterpret_cast<TChain *>(slot); }

  // Position of a slot index among the stored slots of a sparse node, or -1.
  int Position(int index) const {
    const uint8_t *keys = Keys();
#if defined(__SSE2__)
    // Sixteen key bytes at a time. A node's block always holds the 16 bytes read from a group
    // that starts below Filled (the slots follow the keys); bytes past Filled are masked off.
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(index));
    for (int i = 0; i < Filled; i += 16) {
      const __m128i group = _mm_loadu_si128(reinterpret_cast<const __m128i *>(keys + i));
      auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(group, wanted)));
      if (Filled - i < 16)
        hits &= (1u << (Filled - i)) - 1;
      if (hits)
        return i + __builtin_ctz(hits);
    }
#else
    for (int i = 0; i < Filled; ++i)
      if (keys[i] == index)
        return i;
#endif
    return -1;
  }
  // The stored slot, or nullptr when empty.
  uintptr_t *Find(int index) const {
    uintptr_t *slots = Slots();
    if (DenseFlag)
      return slots[index] ? &slots[index] : nullptr;
    const int at = Position(index);
    return at < 0 ? nullptr : &slots[at];
  }
  // Fills an empty slot. A node without room is moved to a larger block: the result is the node
  // to use from then on (this one is freed when it differs).
  TTreeItem *Add(THashTrie &trie, int index, uintptr_t value) {
    if (DenseFlag) {
      ++Filled;
      Slots()[index] = value;
      return this;
    }
    if (Filled < Capacity && Filled < DenseFrom) {
      Keys()[Filled] = static_cast<uint8_t>(index);
      Slots()[Filled] = value;
      ++Filled;
      return this;
    }
    return AddMoving(trie, index, value);
  }
  // Add to the node NodeRef refers to, which may move; NodeRef follows it.
  static void AddAt(THashTrie &trie, uintptr_t *NodeRef, int index, uintptr_t value) {
    TTreeItem *node = Child(*NodeRef);
    TTreeItem *moved = node->Add(trie, index, value);
    if (moved != node)
      *NodeRef = reinterpret_cast<uintptr_t>(moved) | ChildTag;
  }
  // Add to a sparse node that is full or turns dense.
  [[gnu::noinline]] TTreeItem *AddMoving(THashTrie &trie, int index, uintptr_t value) {
    if (Filled + 1 > DenseFrom) {
      TTreeItem *dense = New(trie, Depth, 256, true);
      for (int i = 0; i < Filled; ++i)
        dense->Slots()[Keys()[i]] = Slots()[i];
      dense->Slots()[index] = value;
      dense->Filled = static_cast<uint16_t>(Filled + 1);
      Delete(trie, this);
      return dense;
    }
    TTreeItem *node = this;
    if (Filled == Capacity) {
      // Grown in small steps: most nodes stay at a dozen slots, and the block a node leaves
      // is taken by the next one to reach that size.
      node = New(trie, Depth, Capacity + std::max(4, Capacity / 4));
      std::copy(Keys(), Keys() + Filled, node->Keys());
      std::copy(Slots(), Slots() + Filled, node->Slots());
      node->Filled = Filled;
      Delete(trie, this);
    }
    node->Keys()[node->Filled] = static_cast<uint8_t>(index);
    node->Slots()[node->Filled] = value;
    ++node->Filled;
    return node;
  }
  void Erase(int index) {
    uintptr_t *slots = Slots();
    if (DenseFlag) {
      --Filled;
      slots[index] = 0;
      return;
    }
    // The last stored slot takes the place of the erased one.
    const int at = Position(index);
    --Filled;
    Keys()[at] = Keys()[Filled];
    slots[at] = slots[Filled];
    slots[Filled] = 0;
  }
  // Calls f for every filled slot.
  template <class F> void EachSlot(F &&f) const {
    const int n = DenseFlag ? 256 : Filled;
    const uintptr_t *slots = Slots();
    for (int i = 0; i < n; ++i)
      if (slots[i])
        f(slots[i]);
  }

private:
  TTreeItem(int depth, int capacity, bool dense)
      : Depth(static_cast<uint8_t>(depth)), DenseFlag(dense), Capacity(static_cast<uint16_t>(capacity)),
        SlotsAt(static_cast<uint16_t>(sizeof(TTreeItem) + KeyBytes(capacity, dense))) {}
};
static_assert(sizeof(THashTrie::TTreeItem) == 8);

namespace {
// The item of Chain equal to the one sought, whose hash is Hash, or nullptr. Equal items have
// equal hashes, so only a matching hash needs the full comparison.
template <class Equal> void *FindInChain(THashTrie::TChain *Chain, uint32_t Hash, Equal &&equal) {
  const uint32_t *hashes = Chain->Hashes();
  void **items = Chain->Items();
  const int count = static_cast<int>(Chain->Count);
#if defined(__SSE2__)
  // Four hashes at a time. A chain's block always holds the 16 bytes read from a group that
  // starts below Count (the item pointers follow the hashes); hashes past Count are masked off.
  const __m128i wanted = _mm_set1_epi32(static_cast<int>(Hash));
  for (int i = 0; i < count; i += 4) {
    const __m128i group = _mm_loadu_si128(reinterpret_cast<const __m128i *>(hashes + i));
    auto hits = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(group, wanted))));
    if (count - i < 4)
      hits &= (1u << (count - i)) - 1;
    for (; hits; hits &= hits - 1)
      if (equal(items[i + __builtin_ctz(hits)]))
        return items[i + __builtin_ctz(hits)];
  }
#else
  for (int i = 0; i < count; ++i)
    if (hashes[i] == Hash && equal(items[i]))
      return items[i];
#endif
  return nullptr;
}
} // namespace

void *THashTrie::AllocateBlock(size_t Bytes) {
  if (!PoolSmallBlocks || Bytes > MaxPooledBytes)
    return ::operator new(Bytes);
  void *&free = FFreeBlocks[Bytes / 8];
  if (free) {
    void *block = free;
    free = *static_cast<void **>(block);
    return block;
  }
  if (FChunks.empty() || ChunkBytes - FChunkUsed < Bytes) {
    FChunks.push_back(MakeChunk<uint64_t>());
    FChunkUsed = 0;
  }
  void *block = reinterpret_cast<uint8_t *>(FChunks.back().get()) + FChunkUsed;
  FChunkUsed += Bytes;
  return block;
}

void THashTrie::FreeBlock(void *Block, size_t Bytes) {
  if (!PoolSmallBlocks || Bytes > MaxPooledBytes) {
    ::operator delete(Block);
    return;
  }
  *static_cast<void **>(Block) = FFreeBlocks[Bytes / 8];
  FFreeBlocks[Bytes / 8] = Block;
}

THashTrie::TChain *THashTrie::NewChain(uint32_t Capacity) {
  auto *chain = static_cast<TChain *>(AllocateBlock(TChain::Bytes(Capacity)));
  chain->Count = 0;
  chain->Capacity = Capacity;
  return chain;
}

void THashTrie::FreeChain(TChain *Chain) { FreeBlock(Chain, TChain::Bytes(Chain->Capacity)); }

THashTrie::THashTrie() = default;

THashTrie::~THashTrie() {
  if (FRoot)
    FreeNode(FRoot, false);
}

uint32_t THashTrie::HashOf(const void *Item) const {
  return Crc32Update(0xFFFFFFFFu, KeyStart(Item), KeyLength(Item));
}

bool THashTrie::ItemsEqual(const void *A, const void *B) const {
  size_t n = KeyLength(A);
  return n == KeyLength(B) && (n == 0 || std::memcmp(KeyStart(A), KeyStart(B), n) == 0);
}

void *THashTrie::FindWithHash(const void *Item, uint32_t Hash) const {
  const TTreeItem *node = FRoot;
  while (node) {
    const uintptr_t *slot = node->Find(SlotIndex(Hash, node->Depth));
    if (!slot)
      return nullptr;
    if (TTreeItem::IsChild(*slot)) {
      node = TTreeItem::Child(*slot);
      continue;
    }
    if (TTreeItem::IsItem(*slot)) {
      void *item = TTreeItem::Item(*slot);
      return ItemsEqual(item, Item) ? item : nullptr;
    }
    return FindInChain(TTreeItem::Chain(*slot), Hash,
                       [&](const void *other) { return ItemsEqual(other, Item); });
  }
  return nullptr;
}

void *THashTrie::Find(const void *Item) const { return FindWithHash(Item, HashOf(Item)); }

void *THashTrie::Insert(void *Item) {
  void *found = InsertWithHash(Item, HashOf(Item));
  return found ? found : Item;
}

void *THashTrie::InsertWithHash(void *Item, uint32_t Hash) {
  if (!FRoot)
    FRoot = TTreeItem::New(*this, 0, 4);
  uintptr_t root = reinterpret_cast<uintptr_t>(FRoot) | ChildTag;
  void *found = InsertAt(&root, Item, Hash);
  FRoot = TTreeItem::Child(root);
  if (!found)
    ++FItemCount;
  return found;
}

void *THashTrie::InsertAt(uintptr_t *NodeRef, void *Item, uint32_t Hash) {
  TTreeItem *Node = TTreeItem::Child(*NodeRef);
  for (;;) {
    const int index = SlotIndex(Hash, Node->Depth);
    uintptr_t *slot = Node->Find(index);
    if (!slot) {
      // An aligned item goes into the slot itself, any other into a chain of one.
      uintptr_t value = reinterpret_cast<uintptr_t>(Item) | ItemTag;
      if ((reinterpret_cast<uintptr_t>(Item) & 3) != 0) {
        TChain *chain = NewChain(2);
        chain->Hashes()[0] = Hash;
        chain->Items()[0] = Item;
        chain->Count = 1;
        value = reinterpret_cast<uintptr_t>(chain);
      }
      TTreeItem::AddAt(*this, NodeRef, index, value);
      return nullptr;
    }
    if (TTreeItem::IsChild(*slot)) {
      NodeRef = slot;
      Node = TTreeItem::Child(*slot);
      continue;
    }
    if (TTreeItem::IsItem(*slot)) {
      void *single = TTreeItem::Item(*slot);
      const uint32_t singleHash = HashOf(single);
      if (singleHash == Hash && ItemsEqual(single, Item))
        return single;
      TChain *chain = NewChain(2);
      chain->Hashes()[0] = singleHash;
      chain->Items()[0] = single;
      chain->Hashes()[1] = Hash;
      chain->Items()[1] = Item;
      chain->Count = 2;
      *slot = reinterpret_cast<uintptr_t>(chain);
      return nullptr;
    }
    TChain *chain = TTreeItem::Chain(*slot);
    if (void *found = FindInChain(chain, Hash, [&](const void *other) { return ItemsEqual(other, Item); }))
      return found;
    if (chain->Count < uint32_t(MaxChain) || Node->Depth >= MaxDepth) {
      if (chain->Count == chain->Capacity) {
        TChain *grown = NewChain(chain->Capacity * 2);
        std::copy(chain->Hashes(), chain->Hashes() + chain->Count, grown->Hashes());
        std::copy(chain->Items(), chain->Items() + chain->Count, grown->Items());
        grown->Count = chain->Count;
        FreeChain(chain);
        chain = grown;
        *slot = reinterpret_cast<uintptr_t>(chain);
      }
      chain->Hashes()[chain->Count] = Hash;
      chain->Items()[chain->Count] = Item;
      ++chain->Count;
      return nullptr;
    }
    // A full chain becomes a child node one byte deeper. The chain goes first: a node of ten
    // slots is the chain's size and takes its very block, so a growing table leaves no pile
    // of freed chains behind.
    void *items[MaxChain];
    uint32_t hashes[MaxChain];
    std::copy(chain->Items(), chain->Items() + MaxChain, items);
    std::copy(chain->Hashes(), chain->Hashes() + MaxChain, hashes);
    FreeChain(chain);
    static_assert(TTreeItem::Bytes(MaxChain + 2, false) == TChain::Bytes(MaxChain));
    uintptr_t child =
        reinterpret_cast<uintptr_t>(TTreeItem::New(*this, Node->Depth + 1, MaxChain + 2)) | ChildTag;
    for (int i = 0; i < MaxChain; ++i)
      InsertAt(&child, items[i], hashes[i]);
    InsertAt(&child, Item, Hash);
    *slot = child;
    return nullptr;
  }
}

void THashTrie::InsertSorted(void *const *Items, const uint32_t *Hashes, size_t Count) {
  if (Count == 0)
    return;
  if (!FRoot)
    FRoot = TTreeItem::New(*this, 0, 4);
  uintptr_t root = reinterpret_cast<uintptr_t>(FRoot) | ChildTag;
  InsertRun(&root, Items, Hashes, 0, Count);
  FRoot = TTreeItem::Child(root);
  FItemCount += Count;
}

void THashTrie::AdoptRootSlots(THashTrie &Other) {
  if (!Other.FChunks.empty()) {
    // New blocks keep coming from the current last chunk, or from Other's when this has none.
    const bool none = FChunks.empty();
    FChunks.reserve(FChunks.size() + Other.FChunks.size());
    FChunks.insert(none ? FChunks.end() : FChunks.end() - 1, std::make_move_iterator(Other.FChunks.begin()),
                   std::make_move_iterator(Other.FChunks.end()));
    if (none)
      FChunkUsed = Other.FChunkUsed;
    Other.FChunks.clear();
    Other.FChunkUsed = 0;
  }
  for (size_t i = 0; i < std::size(FFreeBlocks); ++i)
    if (void *list = std::exchange(Other.FFreeBlocks[i], nullptr)) {
      void *tail = list;
      while (void *next = *static_cast<void **>(tail))
        tail = next;
      *static_cast<void **>(tail) = FFreeBlocks[i];
      FFreeBlocks[i] = list;
    }
  TTreeItem *root = std::exchange(Other.FRoot, nullptr);
  if (!root)
    return;
  if (!FRoot)
    FRoot = TTreeItem::New(*this, 0, 4);
  uintptr_t ref = reinterpret_cast<uintptr_t>(FRoot) | ChildTag;
  const uintptr_t *slots = root->Slots();
  for (int i = 0; i < (root->DenseFlag ? 256 : root->Filled); ++i)
    if (slots[i]) {
      const int index = root->DenseFlag ? i : root->Keys()[i];
      assert(!TTreeItem::Child(ref)->Find(index));
      TTreeItem::AddAt(*this, &ref, index, slots[i]);
    }
  FRoot = TTreeItem::Child(ref);
  FItemCount += std::exchange(Other.FItemCount, 0);
  TTreeItem::Delete(*this, root); // its block came over with the chunks
}

void THashTrie::InsertRun(uintptr_t *NodeRef, void *const *Items, const uint32_t *Hashes, size_t Lo,
                          size_t Hi) {
  const int depth = TTreeItem::Child(*NodeRef)->Depth;
  for (size_t lo = Lo; lo < Hi;) {
    const int index = SlotIndex(Hashes[lo], depth);
    const size_t hi = RunEnd([&](size_t i) { return Hashes[i]; }, lo, Hi, depth);
    uintptr_t *slot = TTreeItem::Child(*NodeRef)->Find(index);
    if (!slot) {
      TTreeItem::AddAt(*this, NodeRef, index, BuildSlot(Items, Hashes, lo, hi, depth));
    } else if (TTreeItem::IsChild(*slot)) {
      InsertRun(slot, Items, Hashes, lo, hi);
    } else {
      for (size_t i = lo; i < hi; ++i)
        InsertAt(NodeRef, Items[i], Hashes[i]);
    }
    lo = hi;
  }
}

uintptr_t THashTrie::BuildSlot(void *const *Items, const uint32_t *Hashes, size_t Lo, size_t Hi, int Depth) {
  const size_t n = Hi - Lo;
  if (n == 1 && (reinterpret_cast<uintptr_t>(Items[Lo]) & 3) == 0)
    return reinterpret_cast<uintptr_t>(Items[Lo]) | ItemTag;
  if (n <= size_t(MaxChain) || Depth >= MaxDepth) {
    const uint32_t capacity = n <= 2   ? 2
                              : n <= 4 ? 4
                              : n <= 8 ? 8
                                       : static_cast<uint32_t>((n + 1) & ~size_t(1));
    TChain *chain = NewChain(capacity);
    std::copy(Hashes + Lo, Hashes + Hi, chain->Hashes());
    std::copy(Items + Lo, Items + Hi, chain->Items());
    chain->Count = static_cast<uint32_t>(n);
    return reinterpret_cast<uintptr_t>(chain);
  }
  // More than a chain holds: a child node one byte deeper, sized to its filled slots, each of
  // them new, so they are simply added in order.
  int groups = 1;
  for (size_t i = Lo + 1; i < Hi; ++i)
    groups += SlotIndex(Hashes[i], Depth + 1) != SlotIndex(Hashes[i - 1], Depth + 1);
  TTreeItem *child = TTreeItem::New(*this, Depth + 1, groups, groups > TTreeItem::DenseFrom);
  for (size_t lo = Lo, hi; lo < Hi; lo = hi) {
    const int index = SlotIndex(Hashes[lo], Depth + 1);
    hi = RunEnd([&](size_t i) { return Hashes[i]; }, lo, Hi, Depth + 1);
    child->Add(*this, index, BuildSlot(Items, Hashes, lo, hi, Depth + 1)); // never moves: room for all
  }
  return reinterpret_cast<uintptr_t>(child) | ChildTag;
}

bool THashTrie::Remove(const void *Item) {
  if (!FRoot)
    return false;
  uint32_t hash = HashOf(Item);
  TTreeItem *path[MaxDepth + 1];
  int depth = 0;
  TTreeItem *node = FRoot;
  path[0] = node;
  for (;;) {
    uintptr_t *slot = node->Find(SlotIndex(hash, node->Depth));
    if (!slot)
      return false;
    if (TTreeItem::IsChild(*slot)) {
      node = TTreeItem::Child(*slot);
      path[++depth] = node;
      continue;
    }
    if (TTreeItem::IsItem(*slot)) {
      if (TTreeItem::Item(*slot) != Item)
        return false;
      --FItemCount;
      *slot = 0;
      node->Erase(SlotIndex(hash, node->Depth));
      break;
    }
    TChain *chain = TTreeItem::Chain(*slot);
    void **items = chain->Items();
    uint32_t i = 0;
    while (i < chain->Count && items[i] != Item)
      ++i;
    if (i == chain->Count)
      return false;
    std::copy(items + i + 1, items + chain->Count, items + i);
    std::copy(chain->Hashes() + i + 1, chain->Hashes() + chain->Count, chain->Hashes() + i);
    --chain->Count;
    --FItemCount;
    if (chain->Count != 0)
      return true;
    FreeChain(chain);
    *slot = 0;
    node->Erase(SlotIndex(hash, node->Depth));
    break;
  }
  // Free child nodes left empty, bottom up; the root stays.
  while (depth > 0 && path[depth]->Filled == 0) {
    TTreeItem *parent = path[depth - 1];
    parent->Erase(SlotIndex(hash, parent->Depth));
    TTreeItem::Delete(*this, path[depth]);
    --depth;
  }
  return true;
}

void THashTrie::FreeNode(TTreeItem *Node, bool FreeItems) {
  Node->EachSlot([&](uintptr_t slot) {
    if (TTreeItem::IsChild(slot)) {
      FreeNode(TTreeItem::Child(slot), FreeItems);
      return;
    }
    if (TTreeItem::IsItem(slot)) {
      if (FreeItems)
        FreeItem(TTreeItem::Item(slot));
      return;
    }
    TChain *chain = TTreeItem::Chain(slot);
    if (FreeItems)
      for (uint32_t i = 0; i < chain->Count; ++i)
        FreeItem(chain->Items()[i]);
    FreeChain(chain);
  });
  TTreeItem::Delete(*this, Node);
}

void THashTrie::ClearTrie() {
  if (FRoot) {
    TTreeItem *root = FRoot;
    FRoot = nullptr;
    FItemCount = 0;
    FreeNode(root, true);
  }
  FChunks.clear();
  FChunkUsed = 0;
  std::fill(std::begin(FFreeBlocks), std::end(FFreeBlocks), nullptr);
}

void THashTrie::VisitItems(const TTreeItem *Node, void (*Visit)(void *, void *), void *Ctx) const {
  if (!Node)
    return;
  Node->EachSlot([&](uintptr_t slot) {
    if (TTreeItem::IsChild(slot)) {
      VisitItems(TTreeItem::Child(slot), Visit, Ctx);
      return;
    }
    if (TTreeItem::IsItem(slot)) {
      Visit(Ctx, TTreeItem::Item(slot));
      return;
    }
    TChain *chain = TTreeItem::Chain(slot);
    for (uint32_t i = 0; i < chain->Count; ++i)
      Visit(Ctx, chain->Items()[i]);
  });
}

namespace {
void NodeStats(const THashTrie::TTreeItem *Node, size_t &nodes, size_t &longest);
}

size_t THashTrie::NodeCount() const {
  size_t nodes = 0, longest = 0;
  NodeStats(FRoot, nodes, longest);
  return nodes;
}

size_t THashTrie::LongestChain() const {
  size_t nodes = 0, longest = 0;
  NodeStats(FRoot, nodes, longest);
  return longest;
}

namespace {
void NodeStats(const THashTrie::TTreeItem *Node, size_t &nodes, size_t &longest) {
  if (!Node)
    return;
  ++nodes;
  Node->EachSlot([&](uintptr_t slot) {
    if (THashTrie::TTreeItem::IsChild(slot)) {
      NodeStats(THashTrie::TTreeItem::Child(slot), nodes, longest);
      return;
    }
    const size_t n = THashTrie::TTreeItem::IsItem(slot) ? 1 : THashTrie::TTreeItem::Chain(slot)->Count;
    longest = std::max(longest, n);
  });
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Entries

namespace {
size_t FontArrayOffset(uint8_t options, uint8_t flags, size_t keyLength) {
  return (SSTEntry::HeaderBytes(options, flags) + keyLength + 7) & ~size_t(7);
}

// Bytes of an entry with these options, flags, key and runs.
size_t EntryBytes(uint8_t options, uint8_t flags, size_t keyLength, uint16_t runCount) {
  return runCount ? FontArrayOffset(options, flags, keyLength) + size_t(runCount) * sizeof(TXLSFont *)
                  : SSTEntry::HeaderBytes(options, flags) + keyLength;
}

TXLSFont **RunFonts(const SSTEntry *E) {
  auto *base = reinterpret_cast<unsigned char *>(const_cast<SSTEntry *>(E));
  return reinterpret_cast<TXLSFont **>(base + FontArrayOffset(E->Options, E->Flags, E->KeyLength()));
}

uint16_t Get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool KnownOptions(uint8_t options) {
  switch (options) {
  case 0x00:
  case 0x01:
  case 0x04:
  case 0x05:
  case 0x08:
  case 0x09:
  case 0x0C:
  case 0x0D: return true;
  default: return false;
  }
}
} // namespace

uint16_t SSTEntry::RunFirstChar(int i) const { return Get16(Key() + CharBytes() + size_t(i) * 4); }
uint16_t SSTEntry::RunFontIndex(int i) const { return Get16(Key() + CharBytes() + size_t(i) * 4 + 2); }
TXLSFont *SSTEntry::RunFont(int i) const { return RunFonts(this)[i]; }

char16_t SSTEntry::CharAt(int i) const {
  const uint8_t *c = Chars();
  return Wide() ? static_cast<char16_t>(Get16(c + size_t(i) * 2)) : static_cast<char16_t>(c[i]);
}

SSTEntry *SSTEntry::Init(void *Block, uint16_t CharCount, uint8_t Options, uint8_t Flags, int32_t SSTIndex,
                         uint16_t RunCount, int32_t ExtSize) {
  auto *e = static_cast<SSTEntry *>(Block);
  e->RefCount = 0;
  e->CharCount = CharCount;
  e->Options = Options;
  e->Flags = Flags;
  if (Flags & IndexFlag)
    *reinterpret_cast<int32_t *>(e + 1) = SSTIndex;
  if (HasSizes(Options))
    *const_cast<TSizes *>(e->Sizes()) = {RunCount, ExtSize};
  return e;
}

SSTEntry *TSST2::NewEntry(uint16_t CharCount, uint8_t Options, uint16_t RunCount, int32_t ExtSize,
                          uint8_t Flags, int32_t SSTIndex) {
  ExtSize = std::max(ExtSize, 0);
  Flags &= ~SSTEntry::InArenaFlag;
  const size_t keyLength =
      ((Options & 0x01) ? size_t(CharCount) * 2 : CharCount) + size_t(RunCount) * 4 + size_t(ExtSize);
  const size_t total = EntryBytes(Options, Flags, keyLength, RunCount);
  void *block = ::operator new(total);
  std::memset(block, 0, total);
  return SSTEntry::Init(block, CharCount, Options, Flags, SSTIndex, RunCount, ExtSize);
}

void TSST2::FreeEntry(SSTEntry *E) {
  // Arena entries go with the arena (ClearSST).
  if (E && !E->InArena())
    ::operator delete(static_cast<void *>(E));
}

// ---------------------------------------------------------------------------------------------
// The SST trie

TSSTHashTrie::~TSSTHashTrie() { ClearTrie(); }

uint32_t TSSTHashTrie::KeyHash(const uint8_t *Key, size_t Length) {
  return Crc32Update(0xFFFFFFFFu, Key, Length);
}

uint32_t TSSTHashTrie::HashOf(const void *Item) const {
  auto *e = static_cast<const SSTEntry *>(Item);
  return KeyHash(e->Key(), e->KeyLength());
}

void TSSTHashTrie::FreeItem(void *Item) { TSST2::FreeEntry(static_cast<SSTEntry *>(Item)); }

bool TSSTHashTrie::ItemsEqual(const void *A, const void *B) const {
  auto *a = static_cast<const SSTEntry *>(A);
  auto *b = static_cast<const SSTEntry *>(B);
  const size_t n = a->KeyLength();
  return n == b->KeyLength() && std::memcmp(a->Key(), b->Key(), n) == 0;
}

size_t TSSTHashTrie::KeyLength(const void *Item) const {
  return static_cast<const SSTEntry *>(Item)->KeyLength();
}

const uint8_t *TSSTHashTrie::KeyStart(const void *Item) const {
  return static_cast<const SSTEntry *>(Item)->Key();
}

// ---------------------------------------------------------------------------------------------
// TSST2

TSST2::TSST2(TXLSFonts *Fonts) : FFonts(Fonts) {}

TSST2::~TSST2() { ClearSST(); }

SSTEntry *TSST2::Intern(SSTEntry *E, uint32_t Hash) {
  FinishBackground();
  if (auto *found = static_cast<SSTEntry *>(InsertWithHash(E, Hash))) {
    ++found->RefCount;
    DiscardEntry(E);
    return found;
  }
  return E;
}

SSTEntry *TSST2::AddText(std::u16string_view Text) {
  uint32_t hash;
  SSTEntry *e = NewText(Text, hash);
  return Intern(e, hash);
}

SSTEntry *TSST2::NewTextEntry(size_t Count, bool Wide) {
  if (Count > 0xFFFF)
    throw common::Exception(common::Format("Text too long for a cell (%zu characters)", Count));
  ++FTotal;
  const auto count = static_cast<uint16_t>(Count);
  // Short texts (nearly all) are kept in the arena like the strings of the SST.
  const uint8_t options = Wide ? 0x01 : 0x00;
  const size_t total = EntryBytes(options, 0, Wide ? Count * 2 : Count, 0);
  const bool inArena = PoolSmallBlocks && total <= MaxArenaEntryBytes;
  SSTEntry *e = inArena ? SSTEntry::Init(ArenaEntry(total), count, options, SSTEntry::InArenaFlag, 0, 0, 0)
                        : NewEntry(count, options, 0, 0);
  e->RefCount = 1;
  return e;
}

SSTEntry *TSST2::NewText(std::u16string_view Text, uint32_t &Hash) {
  const bool wide = std::any_of(Text.begin(), Text.end(), [](char16_t c) { return c > 255; });
  SSTEntry *e = NewTextEntry(Text.size(), wide);
  auto *chars = const_cast<uint8_t *>(e->Chars());
  for (size_t i = 0; i < Text.size(); ++i) {
    if (wide) {
      chars[2 * i] = static_cast<uint8_t>(Text[i] & 0xFF);
      chars[2 * i + 1] = static_cast<uint8_t>(Text[i] >> 8);
    } else {
      chars[i] = static_cast<uint8_t>(Text[i]);
    }
  }
  Hash = KeyHash(e->Key(), e->KeyLength());
  return e;
}

SSTEntry *TSST2::NewText(const uint8_t *Chars, size_t Count, uint32_t &Hash) {
  SSTEntry *e = NewTextEntry(Count, false);
  if (Count)
    std::memcpy(const_cast<uint8_t *>(e->Chars()), Chars, Count);
  // The key is just these characters. Hashing them where they came from does not wait for the
  // copy to be read back.
  Hash = KeyHash(Chars, Count);
  return e;
}

namespace {
// Bytes an arena entry takes, from its own fields.
size_t ArenaBytes(const SSTEntry *E) {
  return EntryBytes(E->Options, E->Flags, E->KeyLength(), E->RunCount());
}
} // namespace

void *TSST2::ArenaEntry(size_t Bytes) {
  // A released entry of the same size is reused, so editing does not grow the arena without end.
  if (FArenaFreeCount != 0) {
    auto free = FArenaFree.find(Bytes);
    if (free != FArenaFree.end() && free->second) {
      void *block = free->second;
      void *next;
      std::memcpy(&next, block, sizeof next);
      free->second = next;
      --FArenaFreeCount;
      return block;
    }
  }
  return ArenaAllocate(Bytes, alignof(SSTEntry));
}

void TSST2::DiscardEntry(SSTEntry *E) {
  if (!E->InArena()) {
    FreeEntry(E);
    return;
  }
  void *&head = FArenaFree[ArenaBytes(E)];
  std::memcpy(static_cast<void *>(E), &head, sizeof head); // blocks may be only 4-byte aligned
  head = E;
  ++FArenaFreeCount;
}

uint32_t TSST2::OwnBlockHandle(SSTEntry *E) {
  FOwnBlocks.push_back(E);
  return static_cast<uint32_t>(FOwnBlocks.size() - 1) | OwnBlock;
}

uint32_t TSST2::HandleOf(SSTEntry *E) {
  // An entry read from this table is found through its own position; any other gets a slot.
  if (const int32_t at = E->SSTIndex(); (E->Flags & SSTEntry::IndexFlag) && size_t(at) < FIndex.Size())
    if (EntryOf(FIndex[size_t(at)]) == E)
      return FIndex[size_t(at)];
  return OwnBlockHandle(E);
}

std::u16string TSST2::EntryText(const SSTEntry *Entry) {
  std::u16string text;
  if (!Entry)
    return text;
  text.resize(Entry->CharCount);
  for (int i = 0; i < Entry->CharCount; ++i)
    text[static_cast<size_t>(i)] = Entry->CharAt(i);
  return text;
}

void TSST2::ReleaseEntry(SSTEntry *Entry) {
  if (!Entry)
    return;
  FinishBackground();
  Entry = MoveToInterned(Entry); // a cell may hold an entry found equal to another since
  if (--Entry->RefCount >= 1)
    return;
  if (FFonts)
    for (int i = 0; i < Entry->RunCount(); ++i)
      if (TXLSFont *font = Entry->RunFont(i))
        FFonts->ReleaseFont(font);
  if (!Remove(Entry) && HasDeferred()) {
    ++FDeadDeferred; // not interned yet: dropped by InternDeferred
    return;
  }
  // While the index list is alive, no position may keep pointing at the freed entry.
  for (size_t i = 0; i < FIndex.Size(); ++i)
    if (EntryOf(FIndex[i]) == Entry)
      FIndex[i] = NoEntry;
  DiscardEntry(Entry);
  --FTotal;
}

void TSST2::DropIndex() {
  FinishBackground();
  FIndex = {};
  FOwnBlocks.clear();
  FOwnBlocks.shrink_to_fit();
}

void TSST2::ClearSST() {
  try {
    FinishBackground();
  } catch (...) {
    // Out of memory settling the duplicates: they stay in the arena, freed with it below.
  }
  FBackgroundFailure = nullptr;
  FDeferred.ForEach([&](const TRef &ref) { FreeEntry(EntryOf(ref.Handle)); });
  FDeferred = {};
  FDeadDeferred = 0;
  FreeForwarded();
  ClearTrie();
  DropIndex();
  FArena.clear();
  FArenaUsed = FArenaSize = 0;
  FArenaFree.clear();
  FArenaFreeCount = 0;
  FKey.clear();
  FKey.shrink_to_fit();
  FTotal = 0;
}

// ---------------------------------------------------------------------------------------------
// Reading

namespace {

[[noreturn]] void MissingContinue() { throw common::Exception("CONTINUE record is missing in SST"); }
[[noreturn]] void Corrupt() { throw common::Exception("Corrupt SST record"); }

} // namespace

// Reads inside the SST record and its CONTINUE records; Remaining counts what is left of the
// current record, so nothing is ever read past a record the table does not own.
class SSTReader {
public:
  SSTReader(TXLSStream &stream, int length) : FStream(stream) { Load(length); }

  // The current record's body is read in one piece and the fields are taken from memory.
  void Exact(void *buffer, int count) {
    if (count > Remaining)
      Corrupt();
    if (count > FAvail)
      Corrupt(); // the file ends inside the record
    if (count > 0)
      std::memcpy(buffer, FData + FAt, size_t(count));
    FAt += count;
    FAvail -= count;
    Remaining -= count;
  }
  uint8_t U8() {
    uint8_t b;
    Exact(&b, 1);
    return b;
  }
  uint16_t U16() {
    uint8_t b[2];
    Exact(b, 2);
    return Get16(b);
  }
  uint32_t U32() {
    uint8_t b[4];
    Exact(b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  }
  void NextContinue() {
    uint8_t header[4];
    if (FStream.ReadHeader(header) < 4 || Get16(header) != BIFF_CONTINUE)
      MissingContinue();
    Load(Get16(header + 2));
  }
  // Most strings have neither runs nor a phonetic block and lie wholly in the part of the record
  // read. For such a string, this moves past it and gives its characters as they stand, which
  // stay valid until the next CONTINUE is loaded; for any other, it reads nothing and gives
  // nullptr.
  const uint8_t *PlainString(uint16_t &charCount, uint8_t &options, size_t &bytes) {
    if (Remaining < 3 || FAvail < 3)
      return nullptr;
    const uint8_t *head = FData + FAt;
    if ((head[2] & ~0x01) != 0)
      return nullptr;
    charCount = Get16(head);
    options = head[2];
    bytes = size_t(charCount) << (options & 0x01);
    const int total = 3 + static_cast<int>(bytes);
    if (total > Remaining || total > FAvail)
      return nullptr;
    FAt += total;
    FAvail -= total;
    Remaining -= total;
    return head + 3;
  }
  // Data that may cross into CONTINUE records without an option byte (runs, phonetic block).
  void Raw(std::vector<uint8_t> &out, size_t count) {
    while (count > 0) {
      if (Remaining == 0)
        NextContinue();
      int piece = static_cast<int>(std::min<size_t>(count, size_t(Remaining)));
      size_t at = out.size();
      out.resize(at + size_t(piece));
      Exact(out.data() + at, piece);
      count -= size_t(piece);
    }
  }
  void Skip() {
    if (Remaining > FAvail)
      Corrupt(); // the file ends inside the record
    FAt += Remaining;
    FAvail -= Remaining;
    Remaining = 0;
  }

  int Remaining = 0;

private:
  void Load(int length) {
    FAt = 0;
    Remaining = length;
    // Most bodies are read where the stream holds them; the rest are copied.
    if ((FData = FStream.ReadInPlace(length))) {
      FAvail = length;
      return;
    }
    FBody.resize(size_t(std::max(length, 0)));
    FAvail = length > 0 ? FStream.ReadData(FBody.data(), length) : 0;
    FData = FBody.data();
  }

  TXLSStream &FStream;
  const uint8_t *FData = nullptr; // the current body: in the stream's buffer or in FBody
  std::vector<uint8_t> FBody;
  int FAt = 0;
  int FAvail = 0; // bytes of the body actually read (fewer when the file ends early)
};

// Reads one string into FKey (characters in their final width, runs, phonetic block) and
// FRunFonts; the scratch buffers are reused from string to string.
void TSST2::ReadEntryKey(SSTReader &in, TEntryShape &shape) {
  if (in.Remaining < 3)
    Corrupt();
  uint8_t head[3];
  in.Exact(head, 3);
  shape.CharCount = Get16(head);
  uint8_t options = head[2];
  if (!KnownOptions(options))
    throw common::Exception(common::Format("STT: Unhandled string type in Read (%.2X)", options));
  shape.RunCount = 0;
  shape.ExtSize = 0;
  if (options & 0x08)
    shape.RunCount = in.U16();
  if (options & 0x04) {
    shape.ExtSize = static_cast<int32_t>(in.U32());
    if (shape.ExtSize < 0)
      Corrupt();
  }

  // Characters: pieces of either width; the entry is 16-bit when any piece is. Bytes are kept
  // as stored in the file (16-bit units are little-endian there too), so they are the key.
  bool wide = (options & 0x01) != 0;
  bool anyWide = wide;
  FKey.clear();
  size_t wanted = shape.CharCount;
  for (bool first = true; first || wanted > 0; first = false) {
    if (!first) {
      in.NextContinue();
      wide = in.U8() == 1;
      if (wide && !anyWide) {
        // Earlier 8-bit pieces become 16-bit units of the same value.
        anyWide = true;
        size_t n = FKey.size();
        FKey.resize(n * 2);
        for (size_t i = n; i-- > 0;) {
          FKey[2 * i] = FKey[i];
          FKey[2 * i + 1] = 0;
        }
      }
    }
    size_t bytes = wide ? std::min(wanted * 2, size_t(in.Remaining)) : std::min(wanted, size_t(in.Remaining));
    if (wide && bytes % 2)
      Corrupt(); // a character cut by the record end
    size_t at = FKey.size();
    if (!wide && anyWide) {
      FKey.resize(at + bytes * 2);
      uint8_t *out = FKey.data() + at;
      in.Exact(out + bytes, static_cast<int>(bytes)); // read into the upper half, then spread
      for (size_t i = 0; i < bytes; ++i) {
        out[2 * i] = out[bytes + i];
        out[2 * i + 1] = 0;
      }
    } else {
      FKey.resize(at + bytes);
      in.Exact(FKey.data() + at, static_cast<int>(bytes));
    }
    wanted -= wide ? bytes / 2 : bytes;
  }
  shape.Options = anyWide ? static_cast<uint8_t>(options | 0x01) : options;

  const size_t charBytes = FKey.size();
  in.Raw(FKey, size_t(shape.RunCount) * 4);
  FRunFonts.clear();
  for (int i = 0; i < shape.RunCount; ++i) {
    int fontIndex = Get16(FKey.data() + charBytes + size_t(i) * 4 + 2);
    if (!FFonts)
      common::ListIndexError(fontIndex);
    FRunFonts.push_back(&FFonts->Items(fontIndex));
  }
  in.Raw(FKey, size_t(shape.ExtSize));
}

void *TSST2::ArenaAllocateInNewChunk(size_t Bytes) {
  FArena.push_back(MakeChunk<uint64_t>());
  FArenaSize = ChunkBytes;
  FArenaUsed = Bytes;
  return FArena.back().get();
}

namespace {
// A smaller SST is interned at once: a thread would cost more than it saves.
constexpr size_t InternAheadStrings = 16384;
} // namespace

void TSST2::ReadSST(TXLSStream &Stream, int Length) {
  FinishBackground();
  SSTReader in(Stream, Length);
  if (Length < 8)
    Corrupt();
  FTotal = static_cast<int32_t>(in.U32());
  uint32_t unique = in.U32();
  // The strings are read first and interned together afterwards (InternRead), also when the
  // read fails part way.
  auto pending = std::make_unique<TPending>(); // the strings read, until they are interned
  // A large table interned ahead is hashed there too, so that reading it here only copies; the
  // count it claims decides, and a wrong one only moves the work.
  const size_t first = FIndex.Size();
  const bool hashAhead = FInternAhead && unique >= InternAheadStrings;
  try {
    TEntryShape shape;
    for (uint32_t i = 0; i < unique; ++i) {
      if (in.Remaining == 0)
        in.NextContinue();
      size_t keyLength;
      const uint8_t *key = in.PlainString(shape.CharCount, shape.Options, keyLength);
      if (key) {
        shape.RunCount = 0;
        shape.ExtSize = 0;
      } else {
        ReadEntryKey(in, shape);
        key = FKey.data();
        keyLength = FKey.size();
      }
      const int32_t index = static_cast<int32_t>(FIndex.Size());
      const size_t total = EntryBytes(shape.Options, SSTEntry::IndexFlag, keyLength, shape.RunCount);
      // Only an entry with runs needs 8-byte alignment, for the font references after its key.
      const size_t align = shape.RunCount ? 8 : alignof(SSTEntry);
      // Strings read from the file live in the table's arena, but for a rare very long one.
      SSTEntry *e;
      uint32_t handle;
      if (PoolSmallBlocks && total <= MaxArenaEntryBytes) {
        void *block = ArenaAllocate(total, align);
        e = SSTEntry::Init(block, shape.CharCount, shape.Options, SSTEntry::IndexFlag | SSTEntry::InArenaFlag,
                           index, shape.RunCount, shape.ExtSize);
        handle = NewestArenaHandle(block);
      } else {
        e = NewEntry(shape.CharCount, shape.Options, shape.RunCount, shape.ExtSize, SSTEntry::IndexFlag,
                     index);
        handle = OwnBlockHandle(e);
      }
      if (keyLength)
        common::CopyShort(const_cast<uint8_t *>(e->Key()), key, keyLength);
      if (shape.RunCount) {
        TXLSFont **runFonts = RunFonts(e);
        for (int r = 0; r < shape.RunCount; ++r) {
          runFonts[r] = FRunFonts[size_t(r)];
          ++runFonts[r]->UseCount;
        }
      }
      FIndex.PushBack(handle);
      if (!hashAhead)
        pending->Add({handle, KeyHash(key, keyLength)});
    }
    // Bytes the counts did not cover would otherwise be taken for the next record header.
    in.Skip();
  } catch (...) {
    InternRead(std::move(pending), hashAhead ? first : FIndex.Size());
    throw;
  }
  InternRead(std::move(pending), hashAhead ? first : FIndex.Size());
}

void TSST2::InternRead(std::unique_ptr<TPending> Pending, size_t Unhashed) {
  if (FInternAhead && Pending->Size() + (FIndex.Size() - Unhashed) >= InternAheadStrings &&
      InternReadAhead(Pending, Unhashed))
    return;
  HashPositions(*Pending, Unhashed, FIndex.Size(), [this](uint32_t h) { return EntryOf(h); });
  InternNow(*Pending, false, true);
}

template <class Resolve>
void TSST2::HashPositions(TPending &Pending, size_t From, size_t To, const Resolve &resolve) const {
  for (size_t i = From; i < To; ++i) {
    const SSTEntry *e = resolve(FIndex[i]);
    Pending.Add({FIndex[i], KeyHash(e->Key(), e->KeyLength())});
  }
}

namespace {
// Calls f for each item, the entries it points at being fetched a few items ahead by fetch: they
// lie anywhere in memory.
template <class T, class Fetch, class F>
void ForEachFetchingAhead(const std::vector<T> &Items, Fetch fetch, F f) {
  constexpr size_t Ahead = 8;
  for (size_t i = 0; i < Items.size(); ++i) {
    if (i + Ahead < Items.size())
      fetch(Items[i + Ahead]);
    f(Items[i]);
  }
}
} // namespace

// Settles what interning finds as it goes.
struct TSST2::TSettle {
  TSST2 &Owner;
  bool FromSST;
  void Duplicate(const TDuplicate &D) { Owner.SettleDuplicate(D, FromSST); }
  void Dropped(SSTEntry *E) { Owner.FreeReleased(E); }
};

// Keeps what interning on another thread finds, for this one to settle afterwards (SettleFound).
struct TSST2::TFound {
  std::vector<TDuplicate> Duplicates;
  std::vector<SSTEntry *> Released;
  void Duplicate(const TDuplicate &D) { Duplicates.push_back(D); }
  void Dropped(SSTEntry *E) { Released.push_back(E); }
};

void TSST2::SettleFound(TFound &Found, bool FromSST) {
  // Room first, so that settling does not fail part way.
  FForwarded.reserve(FForwarded.size() + Found.Duplicates.size());
  FOwnBlocks.reserve(FOwnBlocks.size() + Found.Duplicates.size());
  ForEachFetchingAhead(
      Found.Duplicates,
      [](const TDuplicate &d) {
        common::Prefetch(d.Entry);
        common::Prefetch(d.Kept);
      },
      [&](const TDuplicate &d) { SettleDuplicate(d, FromSST); });
  for (SSTEntry *e : Found.Released)
    FreeReleased(e);
  Found = {};
}

namespace {
// A trie built apart from the table, for it to adopt whole.
class TPartTrie : public TSSTHashTrie {
public:
  using THashTrie::InsertSorted;
};

// Fewer entries into an empty table are interned on one thread: a second would cost more than it
// saves.
constexpr size_t InternInTwoEntries = 32768;
} // namespace

void TSST2::InternNow(TPending &Pending, bool DropReleased, bool FromSST) {
  if (ItemCount() == 0 && Pending.Size() >= InternInTwoEntries && InternInTwo(Pending, DropReleased, FromSST))
    return;
  TSettle settle{*this, FromSST};
  InternPending(
      Pending, DropReleased, [this](uint32_t h) { return EntryOf(h); }, settle);
}

bool TSST2::InternInTwo(TPending &Pending, bool DropReleased, bool FromSST) {
  // Into an empty table, the parts of the lower root slots make a trie apart on a second thread
  // while this one interns the rest; the table then adopts it. Equal strings have equal hashes,
  // so they fall in the same part. What either thread finds is settled after both are done, so
  // that neither changes anything but its own trie meanwhile.
  Pending.Flush();
  constexpr size_t Half = std::tuple_size_v<decltype(Pending.Parts)> / 2;
  auto resolve = [this](uint32_t h) { return EntryOf(h); };
  TPartTrie lower;
  TFound lowerFound, upperFound;
  // Room for as many duplicates as there can be, so that the lists never grow by copying: only
  // the part used is ever touched.
  lowerFound.Duplicates.reserve(Pending.Size());
  upperFound.Duplicates.reserve(Pending.Size());
  std::exception_ptr lowerFailure;
  std::thread second;
  try {
    second = std::thread([&] {
      try {
        InternParts(Pending, 0, Half, false, DropReleased, resolve, lowerFound,
                    [&lower](void *const *items, const uint32_t *hashes, size_t count) {
                      lower.InsertSorted(items, hashes, count);
                    });
      } catch (...) {
        lowerFailure = std::current_exception();
      }
    });
  } catch (const std::system_error &) { // no thread to be had: nothing done yet
    return false;
  }
  // The second thread's trie is adopted, and what both found settled, also when this one fails.
  auto join = [&] {
    second.join();
    AdoptRootSlots(lower);
    SettleFound(lowerFound, FromSST);
    SettleFound(upperFound, FromSST);
  };
  try {
    InternParts(Pending, Half, Pending.Parts.size(), false, DropReleased, resolve, upperFound,
                [this](void *const *items, const uint32_t *hashes, size_t count) {
                  InsertSorted(items, hashes, count);
                });
  } catch (...) {
    join();
    throw;
  }
  join();
  if (lowerFailure)
    std::rethrow_exception(lowerFailure);
  return true;
}

// The SST's strings being interned on a thread of their own. The thread reads the entries
// through the arena chunks and own blocks as they stood when it started: the reader may add to
// both meanwhile. It reads the handles of the positions it hashes from the index list, which
// nothing changes until the thread is joined.
struct TSST2::TBackground {
  std::unique_ptr<TPending> Batch;
  size_t HashFrom = 0, HashTo = 0; // positions to hash into Batch first
  std::vector<uint64_t *> Arena;
  std::vector<SSTEntry *> OwnBlocks;
  TFound Found;
  std::exception_ptr Failure;
  std::thread Thread;
};

bool TSST2::InternReadAhead(std::unique_ptr<TPending> &Pending, size_t Unhashed) {
  auto bg = std::make_unique<TBackground>();
  bg->Arena.reserve(FArena.size());
  for (const auto &chunk : FArena)
    bg->Arena.push_back(chunk.get());
  bg->OwnBlocks = FOwnBlocks;
  bg->HashFrom = Unhashed;
  bg->HashTo = FIndex.Size();
  TBackground *b = bg.get();
  b->Batch = std::move(Pending);
  try {
    b->Thread = std::thread([this, b] {
      try {
        auto resolve = [b](uint32_t h) { return EntryIn(h, b->Arena.data(), b->OwnBlocks.data()); };
        HashPositions(*b->Batch, b->HashFrom, b->HashTo, resolve);
        InternPending(*b->Batch, false, resolve, b->Found);
      } catch (...) {
        b->Failure = std::current_exception();
      }
      b->Batch.reset(); // its chunks go back on this thread
    });
  } catch (const std::system_error &) { // no thread to be had
    Pending = std::move(b->Batch);
    return false;
  }
  FBackground = std::move(bg);
  return true;
}

void TSST2::JoinBackground() {
  const std::unique_ptr<TBackground> bg = std::move(FBackground);
  bg->Thread.join();
  if (bg->Failure && !FBackgroundFailure)
    FBackgroundFailure = bg->Failure;
  SettleFound(bg->Found, true);
}

void TSST2::SettleDuplicate(const TDuplicate &D, bool FromSST) {
  SSTEntry *e = D.Entry;
  const uint32_t kept = D.KeptHandle != NoEntry ? D.KeptHandle : HandleOf(D.Kept);
  if (FromSST) {
    FIndex[size_t(e->SSTIndex())] = kept;
    ++D.Kept->RefCount; // a later SST string interning to it
    if (e->RefCount == 0) {
      DiscardEntry(e);
      return;
    }
  }
  // Its cells' references move over with them (MoveToInterned).
  FForwarded.push_back(e);
  D.Kept->RefCount += e->RefCount;
  e->Flags |= SSTEntry::ForwardFlag;
  e->RefCount = static_cast<int32_t>(kept);
}

void TSST2::FreeReleased(SSTEntry *E) {
  --FTotal;
  DiscardEntry(E);
}

void TSST2::Defer(SSTEntry *E, uint32_t Hash) {
  // The entry was just taken from the arena, so its handle costs nothing, but for a reused or
  // long one, which has a place in the own-block list.
  const auto *at = reinterpret_cast<const uint8_t *>(E);
  const auto *newest = FArena.empty() ? nullptr : reinterpret_cast<const uint8_t *>(FArena.back().get());
  try {
    const uint32_t handle = E->InArena() && newest && at >= newest && at < newest + FArenaUsed
                                ? NewestArenaHandle(E)
                                : OwnBlockHandle(E);
    FDeferred.Add({handle, Hash});
  } catch (...) {
    --FTotal;
    DiscardEntry(E);
    throw;
  }
}

SSTEntry *TSST2::DeferText(const uint8_t *Chars, size_t Count) {
  const size_t total = sizeof(SSTEntry) + Count;
  if (!PoolSmallBlocks || FArenaFreeCount != 0 || total > MaxArenaEntryBytes) {
    uint32_t hash;
    SSTEntry *e = NewText(Chars, Count, hash);
    Defer(e, hash);
    return e;
  }
  // Most texts are short and get fresh arena memory, whose handle is its place there.
  SSTEntry *e = SSTEntry::Init(ArenaAllocate(total, alignof(SSTEntry)), static_cast<uint16_t>(Count), 0,
                               SSTEntry::InArenaFlag, 0, 0, 0);
  e->RefCount = 1;
  common::CopyShort(e + 1, Chars, Count);
  ++FTotal;
  try {
    FDeferred.Add({NewestArenaHandle(e), KeyHash(Chars, Count)});
  } catch (...) {
    --FTotal;
    DiscardEntry(e);
    throw;
  }
  return e;
}

bool TSST2::InternDeferred() {
  FinishBackground();
  if (FBackgroundFailure)
    std::rethrow_exception(std::exchange(FBackgroundFailure, nullptr));
  if (HasDeferred()) {
    TPending deferred = std::exchange(FDeferred, {});
    const bool dropReleased = std::exchange(FDeadDeferred, 0) != 0;
    InternNow(deferred, dropReleased, false);
  }
  return !FForwarded.empty();
}

void TSST2::FreeForwarded() {
  FinishBackground();
  ForEachFetchingAhead(
      FForwarded, [](SSTEntry *e) { common::Prefetch(e); }, [this](SSTEntry *e) { DiscardEntry(e); });
  FForwarded.clear();
}

void TSST2::TPending::Flush() {
  size_t i = 0;
  try {
    for (; i < Staged; ++i)
      Parts[size_t(SlotIndex(Stage[i].Hash, 0)) >> 4].PushBack(Stage[i]);
  } catch (...) {
    std::copy(Stage.begin() + i, Stage.begin() + Staged, Stage.begin());
    Staged -= i;
    throw;
  }
  Staged = 0;
}

size_t TSST2::TPending::Size() const {
  size_t n = Staged;
  for (const auto &part : Parts)
    n += part.Size();
  return n;
}

template <class Resolve, class Found>
void TSST2::InternPending(TPending &Pending, bool DropReleased, const Resolve &resolve, Found &found) {
  Pending.Flush();
  InternParts(Pending, 0, Pending.Parts.size(), ItemCount() != 0, DropReleased, resolve, found,
              [this](void *const *items, const uint32_t *hashes, size_t count) {
                InsertSorted(items, hashes, count);
              });
}

template <class Resolve, class Found, class Store>
void TSST2::InternParts(TPending &Pending, size_t First, size_t Last, bool Stored, bool DropReleased,
                        const Resolve &resolve, Found &found, const Store &store) {
  // Interning one by one sends every string to a random place of a table far larger than the
  // caches. Instead the strings are put in trie order and each group sharing the first hash
  // byte is stored at once, so the trie is built front to back and entries are only touched
  // when their hashes say they may be equal. Each part is ordered by the root slot, and each
  // root slot's group by the rest, with stable passes that write to few places at a time.
  TInternScratch scratch;
  scratch.Stored = Stored;
  std::vector<TRef> part;
  for (size_t p = First; p < Last; ++p) {
    TChunkedArray<TRef> &refs = Pending.Parts[p];
    std::array<size_t, 17> start{};
    for (size_t i = 0; i < refs.Size(); ++i) {
      TRef &ref = refs[i];
      if (DropReleased)
        if (SSTEntry *e = resolve(ref.Handle); e->RefCount == 0) {
          found.Dropped(e);
          ref.Handle = NoEntry;
          continue;
        }
      ++start[(SlotIndex(ref.Hash, 0) & 0x0F) + 1];
    }
    for (size_t b = 1; b < start.size(); ++b)
      start[b] += start[b - 1];
    part.resize(start[16]);
    for (size_t i = 0; i < refs.Size(); ++i)
      if (const TRef &ref = refs[i]; ref.Handle != NoEntry)
        part[start[SlotIndex(ref.Hash, 0) & 0x0F]++] = ref;
    refs = {};                                          // its memory can serve the trie
    for (size_t b = 0, lo = 0; b < 16; lo = start[b++]) // start[b] now ends group b
      if (start[b] > lo)
        InternGroup(part.data() + lo, start[b] - lo, scratch, resolve, found, store);
  }
}

template <class Resolve, class Found, class Store>
void TSST2::InternGroup(TRef *Refs, size_t Count, TInternScratch &Scratch, const Resolve &resolve,
                        Found &found, const Store &store) {
  // A large group is put in order by stable counting passes by the depth-2 slot and the depth-1
  // slot (least significant first), which write to only 256 places at a time and stay in the
  // cache; what is left to order is the last hash byte among equal first three, which rarely
  // differs. A small group is sorted whole.
  // The hash bytes in trie order, the lowest first.
  auto trieOrder = [](uint32_t h) { return __builtin_bswap32(h); };
  auto before = [&](const TRef &a, const TRef &b) { return trieOrder(a.Hash) < trieOrder(b.Hash); };
  auto insertionSort = [&](TRef *refs, size_t count) { // stable
    for (size_t i = 1; i < count; ++i)
      for (size_t j = i; j > 0 && before(refs[j], refs[j - 1]); --j)
        std::swap(refs[j], refs[j - 1]);
  };
  if (Count <= 32) {
    insertionSort(Refs, Count);
  } else {
    std::array<size_t, 257> start1{}, start2{};
    for (size_t k = 0; k < Count; ++k) {
      ++start1[SlotIndex(Refs[k].Hash, 1) + 1];
      ++start2[SlotIndex(Refs[k].Hash, 2) + 1];
    }
    for (size_t b = 1; b < start1.size(); ++b) {
      start1[b] += start1[b - 1];
      start2[b] += start2[b - 1];
    }
    std::vector<TRef> &spare = Scratch.Spare;
    spare.resize(Count);
    for (size_t k = 0; k < Count; ++k)
      spare[start2[SlotIndex(Refs[k].Hash, 2)]++] = Refs[k];
    for (size_t k = 0; k < Count; ++k)
      Refs[start1[SlotIndex(spare[k].Hash, 1)]++] = spare[k];
    // Equal strings have equal hashes, now mostly side by side, and are compared below: their
    // entries, far apart in memory, are fetched all at once first instead of one after the other.
    for (size_t k = 1; k < Count; ++k)
      if (Refs[k].Hash == Refs[k - 1].Hash) {
        common::Prefetch(resolve(Refs[k - 1].Handle));
        common::Prefetch(resolve(Refs[k].Handle));
      }
    for (size_t b1 = 0, lo = 0; b1 < 256; lo = start1[b1++]) {
      const size_t count = start1[b1] - lo;
      if (count <= 32)
        insertionSort(Refs + lo, count);
      else
        std::stable_sort(Refs + lo, Refs + start1[b1], before);
    }
  }
  // The group's distinct entries, in trie order, are stored at once, so that its node one level
  // down is built whole, at the size it needs, in one walk from the root.
  const bool stored = Scratch.Stored;
  std::vector<void *> &items = Scratch.Items;
  std::vector<uint32_t> &hashes = Scratch.Hashes, &handles = Scratch.Handles;
  if (items.size() < Count) {
    items.resize(Count);
    hashes.resize(Count);
    handles.resize(Count);
  }
  size_t kept = 0;
  for (size_t i = 0; i < Count; ++i) {
    SSTEntry *e = resolve(Refs[i].Handle);
    const uint32_t hash = Refs[i].Hash;
    TDuplicate duplicate{e, nullptr, NoEntry};
    if (stored)
      duplicate.Kept = static_cast<SSTEntry *>(FindWithHash(e, hash));
    // Equal strings have equal hashes, so they sit together at the end of those kept so far.
    for (size_t j = kept; !duplicate.Kept && j-- > 0 && hashes[j] == hash;)
      if (ItemsEqual(items[j], e)) {
        duplicate.Kept = static_cast<SSTEntry *>(items[j]);
        duplicate.KeptHandle = handles[j];
      }
    if (duplicate.Kept) {
      found.Duplicate(duplicate);
    } else {
      items[kept] = e;
      hashes[kept] = hash;
      handles[kept++] = Refs[i].Handle;
    }
  }
  store(items.data(), hashes.data(), kept);
}

} // namespace xls
