#include "ProcessHeap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>

// The sanitizers watch every block through their own operator new; the
// pools would hide the blocks from them.
#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_BLOCK_POOLS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) ||     \
    __has_feature(thread_sanitizer)
#define ORVANE_BLOCK_POOLS 0
#endif
#endif
#ifndef ORVANE_BLOCK_POOLS
#define ORVANE_BLOCK_POOLS 1
#endif

namespace {

constexpr int kFirstStepInBytes = 256 << 20; // address space only
constexpr int kLaterStepInBytes = 32 << 20;
constexpr std::uintptr_t kHugePageInBytes = 2u << 20;

#if ORVANE_BLOCK_POOLS

// Small blocks live in one reserved region cut into pages; every page holds
// blocks of one size class, which a side table records, so freeing needs no
// header. A thread carves blocks from its own page of each class and keeps
// the blocks it frees for its own next requests: no lock anywhere. Freed
// blocks are never given back to the system: these programs exit soon
// after their peak.
constexpr std::size_t kPoolPageInBytes = 64 << 10;
constexpr std::size_t kPoolRegionInBytes = std::size_t(8) << 30;
constexpr std::size_t kPoolPageCount = kPoolRegionInBytes / kPoolPageInBytes;
constexpr std::size_t kMaxPooledSizeInBytes = 1024;
// 16-byte steps up to 256 bytes, 64-byte steps above.
constexpr std::size_t kFineClassCount = 16;
constexpr std::size_t kClassCount = kFineClassCount + (1024 - 256) / 64;

struct FreeBlock {
  FreeBlock *cNext;
};

struct ThreadPools {
  FreeBlock *cFree[kClassCount];
  char *cBumpAt[kClassCount];
  char *cBumpEnd[kClassCount];
};

// Trivial, so it needs no per-thread constructor; starts all null.
thread_local ThreadPools tPools;

char *gPoolBase = nullptr; // set once, before any second thread exists
// The heap's first step, where large blocks live in all but the largest
// runs, and the highest end of a block handed out there so far.
std::uintptr_t gHeapBase = 0;
std::uintptr_t gHeapLimit = 0;
std::atomic<std::uintptr_t> gHeapHigh{0};
std::atomic<bool> gPoolsOn{false};
std::atomic<std::size_t> gNextPage{0};
// Class + 1 of every page handed out; 0 for pages not yet in use.
std::uint8_t gPageClass[kPoolPageCount];

std::size_t classOf(std::size_t sizeInBytes) {
  if (sizeInBytes <= 256)
    return sizeInBytes == 0 ? 0 : (sizeInBytes - 1) / 16;
  return kFineClassCount + (sizeInBytes - 257) / 64;
}

std::size_t classSizeInBytes(std::size_t sizeClass) {
  if (sizeClass < kFineClassCount)
    return (sizeClass + 1) * 16;
  return 256 + (sizeClass - kFineClassCount + 1) * 64;
}

void *poolAllocate(std::size_t sizeInBytes) {
  if (sizeInBytes > kMaxPooledSizeInBytes ||
      !gPoolsOn.load(std::memory_order_relaxed))
    return nullptr;
  const std::size_t sizeClass = classOf(sizeInBytes);
  ThreadPools &pools = tPools;
  if (FreeBlock *block = pools.cFree[sizeClass]) {
    pools.cFree[sizeClass] = block->cNext;
    return block;
  }
  const std::size_t blockSize = classSizeInBytes(sizeClass);
  if (pools.cBumpEnd[sizeClass] - pools.cBumpAt[sizeClass] <
      static_cast<std::ptrdiff_t>(blockSize)) {
    const std::size_t page = gNextPage.fetch_add(1, std::memory_order_relaxed);
    if (page >= kPoolPageCount)
      return nullptr; // the region is used up: malloc from here on
    gPageClass[page] = static_cast<std::uint8_t>(sizeClass + 1);
    pools.cBumpAt[sizeClass] = gPoolBase + page * kPoolPageInBytes;
    pools.cBumpEnd[sizeClass] = pools.cBumpAt[sizeClass] + kPoolPageInBytes;
  }
  void *block = pools.cBumpAt[sizeClass];
  pools.cBumpAt[sizeClass] += blockSize;
  return block;
}

// False for a block that did not come from the pools.
bool poolFree(void *block) {
  const char *at = static_cast<const char *>(block);
  if (gPoolBase == nullptr || at < gPoolBase ||
      at >= gPoolBase + kPoolRegionInBytes)
    return false;
  const std::size_t page =
      static_cast<std::size_t>(at - gPoolBase) / kPoolPageInBytes;
  const std::size_t sizeClass = gPageClass[page] - 1u;
  FreeBlock *freed = static_cast<FreeBlock *>(block);
  freed->cNext = tPools.cFree[sizeClass];
  tPools.cFree[sizeClass] = freed;
  return true;
}

// Fresh memory is expensive to touch the first time (the kernel clears
// every page, and a virtual machine's host may have to supply it), and a
// large run touches a hundred megabytes or more. A helper thread makes the
// region's pages present ahead of the threads that hand them out, as far
// ahead as the run has used so far (at least one huge page, at most
// kMaxAheadInBytes), so a small run pays almost nothing and a large one
// finds its memory ready. It never writes to a page, so it cannot disturb
// one already in use, and it stops for good if the system cannot do this.
constexpr std::size_t kPopulateStepInBytes = 2 << 20;
constexpr std::size_t kMaxAheadInBytes = 64 << 20;

constexpr useconds_t kMinIdleSleepInUs = 50;
constexpr useconds_t kMaxIdleSleepInUs = 20000;

// How far one region has been made present, and how far it is in use.
struct PresentRegion {
  std::uintptr_t base;
  std::uintptr_t limit;
  std::size_t presentInBytes = 0;

