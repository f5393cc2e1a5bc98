#include "xls/chunks.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace xls {

namespace {

constexpr size_t RegionBytes = 2 * 1024 * 1024;
constexpr uint32_t ChunksPerRegion = RegionBytes / ChunkBytes; // 32: one bit each
constexpr uint32_t AllChunks = 0xFFFFFFFFu;
static_assert(ChunksPerRegion == 32);

struct TRegion {
  uintptr_t Base;
  uint32_t Used;  // bit i: chunk i is handed out
  uint32_t Dirty; // bit i: chunk i was handed out before, so it is no longer zero
};

// Sorted by base, so a chunk finds its region by binary search.
std::vector<TRegion> &Regions() {
  static std::vector<TRegion> regions;
  return regions;
}

// Huge pages save most page faults and TLB misses when the kernel has them at hand. On a virtual
// machine whose host has to back a huge page first, though, its first touch was measured at 4 to
// 5 ms, where its 512 small pages cost about 1 ms to fault in. So the first touch of a huge region
// is timed: after a slow one the next regions get small pages, and every eighth tries a huge page
// again.
constexpr auto SlowHugePage = std::chrono::microseconds(1000);
constexpr unsigned HugePageRetry = 8;

struct THugePages {
  bool Slow = false;     // the last huge page tried was slow
  unsigned SmallRun = 0; // regions given small pages since
};

THugePages &HugePages() {
  static THugePages state;
  return state;
}

void *MapRegion() {
  // Twice the size, then the ends trimmed, gives a region aligned to its own size, which huge
  // pages need.
  void *raw = mmap(nullptr, 2 * RegionBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED)
    throw std::bad_alloc();
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t base = (start + RegionBytes - 1) & ~uintptr_t(RegionBytes - 1);
  if (base > start)
    munmap(raw, base - start);
  if (const uintptr_t end = start + 2 * RegionBytes; end > base + RegionBytes)
    munmap(reinterpret_cast<void *>(base + RegionBytes), end - (base + RegionBytes));
#ifdef MADV_HUGEPAGE
  THugePages &huge = HugePages();
  if (!huge.Slow || ++huge.SmallRun == HugePageRetry) {
    huge.SmallRun = 0;
    // A hint; failure is harmless. The region's first chunk is about to be used, so touching it
    // now costs nothing extra.
    madvise(reinterpret_cast<void *>(base), RegionBytes, MADV_HUGEPAGE);
    const auto start = std::chrono::steady_clock::now();
    *reinterpret_cast<volatile char *>(base) = 0;
    huge.Slow = std::chrono::steady_clock::now() - start > SlowHugePage;
  }
#endif
  return reinterpret_cast<void *>(base);
}

} // namespace

void *NewChunk() {
  auto &regions = Regions();
  auto region =
      std::find_if(regions.begin(), regions.end(), [](const TRegion &r) { return r.Used != AllChunks; });
  if (region == regions.end()) {
    const auto base = reinterpret_cast<uintptr_t>(MapRegion());
    try {
      region = regions.insert(std::upper_bound(regions.begin(), regions.end(), base,
                                               [](uintptr_t b, const TRegion &r) { return b < r.Base; }),
                              TRegion{base, 0, 0});
    } catch (...) {
      munmap(reinterpret_cast<void *>(base), RegionBytes);
      throw;
    }
  }
  const int i = __builtin_ctz(~region->Used);
  region->Used |= uint32_t(1) << i;
  void *chunk = reinterpret_cast<void *>(region->Base + size_t(i) * ChunkBytes);
  if (region->Dirty & (uint32_t(1) << i))
    std::memset(chunk, 0, ChunkBytes);
  region->Dirty |= uint32_t(1) << i;
  return chunk;
}

void FreeChunk(void *Chunk) noexcept {
  if (!Chunk)
    return;
  auto &regions = Regions();
  const auto address = reinterpret_cast<uintptr_t>(Chunk);
  const uintptr_t base = address & ~uintptr_t(RegionBytes - 1);
  auto region = std::lower_bound(regions.begin(), regions.end(), base,
                                 [](const TRegion &r, uintptr_t b) { return r.Base < b; });
  if (region == regions.end() || region->Base != base)
    return; // not ours; never happens
  region->Used &= ~(uint32_t(1) << ((address - base) / ChunkBytes));
  if (region->Used == 0) {
    munmap(reinterpret_cast<void *>(base), RegionBytes);
    regions.erase(region);
  }
}

size_t ChunkRegionCount() { return Regions().size(); }

size_t ChunkBytesInUse() {
  size_t chunks = 0;
  for (const TRegion &r : Regions())
    chunks += size_t(__builtin_popcount(r.Used));
  return chunks * ChunkBytes;
}

} // namespace xls
