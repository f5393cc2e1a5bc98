#include "xls/sst.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "common/exception.h"
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

inline int SlotIndex(uint32_t Hash, int Depth) { return static_cast<int>((Hash >> (8 * Depth)) & 0xFF); }
} // namespace

// A slot is 0 (empty), a TLinkedItem* (chain) or a TTreeItem* with the low bit set (child).
struct THashTrie::TTreeItem {
  THashTrie *Owner;
  int Depth;
  int Filled = 0;
  uintptr_t Slots[256] = {};

  TTreeItem(THashTrie *owner, int depth) : Owner(owner), Depth(depth) {}
  static bool IsChild(uintptr_t slot) { return (slot & ChildTag) != 0; }
  static TTreeItem *Child(uintptr_t slot) { return reinterpret_cast<TTreeItem *>(slot & ~ChildTag); }
  static TLinkedItem *Chain(uintptr_t slot) { return reinterpret_cast<TLinkedItem *>(slot); }
};

namespace {
void FreeChain(THashTrie::TLinkedItem *link) {
  while (link) {
    THashTrie::TLinkedItem *next = link->Next;
    delete link;
    link = next;
  }
}
} // namespace

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
    uintptr_t slot = node->Slots[SlotIndex(Hash, node->Depth)];
    if (slot == 0)
      return nullptr;
    if (TTreeItem::IsChild(slot)) {
      node = TTreeItem::Child(slot);
      continue;
    }
    for (TLinkedItem *link = TTreeItem::Chain(slot); link; link = link->Next)
      if (ItemsEqual(link->Item, Item))
        return link->Item;
    return nullptr;
  }
  return nullptr;
}

void *THashTrie::Find(const void *Item) const { return FindWithHash(Item, HashOf(Item)); }

void *THashTrie::Insert(void *Item) {
  uint32_t hash = HashOf(Item);
  if (void *found = FindWithHash(Item, hash))
    return found;
  if (!FRoot)
    FRoot = new TTreeItem(this, 0);
  InsertAt(FRoot, Item, hash);
  ++FItemCount;
  return Item;
}

void THashTrie::InsertAt(TTreeItem *Node, void *Item, uint32_t Hash) {
  for (;;) {
    uintptr_t &slot = Node->Slots[SlotIndex(Hash, Node->Depth)];
    if (slot == 0) {
      slot = reinterpret_cast<uintptr_t>(new TLinkedItem{Item, nullptr});
      ++Node->Filled;
      return;
    }
    if (TTreeItem::IsChild(slot)) {
      Node = TTreeItem::Child(slot);
      continue;
    }
    TLinkedItem *chain = TTreeItem::Chain(slot);
    int length = 0;
    for (TLinkedItem *link = chain; link; link = link->Next, ++length)
      if (ItemsEqual(link->Item, Item))
        return;
    if (length < MaxChain || Node->Depth >= MaxDepth) {
      slot = reinterpret_cast<uintptr_t>(new TLinkedItem{Item, chain});
      return;
    }
    // A full chain becomes a child node one byte deeper.
    auto child = std::make_unique<TTreeItem>(this, Node->Depth + 1);
    for (TLinkedItem *link = chain; link; link = link->Next)
      InsertAt(child.get(), link->Item, HashOf(link->Item));
    InsertAt(child.get(), Item, Hash);
    slot = reinterpret_cast<uintptr_t>(child.release()) | ChildTag;
    FreeChain(chain);
    return;
  }
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
    uintptr_t &slot = node->Slots[SlotIndex(hash, node->Depth)];
    if (slot == 0)
      return false;
    if (TTreeItem::IsChild(slot)) {
      node = TTreeItem::Child(slot);
      path[++depth] = node;
      continue;
    }
    TLinkedItem **prev = reinterpret_cast<TLinkedItem **>(&slot);
    TLinkedItem *link = TTreeItem::Chain(slot);
    while (link && link->Item != Item) {
      prev = &link->Next;
      link = link->Next;
    }
    if (!link)
      return false;
    *prev = link->Next;
    delete link;
    --FItemCount;
    if (slot != 0)
      return true;
    --node->Filled;
    break;
  }
  // Free child nodes left empty, bottom up; the root stays.
  while (depth > 0 && path[depth]->Filled == 0) {
    TTreeItem *parent = path[depth - 1];
    parent->Slots[SlotIndex(hash, parent->Depth)] = 0;
    --parent->Filled;
    delete path[depth];
    --depth;
  }
  return true;
}

