#include "cells/sst.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cells/formats.h"
#include "common/text.h"

namespace xls {

namespace {

constexpr size_t MaxChain = 8;
constexpr size_t ArenaBlockBytes = 64 * 1024;
constexpr int MaxDepth = 3;

int SlotIndex(uint32_t Hash, int Depth) { return static_cast<int>((Hash >> (8 * Depth)) & 0xFF); }

} // namespace

// ---------------------------------------------------------------------------------------------
// Trie

// A node of 256 slots in one allocation: a bitmap of the filled slots, then the filled ones only,
// in slot order, each found by counting the bits before its own. Most nodes below the first level
// hold a handful of slots, and 256 of them each would be most of a large table's memory. A slot
// holds a child node, a chain or, for a chain of one (most slots of the deeper nodes), the item
// itself with its hash. Like a chain, the node keeps its slots' hashes, kinds and values in
// arrays of their own, so that no slot is padded to the size of a pointer.
struct THashTrie::TTreeItem {
  enum TKind : uint8_t { Item, Chain, Child };
  uint8_t Depth;
  uint8_t Before[3]; // filled slots in the words of Filled before words 1, 2 and 3
  uint16_t Count;    // filled slots
  uint16_t Capacity;
  uint64_t Filled[4];

  uint32_t *Hashes() { return reinterpret_cast<uint32_t *>(this + 1); } // of the slots of kind Item
  TKind *Kinds() { return reinterpret_cast<TKind *>(Hashes() + Capacity); }
  void **Values() { return reinterpret_cast<void **>(reinterpret_cast<char *>(this) + ValuesAt(Capacity)); }
  static size_t KindsAt(size_t Capacity) { return sizeof(TTreeItem) + 4 * Capacity; }
  static size_t ValuesAt(size_t Capacity) { return (KindsAt(Capacity) + Capacity + 7) & ~size_t(7); }
  static size_t Bytes(size_t Capacity) { return ValuesAt(Capacity) + Capacity * sizeof(void *); }

  int Rank(int Index) const {
    const int w = Index >> 6;
    return (w ? Before[w - 1] : 0) + __builtin_popcountll(Filled[w] & ((uint64_t(1) << (Index & 63)) - 1));
  }
  void Mark(int Index, bool On) {
    Filled[Index >> 6] ^= uint64_t(1) << (Index & 63);
    for (int w = Index >> 6; w < 3; ++w)
      Before[w] = static_cast<uint8_t>(Before[w] + (On ? 1 : -1));
  }
  // Where slot Index stands among the filled ones, or -1 when it is empty.
  int Find(int Index) const { return (Filled[Index >> 6] >> (Index & 63) & 1) ? Rank(Index) : -1; }
  // The stored item equal to Item in the filled slot At, of kind Item or Chain, or nullptr.
  void *Match(const THashTrie &Trie, int At, const void *Item, uint32_t ItemHash) {
    if (Kinds()[At] == TTreeItem::Item)
      return Hashes()[At] == ItemHash && Trie.ItemsEqual(Values()[At], Item) ? Values()[At] : nullptr;
    TChain *links = static_cast<TChain *>(Values()[At]);
    for (uint32_t i = 0; i < links->Count; ++i)
      if (links->Hashes()[i] == ItemHash && Trie.ItemsEqual(links->Items()[i], Item))
        return links->Items()[i];
    return nullptr;
  }
  void Set(int At, uint32_t Hash, TKind Kind, void *Value) {
    Hashes()[At] = Hash;
    Kinds()[At] = Kind;
    Values()[At] = Value;
  }
  // Moves the filled slots from From on to To, making room or closing a gap.
  void MoveSlots(int From, int To) {
    const size_t n = size_t(Count - From);
    if (n == 0)
      return;
    std::memmove(Hashes() + To, Hashes() + From, n * sizeof(uint32_t));
    std::memmove(Kinds() + To, Kinds() + From, n);
    std::memmove(Values() + To, Values() + From, n * sizeof(void *));
  }