  // Makes one more step present when the region's use has come near it;
  // false when nothing was wanted (or the system refused).
  bool step(std::size_t usedInBytes, bool &refused) {
    std::size_t ahead =
        usedInBytes < kPopulateStepInBytes ? kPopulateStepInBytes : usedInBytes;
    if (ahead > kMaxAheadInBytes)
      ahead = kMaxAheadInBytes;
    std::size_t wanted = usedInBytes + ahead;
    if (wanted > limit - base)
      wanted = limit - base;
    if (presentInBytes >= wanted)
      return false;
    if (presentInBytes < usedInBytes) // fell behind: those pages are in use
      presentInBytes = usedInBytes - usedInBytes % kPopulateStepInBytes;
    if (presentInBytes + kPopulateStepInBytes > limit - base)
      return false;
    if (madvise(reinterpret_cast<void *>(base + presentInBytes),
                kPopulateStepInBytes, MADV_POPULATE_WRITE) != 0) {
      refused = true;
      return false;
    }
    presentInBytes += kPopulateStepInBytes;
    return true;
  }
};

void populateAhead() {
  PresentRegion pools{reinterpret_cast<std::uintptr_t>(gPoolBase),
                      reinterpret_cast<std::uintptr_t>(gPoolBase) +
                          kPoolRegionInBytes};
  PresentRegion heap{gHeapBase, gHeapLimit};
  bool poolsRefused = false;
  bool heapRefused = gHeapBase == 0;
  useconds_t idleSleepInUs = kMinIdleSleepInUs;
  for (;;) {
    bool stepped = false;
    if (!poolsRefused)
      stepped |= pools.step(gNextPage.load(std::memory_order_relaxed) *
                                kPoolPageInBytes,
                            poolsRefused);
    if (!heapRefused) {
      const std::uintptr_t high = gHeapHigh.load(std::memory_order_relaxed);
      stepped |=
          heap.step(high > gHeapBase ? high - gHeapBase : 0, heapRefused);
    }
    if (poolsRefused && heapRefused)
      return;
    if (stepped) {
      idleSleepInUs = kMinIdleSleepInUs;
      continue;
    }
    // Checks often while the run allocates, seldom once it has settled
    // (the driver mostly waits for its children).
    usleep(idleSleepInUs);
    if (idleSleepInUs < kMaxIdleSleepInUs)
      idleSleepInUs *= 2;
  }
}

void startPools() {
  if (gPoolBase != nullptr)
    return; // started before: blocks already live in the region
  // One huge page more, so that the region can start on a huge page.
  void *region = mmap(nullptr, kPoolRegionInBytes + kHugePageInBytes,
                      PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (region == MAP_FAILED)
    return;
  const std::uintptr_t start =
      (reinterpret_cast<std::uintptr_t>(region) + kHugePageInBytes - 1) &
      ~(kHugePageInBytes - 1);
  gPoolBase = reinterpret_cast<char *>(start);
  madvise(gPoolBase, kPoolRegionInBytes, MADV_HUGEPAGE);
  gPoolsOn.store(true, std::memory_order_release);
  try {
    // Ends with the process.
    std::thread(populateAhead).detach();
  } catch (const std::system_error &) {
    // No thread to be had: pages are made present as they are touched.
  }
}

#else

void startPools() {}

#endif

} // namespace

#if ORVANE_BLOCK_POOLS

namespace {

// Raises the heap's high mark, which the helper thread keeps ahead of.
void noteHeapBlock(const void *block, std::size_t sizeInBytes) {
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(block);
  if (at < gHeapBase || at >= gHeapLimit)
    return;
  const std::uintptr_t end = at + sizeInBytes;
  std::uintptr_t high = gHeapHigh.load(std::memory_order_relaxed);
  while (end > high &&
         !gHeapHigh.compare_exchange_weak(high, end, std::memory_order_relaxed))
    ;
}

// What the standard operator new does when the heap is exhausted: call the
// new handler (the programs' prints "out of memory" and exits) and retry.
void *allocateOrHandle(std::size_t sizeInBytes) {
  if (void *block = poolAllocate(sizeInBytes))
    return block;
  if (sizeInBytes == 0)
    sizeInBytes = 1;
  for (;;) {
    if (void *block = std::malloc(sizeInBytes)) {
      noteHeapBlock(block, sizeInBytes);
      return block;
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr)
      throw std::bad_alloc();
    handler();
  }
}

void release(void *block) noexcept {
  if (block != nullptr && !poolFree(block))
    std::free(block);
}

} // namespace

void *operator new(std::size_t sizeInBytes) {
  return allocateOrHandle(sizeInBytes);
}
void *operator new[](std::size_t sizeInBytes) {
  return allocateOrHandle(sizeInBytes);
}
void *operator new(std::size_t sizeInBytes, const std::nothrow_t &) noexcept {
  try {
    return allocateOrHandle(sizeInBytes);
  } catch (...) {
    return nullptr;
  }
}
void *operator new[](std::size_t sizeInBytes, const std::nothrow_t &) noexcept {
  try {
    return allocateOrHandle(sizeInBytes);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void *block) noexcept { release(block); }
void operator delete[](void *block) noexcept { release(block); }
void operator delete(void *block, std::size_t) noexcept { release(block); }
void operator delete[](void *block, std::size_t) noexcept { release(block); }
void operator delete(void *block, const std::nothrow_t &) noexcept {
  release(block);
}
void operator delete[](void *block, const std::nothrow_t &) noexcept {
  release(block);
}

#endif

void tuneProcessHeap() {
  // Large blocks come from the heap too, and the heap is never trimmed:
  // these programs exit soon after their peak.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  // One heap for every thread: a worker's own arena would be fresh mapped
  // memory, touched page by page, while the main heap grows in large
  // huge-page steps. Small blocks come from the pools, so the heap's lock
  // is seldom contended.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_TOP_PAD, kFirstStepInBytes);
  void *before = sbrk(0);
  void *block = std::malloc(1 << 20);
  void *after = sbrk(0);
  std::uintptr_t start = reinterpret_cast<std::uintptr_t>(before);
  std::uintptr_t end = reinterpret_cast<std::uintptr_t>(after);
  // Only when the break moved for the block: the range is then the heap's
  // own new step.
  if (before != reinterpret_cast<void *>(-1) && block != nullptr &&
      end > start) {
    start = (start + kHugePageInBytes - 1) & ~(kHugePageInBytes - 1);
    if (end > start) {
      madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#if ORVANE_BLOCK_POOLS
      gHeapBase = start;
      gHeapLimit = end - (end - start) % kPopulateStepInBytes;
#endif
    }
  }
  std::free(block);
  mallopt(M_TOP_PAD, kLaterStepInBytes);
  startPools();
}