void THashTrie::FreeNode(TTreeItem *Node, bool FreeItems) {
  for (uintptr_t slot : Node->Slots) {
    if (slot == 0)
      continue;
    if (TTreeItem::IsChild(slot)) {
      FreeNode(TTreeItem::Child(slot), FreeItems);
      continue;
    }
    TLinkedItem *link = TTreeItem::Chain(slot);
    if (FreeItems)
      for (TLinkedItem *l = link; l; l = l->Next)
        FreeItem(l->Item);
    FreeChain(link);
  }
  delete Node;
}

void THashTrie::ClearTrie() {
  if (FRoot) {
    TTreeItem *root = FRoot;
    FRoot = nullptr;
    FItemCount = 0;
    FreeNode(root, true);
  }
}

void THashTrie::VisitItems(const TTreeItem *Node, void (*Visit)(void *, void *), void *Ctx) const {
  if (!Node)
    return;
  for (uintptr_t slot : Node->Slots) {
    if (slot == 0)
      continue;
    if (TTreeItem::IsChild(slot))
      VisitItems(TTreeItem::Child(slot), Visit, Ctx);
    else
      for (TLinkedItem *l = TTreeItem::Chain(slot); l; l = l->Next)
        Visit(Ctx, l->Item);
  }
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
  for (uintptr_t slot : Node->Slots) {
    if (slot == 0)
      continue;
    if (THashTrie::TTreeItem::IsChild(slot)) {
      NodeStats(THashTrie::TTreeItem::Child(slot), nodes, longest);
      continue;
    }
    size_t n = 0;
    for (auto *l = THashTrie::TTreeItem::Chain(slot); l; l = l->Next)
      ++n;
    longest = std::max(longest, n);
  }
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Entries

namespace {
constexpr size_t FontArrayOffset(size_t keyLength) { return (sizeof(SSTEntry) + keyLength + 7) & ~size_t(7); }

TXLSFont **RunFonts(const SSTEntry *E) {
  auto *base = reinterpret_cast<unsigned char *>(const_cast<SSTEntry *>(E));
  return reinterpret_cast<TXLSFont **>(base + FontArrayOffset(E->KeyLength()));
}

uint16_t Get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct EntryDeleter {
  void operator()(SSTEntry *E) const { TSST2::FreeEntry(E); }
};
using EntryPtr = std::unique_ptr<SSTEntry, EntryDeleter>;

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

SSTEntry *TSST2::NewEntry(uint16_t CharCount, uint8_t Options, uint16_t RunCount, int32_t ExtSize) {
  size_t keyLength = ((Options & 0x01) ? size_t(CharCount) * 2 : CharCount) + size_t(RunCount) * 4 +
                     size_t(ExtSize < 0 ? 0 : ExtSize);
  size_t total = FontArrayOffset(keyLength) + size_t(RunCount) * sizeof(TXLSFont *);
  void *block = ::operator new(total);
  auto *e = static_cast<SSTEntry *>(block);
  e->SSTIndex = 0;
  e->RefCount = 0;
  e->Hash = 0;
  e->ExtSize = ExtSize < 0 ? 0 : ExtSize;
  e->CharCount = CharCount;
  e->RunCount = RunCount;
  e->Options = Options;
  std::memset(reinterpret_cast<unsigned char *>(block) + sizeof(SSTEntry), 0, total - sizeof(SSTEntry));
  return e;
}

void TSST2::FreeEntry(SSTEntry *E) { ::operator delete(static_cast<void *>(E)); }

// ---------------------------------------------------------------------------------------------
// The SST trie

TSSTHashTrie::~TSSTHashTrie() { ClearTrie(); }

uint32_t TSSTHashTrie::KeyHash(const uint8_t *Key, size_t Length) {
  return Crc32Update(0xFFFFFFFFu, Key, Length);
}

uint32_t TSSTHashTrie::HashOf(const void *Item) const { return static_cast<const SSTEntry *>(Item)->Hash; }

void TSSTHashTrie::FreeItem(void *Item) { TSST2::FreeEntry(static_cast<SSTEntry *>(Item)); }

bool TSSTHashTrie::ItemsEqual(const void *A, const void *B) const {
  auto *a = static_cast<const SSTEntry *>(A);
  auto *b = static_cast<const SSTEntry *>(B);
  return a->Hash == b->Hash && THashTrie::ItemsEqual(A, B);
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

SSTEntry *TSST2::Intern(SSTEntry *E) {
  EntryPtr owned(E);
  E->Hash = KeyHash(E->Key(), E->KeyLength());
  if (auto *found = static_cast<SSTEntry *>(Find(E))) {
    ++found->RefCount;
    return found; // owned frees E
  }
  Insert(E);
  return owned.release();
}

SSTEntry *TSST2::EntryByIndex(int Index) const {
  if (Index < 0 || Index >= IndexCount() || !FIndex[static_cast<size_t>(Index)])
    common::ListIndexError(Index);
  return FIndex[static_cast<size_t>(Index)];
}

SSTEntry *TSST2::AddText(std::u16string_view Text) {
  if (Text.size() > 0xFFFF)
    throw common::Exception(common::Format("Text too long for a cell (%zu characters)", Text.size()));
  ++FTotal;
  bool wide = std::any_of(Text.begin(), Text.end(), [](char16_t c) { return c > 255; });
  auto count = static_cast<uint16_t>(Text.size());
  SSTEntry *e = NewEntry(count, wide ? 0x01 : 0x00, 0, 0);
  auto *chars = const_cast<uint8_t *>(e->Chars());
  for (size_t i = 0; i < Text.size(); ++i) {
    if (wide) {
      chars[2 * i] = static_cast<uint8_t>(Text[i] & 0xFF);
      chars[2 * i + 1] = static_cast<uint8_t>(Text[i] >> 8);
    } else {
      chars[i] = static_cast<uint8_t>(Text[i]);
    }
  }
  e->SSTIndex = 65535;
  e->RefCount = 1;
  return Intern(e);
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
  if (--Entry->RefCount >= 1)
    return;
  if (FFonts)
    for (int i = 0; i < Entry->RunCount; ++i)
      if (TXLSFont *font = Entry->RunFont(i))
        FFonts->ReleaseFont(font);
  Remove(Entry);
  // While the index list is alive, no position may keep pointing at the freed entry.
  std::replace(FIndex.begin(), FIndex.end(), Entry, static_cast<SSTEntry *>(nullptr));
  FreeEntry(Entry);
  --FTotal;
}

void TSST2::DropIndex() {
  FIndex.clear();
  FIndex.shrink_to_fit();
}

void TSST2::ClearSST() {
  ClearTrie();
  DropIndex();
  FTotal = 0;
}

// ---------------------------------------------------------------------------------------------
// Reading

namespace {

[[noreturn]] void MissingContinue() { throw common::Exception("CONTINUE record is missing in SST"); }
[[noreturn]] void Corrupt() { throw common::Exception("Corrupt SST record"); }

// Reads inside the SST record and its CONTINUE records; Remaining counts what is left of the
// current record, so nothing is ever read past a record the table does not own.
class SSTReader {
public:
  SSTReader(TXLSStream &stream, int length) : Remaining(length), FStream(stream) {}

  void Exact(void *buffer, int count) {
    if (count > Remaining)
      Corrupt();
    if (count > 0 && FStream.ReadData(buffer, count) != count)
      Corrupt(); // the file ends inside the record
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
    Remaining = Get16(header + 2);
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
    uint8_t buffer[256];
    while (Remaining > 0)
      Exact(buffer, std::min(Remaining, int(sizeof buffer)));
  }

  int Remaining;

private:
  TXLSStream &FStream;
};

} // namespace

SSTEntry *TSST2::ReadEntry(TXLSStream &Stream, int &Remaining) {
  SSTReader in(Stream, Remaining);
  if (in.Remaining < 3)
    Corrupt();
  uint16_t charCount = in.U16();
  uint8_t options = in.U8();
  if (!KnownOptions(options))
    throw common::Exception(common::Format("STT: Unhandled string type in Read (%.2X)", options));
  uint16_t runCount = 0;
  int32_t extSize = 0;
  if (options & 0x08)
    runCount = in.U16();
  if (options & 0x04) {
    extSize = static_cast<int32_t>(in.U32());
    if (extSize < 0)
      Corrupt();
  }

  // Characters: pieces of either width; the entry is 16-bit when any piece is.
  bool wide = (options & 0x01) != 0;
  bool anyWide = false;
  std::vector<uint8_t> narrow;
  std::u16string wideChars;
  narrow.reserve(std::min<size_t>(charCount, size_t(in.Remaining)));
  size_t wanted = charCount;
  for (bool first = true; first || wanted > 0; first = false) {
    if (!first) {
      in.NextContinue();
      wide = in.U8() == 1;
    }
    if (wide) {
      if (!anyWide) {
        anyWide = true;
        wideChars.assign(narrow.begin(), narrow.end());
        narrow.clear();
      }
      size_t bytes = std::min(wanted * 2, size_t(in.Remaining));
      if (bytes % 2)
        Corrupt(); // a character cut by the record end
      uint8_t buffer[512];
      for (size_t done = 0; done < bytes;) {
        int n = static_cast<int>(std::min(bytes - done, sizeof buffer));
        in.Exact(buffer, n);
        for (int i = 0; i < n; i += 2)
          wideChars.push_back(static_cast<char16_t>(Get16(buffer + i)));
        done += size_t(n);
      }
      wanted -= bytes / 2;
    } else {
      size_t bytes = std::min(wanted, size_t(in.Remaining));
      if (anyWide) {
        uint8_t buffer[512];
        for (size_t done = 0; done < bytes;) {
          int n = static_cast<int>(std::min(bytes - done, sizeof buffer));
          in.Exact(buffer, n);
          wideChars.append(buffer, buffer + n);
          done += size_t(n);
        }
      } else {
        size_t at = narrow.size();
        narrow.resize(at + bytes);
        in.Exact(narrow.data() + at, static_cast<int>(bytes));
      }
      wanted -= bytes;
    }
  }

  std::vector<uint8_t> runs, phonetic;
  in.Raw(runs, size_t(runCount) * 4);
  std::vector<TXLSFont *> fonts(runCount, nullptr);
  for (int i = 0; i < runCount; ++i) {
    int fontIndex = Get16(runs.data() + size_t(i) * 4 + 2);
    if (!FFonts)
      common::ListIndexError(fontIndex);
    fonts[size_t(i)] = &FFonts->Items(fontIndex);
  }
  in.Raw(phonetic, size_t(extSize));

  uint8_t stored = anyWide ? static_cast<uint8_t>(options | 0x01) : options;
  EntryPtr e(NewEntry(charCount, stored, runCount, extSize));
  auto *key = const_cast<uint8_t *>(e->Key());
  if (anyWide) {
    for (size_t i = 0; i < wideChars.size(); ++i) {
      key[2 * i] = static_cast<uint8_t>(wideChars[i] & 0xFF);
      key[2 * i + 1] = static_cast<uint8_t>(wideChars[i] >> 8);
    }
  } else if (!narrow.empty()) {
    std::memcpy(key, narrow.data(), narrow.size());
  }
  if (!runs.empty())
    std::memcpy(key + e->CharBytes(), runs.data(), runs.size());
  if (!phonetic.empty())
    std::memcpy(key + e->CharBytes() + runs.size(), phonetic.data(), phonetic.size());
  TXLSFont **runFonts = RunFonts(e.get());
  for (int i = 0; i < runCount; ++i) {
    runFonts[i] = fonts[size_t(i)];
    ++fonts[size_t(i)]->UseCount;
  }
  e->RefCount = 0;
  Remaining = in.Remaining;
  return e.release();
}

void TSST2::ReadSST(TXLSStream &Stream, int Length) {
  SSTReader in(Stream, Length);
  if (Length < 8)
    Corrupt();
  FTotal = static_cast<int32_t>(in.U32());
  uint32_t unique = in.U32();
  // Each string takes at least 3 bytes, so the record size bounds what is worth reserving.
  FIndex.reserve(FIndex.size() + std::min<size_t>(unique, size_t(Length) / 3));
  for (uint32_t i = 0; i < unique; ++i) {
    if (in.Remaining == 0)
      in.NextContinue();
    EntryPtr e(ReadEntry(Stream, in.Remaining));
    e->SSTIndex = static_cast<int32_t>(FIndex.size());
    FIndex.push_back(nullptr);
    FIndex.back() = Intern(e.release());
  }
  // Bytes the counts did not cover would otherwise be taken for the next record header.
  in.Skip();
}

} // namespace xls
