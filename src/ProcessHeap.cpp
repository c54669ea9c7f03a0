#include "ProcessHeap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kFirstStepInBytes = 256 << 20; // address space only
constexpr int kLaterStepInBytes = 32 << 20;
constexpr std::uintptr_t kHugePageInBytes = 2u << 20;

} // namespace

void tuneProcessHeap() {
  // Large blocks come from the heap too, and the heap is never trimmed:
  // these programs exit soon after their peak.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
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
    if (end > start)
      madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
  }
  std::free(block);
  mallopt(M_TOP_PAD, kLaterStepInBytes);
}
