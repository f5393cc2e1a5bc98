#include "xls/chunks.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
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
  bool SmallPages;
};

// Sorted by base, so a chunk finds its region by binary search. The string table's interning
// may take and give back chunks on a thread of its own while the reader does, hence the lock.
std::vector<TRegion> &Regions() {
  static std::vector<TRegion> regions;
  return regions;
}
std::mutex RegionsMutex;

// Huge pages save most page faults and TLB misses when the kernel has them at hand. On a virtual
// machine whose host has to back a huge page first, though, its first touch was measured at 4 to
// 8 ms, where its 512 small pages cost about 1 ms to fault in. Slow touches come both alone,
// between fast ones, and in long spells. So the first touch of a huge region is timed, and after
// slow ones in a row the next regions get small pages, more of them the longer the row: none
// after one, then 1, 3 and at most 7. Regions are mapped both by the reader and by the helper
// thread below, so this state is shared under a lock.
constexpr auto SlowHugePage = std::chrono::microseconds(1000);

struct {
  std::mutex Mutex;
  unsigned SlowRow = 0;   // huge pages tried in a row that were slow, up to 4
  unsigned SmallLeft = 0; // regions still to get small pages
} HugePages;

struct TMappedRegion {
  uintptr_t Base = 0; // 0: none
  bool SmallPages = true;
};

// A region of fresh memory, its first page faulted in when it got a huge one. SmallPages asks for
// small pages whatever the policy, with none faulted in.
TMappedRegion MapRegion(bool SmallPages = false) {
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
  TMappedRegion region{base, true};
#ifdef MADV_HUGEPAGE
  if (SmallPages)
    return region;
  auto &huge = HugePages;
  {
    std::lock_guard<std::mutex> lock(huge.Mutex);
    if (huge.SmallLeft != 0) {
      --huge.SmallLeft;
      return region;
    }
  }
  // A hint; failure is harmless. The region's first chunk is about to be used, so touching it
  // now costs nothing extra.
  madvise(reinterpret_cast<void *>(base), RegionBytes, MADV_HUGEPAGE);
  const auto touch = std::chrono::steady_clock::now();
  *reinterpret_cast<volatile char *>(base) = 0;
  const bool slow = std::chrono::steady_clock::now() - touch > SlowHugePage;
  std::lock_guard<std::mutex> lock(huge.Mutex);
  if (slow) {
    huge.SlowRow = std::min(huge.SlowRow + 1, 4u);
    huge.SmallLeft = (1u << (huge.SlowRow - 1)) - 1;
  } else {
    huge.SlowRow = 0;
  }
  region.SmallPages = false;
#endif
  return region;
}

// Page work done on a thread of its own, so that a read does not wait for it: the small pages of
// the chunks about to be handed out are faulted in, and the next region is mapped (its huge page
// zeroed and faulted in) while the last one still has a few chunks free. Faulting in leaves the
// contents alone, so it may overlap the use of the chunk. Optional: without the thread or the
// kernel's support the reader maps its regions itself and pages fault in when first used.
class THelper {
public:
  ~THelper() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FStop = true;
    }
    FWake.notify_all();
    if (FThread.joinable())
      FThread.join();
    if (FSpare.Base)
      munmap(reinterpret_cast<void *>(FSpare.Base), RegionBytes);
  }
  // Replaces the range not yet taken up.
  void FaultIn(uintptr_t From, size_t Bytes) noexcept {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      if (!Started())
        return;
      FFrom = From;
      FBytes = Bytes;
    }
    FWake.notify_all();
  }
  // Maps a spare region unless one is mapped or on its way.
  void MapSpare() noexcept {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      if (FSpareAsked || FSpare.Base || !Started())
        return;
      FSpareAsked = true;
    }
    FWake.notify_all();
  }
  // The spare region, waited for a while when it is on its way, or none; Coming tells whether
  // one is still on its way.
  TMappedRegion TakeSpare(bool &Coming) noexcept {
    std::unique_lock<std::mutex> lock(FMutex);
    FWake.wait_for(lock, SlowHugePage, [this] { return !FSpareAsked; });
    Coming = FSpareAsked;
    return std::exchange(FSpare, TMappedRegion{});
  }
  // Gives the spare region back, once it is mapped, for when no chunk is left in use.
  void DropSpare() noexcept {
    TMappedRegion spare;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FWake.wait(lock, [this] { return !FSpareAsked; });
      spare = std::exchange(FSpare, TMappedRegion{});
    }
    if (spare.Base)
      munmap(reinterpret_cast<void *>(spare.Base), RegionBytes);
  }
  // Whether a spare region is mapped or on its way.
  bool HasSpare() noexcept {
    std::lock_guard<std::mutex> lock(FMutex);
    return FSpareAsked || FSpare.Base;
  }

