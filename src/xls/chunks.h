#pragma once

// Fixed 64 KiB blocks for the pools and arenas of a workbook's cells, cell blocks, strings and
// trie chains. A large workbook needs thousands of them and touches them in no useful order;
// carved from 2 MiB regions that the kernel is asked to back with huge pages, they cost a
// fraction of the page faults and TLB misses of ordinary heap memory. A region goes back to the
// system when its last block is freed. Process-wide and single-threaded, like the reader.

#include <cstddef>
#include <memory>

namespace xls {

constexpr size_t ChunkBytes = 64 * 1024;

// A zero-filled block of ChunkBytes, aligned to 64 bytes; throws std::bad_alloc.
void *NewChunk();
void FreeChunk(void *Chunk) noexcept;

struct TChunkDeleter {
  void operator()(void *Chunk) const noexcept { FreeChunk(Chunk); }
};
template <class T> using TChunkPtr = std::unique_ptr<T[], TChunkDeleter>;

template <class T> TChunkPtr<T> MakeChunk() { return TChunkPtr<T>(static_cast<T *>(NewChunk())); }

// Regions currently mapped, for tests.
size_t ChunkRegionCount();

} // namespace xls
