#pragma once

// Fixed 64 KiB blocks for the pools and arenas of a workbook's cells, cell blocks, strings and
// trie chains. A large workbook needs thousands of them and touches them in no useful order;
// carved from 2 MiB regions that the kernel is asked to back with huge pages, they cost a
// fraction of the page faults and TLB misses of ordinary heap memory (where huge pages are slow
// to come by, regions get small pages). A helper thread maps the next region and faults pages in
// ahead of use. A region goes back to the system when its last block is freed. Process-wide and
// safe to use from several threads.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace xls {

constexpr size_t ChunkBytes = 64 * 1024;

// Under AddressSanitizer the pools hand out no shared memory for strings and trie blocks: each
// is allocated on its own, so that every one has its bounds checked.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool PoolSmallBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool PoolSmallBlocks = false;
#else
constexpr bool PoolSmallBlocks = true;
#endif
#else
constexpr bool PoolSmallBlocks = true;
#endif

// A zero-filled block of ChunkBytes, aligned to 64 bytes; throws std::bad_alloc.
void *NewChunk();
void FreeChunk(void *Chunk) noexcept;

struct TChunkDeleter {
  void operator()(void *Chunk) const noexcept { FreeChunk(Chunk); }
};
template <class T> using TChunkPtr = std::unique_ptr<T[], TChunkDeleter>;

template <class T> TChunkPtr<T> MakeChunk() { return TChunkPtr<T>(static_cast<T *>(NewChunk())); }

// A large array laid out over chunks, for the big temporary tables of a read: taken from and
// given back to the chunk memory, the pages it touched serve the cells and strings read after.
template <class T> class TChunkedArray {
  static_assert(std::is_trivially_copyable_v<T> && ChunkBytes % sizeof(T) == 0);

public:
  static constexpr size_t PerChunk = ChunkBytes / sizeof(T);

  TChunkedArray() = default;
  // Moving leaves the source empty.
  TChunkedArray(TChunkedArray &&Other) noexcept { *this = std::move(Other); }
  TChunkedArray &operator=(TChunkedArray &&Other) noexcept {
    FChunks = std::move(Other.FChunks);
    Other.FChunks.clear();
    FNext = std::exchange(Other.FNext, nullptr);
    FEnd = std::exchange(Other.FEnd, nullptr);
    FSize = std::exchange(Other.FSize, 0);
    return *this;
  }
  explicit TChunkedArray(size_t Count) {
    while (FChunks.size() * PerChunk < Count)
      FChunks.push_back(MakeChunk<T>());
    FSize = Count;
    if (Count % PerChunk != 0) {
      FNext = FChunks.back().get() + Count % PerChunk;
      FEnd = FChunks.back().get() + PerChunk;
    }
  }
  void PushBack(const T &Value) {
    if (FNext == FEnd)
      AddChunk();
    *FNext++ = Value;
    ++FSize;
  }
  size_t Size() const { return FSize; }
  T &operator[](size_t Index) { return FChunks[Index / PerChunk][Index % PerChunk]; }
  const T &operator[](size_t Index) const { return FChunks[Index / PerChunk][Index % PerChunk]; }

private:
  void AddChunk() {
    FChunks.push_back(MakeChunk<T>());
    FNext = FChunks.back().get();
    FEnd = FNext + PerChunk;
  }

  std::vector<TChunkPtr<T>> FChunks;
  T *FNext = nullptr, *FEnd = nullptr; // the room left in the last chunk, for PushBack
  size_t FSize = 0;
};

// Regions currently mapped (a spare one mapped ahead of use included), and bytes of the chunks
// handed out, for tests and benchmarks.
size_t ChunkRegionCount();
size_t ChunkBytesInUse();

} // namespace xls