private:
  // Under FMutex: whether the thread runs, started on first use.
  bool Started() noexcept {
    if (FFailed)
      return false;
    if (!FThread.joinable()) {
      try {
        FThread = std::thread([this] { Run(); });
      } catch (const std::exception &) {
        FFailed = true;
        return false;
      }
    }
    return true;
  }
  void Run() {
    std::unique_lock<std::mutex> lock(FMutex);
    for (;;) {
      FWake.wait(lock, [this] { return FStop || FBytes || FSpareAsked; });
      if (FStop)
        return;
      if (FSpareAsked) {
        lock.unlock();
        TMappedRegion spare;
        try {
          spare = MapRegion();
        } catch (const std::bad_alloc &) {
          // The reader maps its next region itself, and fails there if it must.
        }
        lock.lock();
        FSpare = spare;
        FSpareAsked = false;
        FWake.notify_all(); // the reader may wait for it
        continue;
      }
      const uintptr_t from = FFrom;
      const size_t bytes = std::exchange(FBytes, 0);
      lock.unlock();
#ifdef MADV_POPULATE_WRITE
      // Harmless where unsupported (it fails) and when the region has been unmapped meanwhile
      // (it fails, or faults in whatever was mapped there since).
      madvise(reinterpret_cast<void *>(from), bytes, MADV_POPULATE_WRITE);
#else
      (void)from;
#endif
      lock.lock();
    }
  }

  std::mutex FMutex;
  std::condition_variable FWake;
  uintptr_t FFrom = 0;
  size_t FBytes = 0;
  bool FSpareAsked = false;
  TMappedRegion FSpare;
  bool FStop = false, FFailed = false;
  std::thread FThread;
};

THelper &Helper() {
  static THelper helper;
  return helper;
}

constexpr uint32_t FaultAheadChunks = 2;
// The spare region is asked for when the last region has this few chunks left: it takes the
// reader about as long to use them as the helper to zero a huge page. A spare that no read comes
// to use costs one region of memory.
constexpr uint32_t SpareAheadChunks = 8;

} // namespace

void *NewChunk() {
  // The helper is made first, so that it outlives the region list (statics end in reverse).
  THelper &helper = Helper();
  auto &regions = Regions();
  std::lock_guard<std::mutex> lock(RegionsMutex);
  auto region =
      std::find_if(regions.begin(), regions.end(), [](const TRegion &r) { return r.Used != AllChunks; });
  if (region == regions.end()) {
    // A spare still on its way is waited for no longer than a huge page takes when it is fast.
    // The helper is late when a huge page is slow to back (then zeroing it takes longer than the
    // reader takes to fill one) or when no processor is free for it; faulting in small pages of
    // a region of its own meanwhile keeps the reader going, and the spare serves the region after.
    bool coming;
    TMappedRegion mapped = helper.TakeSpare(coming);
    if (!mapped.Base)
      mapped = MapRegion(coming);
    const uintptr_t base = mapped.Base;
    try {
      region = regions.insert(std::upper_bound(regions.begin(), regions.end(), base,
                                               [](uintptr_t b, const TRegion &r) { return b < r.Base; }),
                              TRegion{base, 0, 0, mapped.SmallPages});
    } catch (...) {
      munmap(reinterpret_cast<void *>(base), RegionBytes);
      throw;
    }
  }
  const uint32_t i = static_cast<uint32_t>(__builtin_ctz(~region->Used));
  region->Used |= uint32_t(1) << i;
  void *chunk = reinterpret_cast<void *>(region->Base + size_t(i) * ChunkBytes);
  if (region->Dirty & (uint32_t(1) << i)) {
    std::memset(chunk, 0, ChunkBytes);
  } else if (region->SmallPages && i + 1 < ChunksPerRegion) {
    // Chunks of a region are handed out in order, so the next ones are about to be used.
    const uint32_t ahead = std::min(FaultAheadChunks, ChunksPerRegion - i - 1);
    helper.FaultIn(reinterpret_cast<uintptr_t>(chunk) + ChunkBytes, size_t(ahead) * ChunkBytes);
  }
  region->Dirty |= uint32_t(1) << i;
  // Regions before this one are full; when none after it has room either, the next region will
  // soon be needed.
  if (ChunksPerRegion - uint32_t(__builtin_popcount(region->Used)) <= SpareAheadChunks &&
      std::all_of(region + 1, regions.end(), [](const TRegion &r) { return r.Used == AllChunks; }))
    helper.MapSpare();
  return chunk;
}

void FreeChunk(void *Chunk) noexcept {
  if (!Chunk)
    return;
  auto &regions = Regions();
  std::lock_guard<std::mutex> lock(RegionsMutex);
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
    if (regions.empty())
      Helper().DropSpare();
  }
}

size_t ChunkRegionCount() {
  std::lock_guard<std::mutex> lock(RegionsMutex);
  return Regions().size() + (Helper().HasSpare() ? 1 : 0);
}

size_t ChunkBytesInUse() {
  std::lock_guard<std::mutex> lock(RegionsMutex);
  size_t chunks = 0;
  for (const TRegion &r : Regions())
    chunks += size_t(__builtin_popcount(r.Used));
  return chunks * ChunkBytes;
}

} // namespace xls