  static TTreeItem *New(int Depth, int Capacity) {
    auto *node = static_cast<TTreeItem *>(Resize(nullptr, Bytes(size_t(Capacity))));
    *node = {static_cast<uint8_t>(Depth), {}, 0, static_cast<uint16_t>(Capacity), {}};
    return node;
  }
  // Puts an item into slot Index of Node, beside what the slot holds unless that is a child; At
  // is where the slot stands (Find). Node may move.
  static void Put(TTreeItem *&Node, int Index, int At, void *Stored, uint32_t Hash) {
    if (At >= 0) {
      void *value = Node->Values()[At];
      TChain *links = Node->Kinds()[At] == Item ? AddToChain(nullptr, value, Node->Hashes()[At])
                                                : static_cast<TChain *>(value);
      Node->Set(At, 0, Chain, AddToChain(links, Stored, Hash));
      return;
    }
    if (Node->Count == Node->Capacity) {
      // Most nodes stay small and grow by little; the few that fill are not copied slot by slot.
      const size_t old = Node->Capacity, capacity = std::min<size_t>(256, old + std::max<size_t>(1, old / 8));
      Node = static_cast<TTreeItem *>(Resize(Node, Bytes(capacity)));
      // The values, then the kinds, move up past the room for the new hashes and kinds.
      auto *base = reinterpret_cast<char *>(Node);
      std::memmove(base + ValuesAt(capacity), base + ValuesAt(old), Node->Count * sizeof(void *));
      std::memmove(base + KindsAt(capacity), base + KindsAt(old), Node->Count);
      Node->Capacity = static_cast<uint16_t>(capacity);
    }
    const int at = Node->Rank(Index);
    Node->MoveSlots(at, at + 1);
    Node->Set(at, Hash, Item, Stored);
    Node->Mark(Index, true);
    ++Node->Count;
  }
  void Erase(int Index) {
    const int at = Rank(Index);
    MoveSlots(at + 1, at);
    Mark(Index, false);
    --Count;
  }
};

void *THashTrie::Resize(void *Block, size_t Bytes) {
  void *larger = std::realloc(Block, Bytes);
  if (!larger)
    throw std::bad_alloc();
  return larger;
}

THashTrie::~THashTrie() {
  // Derived tries clear themselves while their FreeItem still exists; this frees what is left.
  if (FRoot)
    FreeNode(FRoot, false);
}

uint32_t THashTrie::HashOf(const void *Item) const {
  return Crc32Update(0xFFFFFFFFu, KeyStart(Item), KeyLength(Item));
}

bool THashTrie::ItemsEqual(const void *A, const void *B) const {
  const size_t n = KeyLength(A);
  return n == KeyLength(B) && (n == 0 || std::memcmp(KeyStart(A), KeyStart(B), n) == 0);
}

THashTrie::TChain *THashTrie::AddToChain(TChain *Chain, void *Item, uint32_t Hash) {
  if (!Chain || Chain->Count == Chain->Capacity) {
    // Two links at a time up to the most a chain holds before it splits; past that, at the
    // last depth, twice as many.
    const uint32_t count = Chain ? Chain->Count : 0, capacity = count < MaxChain ? count + 2 : count * 2;
    Chain = static_cast<TChain *>(Resize(Chain, TChain::Bytes(capacity)));
    // The items move up past the room for the new hashes.
    std::memmove(reinterpret_cast<char *>(Chain) + TChain::ItemsAt(capacity),
                 reinterpret_cast<char *>(Chain) + TChain::ItemsAt(count), count * sizeof(void *));
    Chain->Count = count;
    Chain->Capacity = capacity;
  }
  Chain->Hashes()[Chain->Count] = Hash;
  Chain->Items()[Chain->Count++] = Item;
  return Chain;
}

void *THashTrie::Find(const void *Item) const {
  const uint32_t hash = HashOf(Item);
  for (TTreeItem *node = FRoot; node;) {
    const int at = node->Find(SlotIndex(hash, node->Depth));
    if (at < 0)
      return nullptr;
    if (node->Kinds()[at] != TTreeItem::Child)
      return node->Match(*this, at, Item, hash);
    node = static_cast<TTreeItem *>(node->Values()[at]);
  }
  return nullptr;
}

void *THashTrie::Insert(void *Item) {
  void *found = InsertWithHash(Item, HashOf(Item));
  return found ? found : Item;
}

void *THashTrie::InsertWithHash(void *Item, uint32_t Hash) {
  if (!FRoot)
    FRoot = TTreeItem::New(0, 16);
  // The node and the slot of its parent where it stands, to follow it when it grows.
  TTreeItem *node = FRoot, *parent = nullptr;
  int parentAt = 0;
  for (;;) {
    const int index = SlotIndex(Hash, node->Depth);
    const int at = node->Find(index);
    const TTreeItem::TKind kind = at >= 0 ? node->Kinds()[at] : TTreeItem::Item;
    if (at >= 0 && kind == TTreeItem::Child) {
      parent = node;
      parentAt = at;
      node = static_cast<TTreeItem *>(node->Values()[at]);
      continue;
    }
    if (void *found = at >= 0 ? node->Match(*this, at, Item, Hash) : nullptr)
      return found;
    auto *chain = static_cast<TChain *>(at >= 0 ? node->Values()[at] : nullptr);
    if (at < 0 || kind == TTreeItem::Item || chain->Count < MaxChain || node->Depth == MaxDepth) {
      TTreeItem::Put(node, index, at, Item, Hash);
      if (parent)
        parent->Values()[parentAt] = node;
      else
        FRoot = node;
      ++FItemCount;
      return nullptr;
    }
    // A full chain moves one level down, each item to the slot of its next hash byte; Item then
    // goes on into the new node. Eight items never fill a slot there.
    TTreeItem *child = TTreeItem::New(node->Depth + 1, int(chain->Count) + 1);
    for (uint32_t i = 0; i < chain->Count; ++i) {
      const int slot = SlotIndex(chain->Hashes()[i], child->Depth);
      TTreeItem::Put(child, slot, child->Find(slot), chain->Items()[i], chain->Hashes()[i]);
    }
    std::free(chain);
    node->Set(at, 0, TTreeItem::Child, child);
    parent = node;
    parentAt = at;
    node = child;
  }
}

bool THashTrie::Remove(const void *Item) {
  const uint32_t hash = HashOf(Item);
  TTreeItem *path[MaxDepth + 1];
  for (TTreeItem *node = FRoot; node;) {
    path[node->Depth] = node;
    const int at = node->Find(SlotIndex(hash, node->Depth));
    if (at < 0)
      return false;
    void *value = node->Values()[at];
    if (node->Kinds()[at] == TTreeItem::Child) {
      node = static_cast<TTreeItem *>(value);
      continue;
    }
    if (node->Kinds()[at] == TTreeItem::Item) {
      if (value != Item)
        return false;
    } else {
      auto *chain = static_cast<TChain *>(value);
      const uint32_t i =
          uint32_t(std::find(chain->Items(), chain->Items() + chain->Count, Item) - chain->Items());
      if (i == chain->Count)
        return false;
      --chain->Count;
      chain->Hashes()[i] = chain->Hashes()[chain->Count];
      chain->Items()[i] = chain->Items()[chain->Count];
      --FItemCount;
      if (chain->Count == 1) {
        // A chain of one goes back into its slot.
        node->Set(at, chain->Hashes()[0], TTreeItem::Item, chain->Items()[0]);
        std::free(chain);
      }
      return true;
    }
    --FItemCount;
    // The slot is empty now; so is every node it leaves without slots, but the root.
    for (int depth = node->Depth;; --depth) {
      TTreeItem *n = path[depth];
      n->Erase(SlotIndex(hash, depth));
      if (depth == 0 || n->Count > 0)
        return true;
      std::free(n);
    }
  }
  return false;
}

void THashTrie::FreeNode(TTreeItem *Node, bool FreeItems) {
  for (int s = 0; s < Node->Count; ++s) {
    void *value = Node->Values()[s];
    if (Node->Kinds()[s] == TTreeItem::Child)
      FreeNode(static_cast<TTreeItem *>(value), FreeItems);
    else if (Node->Kinds()[s] == TTreeItem::Item && FreeItems)
      FreeItem(value);
    else if (Node->Kinds()[s] == TTreeItem::Chain) {
      auto *chain = static_cast<TChain *>(value);
      for (uint32_t i = 0; FreeItems && i < chain->Count; ++i)
        FreeItem(chain->Items()[i]);
      std::free(chain);
    }
  }
  std::free(Node);
}

void THashTrie::ClearTrie() {
  if (FRoot)
    FreeNode(FRoot, true);
  FRoot = nullptr;
  FItemCount = 0;
}

namespace {
// Calls f for every item under Node and counts nodes and the longest chain.
void Walk(THashTrie::TTreeItem &Node, const std::function<void(void *)> &f, size_t &nodes, size_t &longest) {
  using Tree = THashTrie::TTreeItem;
  ++nodes;
  for (int s = 0; s < Node.Count; ++s) {
    void *value = Node.Values()[s];
    if (Node.Kinds()[s] == Tree::Child) {
      Walk(*static_cast<Tree *>(value), f, nodes, longest);
      continue;
    }
    auto *chain = static_cast<THashTrie::TChain *>(value);
    const size_t n = Node.Kinds()[s] == Tree::Item ? 1 : chain->Count;
    for (size_t i = 0; f && i < n; ++i)
      f(Node.Kinds()[s] == Tree::Item ? value : chain->Items()[i]);
    longest = std::max(longest, n);
  }
}
// Nodes and longest chain under Root.
std::pair<size_t, size_t> Walk(THashTrie::TTreeItem *Root, const std::function<void(void *)> &f) {
  size_t nodes = 0, longest = 0;
  if (Root)
    Walk(*Root, f, nodes, longest);
  return {nodes, longest};
}
} // namespace

void THashTrie::ForEach(const std::function<void(void *)> &f) const { Walk(FRoot, f); }
size_t THashTrie::NodeCount() const { return Walk(FRoot, nullptr).first; }
size_t THashTrie::LongestChain() const { return Walk(FRoot, nullptr).second; }

// ---------------------------------------------------------------------------------------------
// Entries

namespace {

size_t FontsOffset(uint8_t Options, size_t KeyLength) {
  return (SSTEntry::HeaderBytes(Options) + KeyLength + 7) & ~size_t(7);
}

} // namespace

size_t SSTEntry::Bytes(uint8_t Options, size_t KeyLength, uint16_t RunCount) {
  return RunCount ? FontsOffset(Options, KeyLength) + size_t(RunCount) * sizeof(TXLSFont *)
                  : HeaderBytes(Options) + KeyLength;
}

TXLSFont **SSTEntry::RunFonts() const {
  auto *base = reinterpret_cast<uint8_t *>(const_cast<SSTEntry *>(this));
  return reinterpret_cast<TXLSFont **>(base + FontsOffset(Options, KeyLength()));
}

bool TSSTHashTrie::ItemsEqual(const void *A, const void *B) const {
  auto *a = static_cast<const SSTEntry *>(A);
  auto *b = static_cast<const SSTEntry *>(B);
  return a->Options == b->Options && a->CharCount == b->CharCount && a->RunCount() == b->RunCount() &&
         a->ExtSize() == b->ExtSize() && std::memcmp(a->Key(), b->Key(), a->KeyLength()) == 0;
}

// ---------------------------------------------------------------------------------------------
// The table

TSST2::~TSST2() { ClearSST(); }

void *TSST2::Allocate(size_t Bytes, size_t Align) {
  FBlocks.reserve(FBlocks.size() + 1);
  if (Bytes > ArenaBlockBytes / 4) {
    // A long string gets a block of its own, so that the current block is not left mostly unused.
    FBlocks.emplace_back(new uint64_t[(Bytes + 7) / 8]);
    return FBlocks.back().get();
  }
  FBlockUsed = (FBlockUsed + Align - 1) & ~(Align - 1);
  if (!FBlock || FBlockUsed + Bytes > ArenaBlockBytes) {
    FBlocks.emplace_back(new uint64_t[ArenaBlockBytes / 8]);
    FBlock = reinterpret_cast<uint8_t *>(FBlocks.back().get());
    FBlockUsed = 0;
  }
  void *at = FBlock + FBlockUsed;
  FBlockUsed += Bytes;
  return at;
}

SSTEntry *TSST2::Intern(const TShape &Shape, int32_t Index, int32_t RefCount) {
  // FKey holds the key after room for the header: the entry is made from it at the end of the
  // arena and given back at once when an equal one is stored.
  auto *probe = new (FKey.data()) SSTEntry{Index, RefCount, Shape.CharCount, Shape.Options, 0};
  if (SSTEntry::HasSizes(Shape.Options))
    new (probe + 1) SSTEntry::TSizes{Shape.RunCount, Shape.ExtSize};
  const size_t keyLength = probe->KeyLength();
  const uint32_t hash = KeyHash(probe->Key(), keyLength);
  auto *e = static_cast<SSTEntry *>(Allocate(SSTEntry::Bytes(Shape.Options, keyLength, Shape.RunCount),
                                             Shape.RunCount ? 8 : alignof(SSTEntry)));
  std::memcpy(static_cast<void *>(e), FKey.data(), FKey.size());
  for (int i = 0; i < Shape.RunCount; ++i)
    e->RunFonts()[i] = FRunFonts[size_t(i)];
  void *found = nullptr;
  try {
    found = InsertWithHash(e, hash);
  } catch (...) {
    found = e;
  }
  if (found) {
    const auto *at = reinterpret_cast<const uint8_t *>(e);
    if (at >= FBlock && at < FBlock + ArenaBlockBytes)
      FBlockUsed = size_t(at - FBlock);
    else
      FBlocks.pop_back(); // the block of its own just added
    if (found == e)
      throw std::bad_alloc();
    ++static_cast<SSTEntry *>(found)->RefCount;
    return static_cast<SSTEntry *>(found);
  }
  return e;
}

SSTEntry *TSST2::AddText(std::u16string_view Text) {
  const bool wide = std::any_of(Text.begin(), Text.end(), [](char16_t c) { return c > 255; });
  if (!wide) {
    FText.assign(Text.begin(), Text.end());
    return AddText(FText.data(), FText.size());
  }
  StartText(Text.size(), 0x01);
  for (char16_t c : Text) {
    FKey.push_back(static_cast<uint8_t>(c & 0xFF));
    FKey.push_back(static_cast<uint8_t>(c >> 8));
  }
  ++FTotal;
  return Intern({static_cast<uint16_t>(Text.size()), 0x01, 0, 0}, 65535, 1);
}

SSTEntry *TSST2::AddText(const uint8_t *Chars, size_t Count) {
  StartText(Count, 0x00);
  FKey.insert(FKey.end(), Chars, Chars + Count);
  ++FTotal;
  return Intern({static_cast<uint16_t>(Count), 0x00, 0, 0}, 65535, 1);
}

void TSST2::StartText(size_t Count, uint8_t Options) {
  if (Count > 0xFFFF)
    throw common::Exception(common::Format("Text too long for a cell (%zu characters)", Count));
  FKey.assign(SSTEntry::HeaderBytes(Options), 0);
}

std::u16string TSST2::EntryText(const SSTEntry *Entry) {
  if (!Entry)
    return {};
  const uint8_t *c = Entry->Chars();
  return Entry->Wide() ? common::Utf16Text(c, Entry->CharCount) : std::u16string(c, c + Entry->CharCount);
}

std::string_view TSST2::Utf8Text(const SSTEntry *Entry, std::string &Buffer) {
  if (!Entry)
    return {};
  if (Entry->Wide())
    return Buffer = common::Utf16ToUtf8(EntryText(Entry));
  const std::string_view chars(reinterpret_cast<const char *>(Entry->Chars()), Entry->CharCount);
  uint8_t any = 0; // the bits of all characters: below 0x80 when all are ASCII
  for (const char c : chars)
    any |= static_cast<uint8_t>(c);
  if (any < 0x80)
    return chars;
  Buffer.clear();
  common::AppendLatin1AsUtf8(Buffer, chars);
  return Buffer;
}

void TSST2::ReleaseEntry(SSTEntry *Entry) {
  if (!Entry || --Entry->RefCount >= 1)
    return;
  if (FFonts)
    for (int i = 0; i < Entry->RunCount(); ++i)
      if (TXLSFont *font = Entry->RunFont(i))
        FFonts->ReleaseFont(font);
  Remove(Entry);
  // While the index list is alive, no position may keep pointing at the entry.
  std::replace(FIndex.begin(), FIndex.end(), Entry, static_cast<SSTEntry *>(nullptr));
  --FTotal;
}

void TSST2::ClearSST() {
  ClearTrie();
  DropIndex();
  FBlocks.clear();
  FBlock = nullptr;
  FBlockUsed = 0;
  std::vector<uint8_t>().swap(FKey);
  FTotal = 0;
}

} // namespace xls
