// Memory for large arrays that are filled once, on huge pages where the
// system gives them. On a virtual machine the first touch of every small
// page of fresh memory is costly (far more than reading a file of the same
// size); a huge page is made present at once.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace hugepages {

constexpr std::size_t kHugePageInBytes = 2 << 20;
// Below this a block stays on the ordinary heap: a huge page is cleared
// as a whole, which costs more than a few small pages.
constexpr std::size_t kMinHugeBlockInBytes = 64 << 10;
// The block's own mapping is noted in front of it.
constexpr std::size_t kHeaderInBytes = 64;

struct Mapping {
  void *cRegion;
  std::size_t cSizeInBytes;
};

// A block of sizeInBytes, aligned for any type, starting on a huge page
// (after its header). Fails like operator new.
inline void *allocateHugeBlock(std::size_t sizeInBytes) {
  const std::size_t used =
      (sizeInBytes + kHeaderInBytes + kHugePageInBytes - 1) &
      ~(kHugePageInBytes - 1);
  // One huge page more, so that the block can start on one.
  const std::size_t total = used + kHugePageInBytes;
  if (total < sizeInBytes)
    throw std::bad_alloc();
  for (;;) {
    void *region = mmap(nullptr, total, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region != MAP_FAILED) {
      char *start = reinterpret_cast<char *>(
          (reinterpret_cast<std::uintptr_t>(region) + kHugePageInBytes - 1) &
          ~std::uintptr_t(kHugePageInBytes - 1));
      madvise(start, used, MADV_HUGEPAGE);
      ::new (start) Mapping{region, total};
      return start + kHeaderInBytes;
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr)
      throw std::bad_alloc();
    handler();
  }
}

inline void releaseHugeBlock(void *block) {
  if (block == nullptr)
    return;
  const Mapping *mapping = reinterpret_cast<const Mapping *>(
      static_cast<char *>(block) - kHeaderInBytes);
  munmap(mapping->cRegion, mapping->cSizeInBytes);
}

} // namespace hugepages

// For std::vector: large arrays on huge pages, small ones as usual.
template <class T> struct HugePageAllocator {
  using value_type = T;

  HugePageAllocator() = default;
  template <class U> HugePageAllocator(const HugePageAllocator<U> &) {}

  T *allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T))
      throw std::bad_alloc();
    if (isHuge(count))
      return static_cast<T *>(hugepages::allocateHugeBlock(count * sizeof(T)));
    return static_cast<T *>(::operator new(count * sizeof(T)));
  }
  void deallocate(T *block, std::size_t count) {
    if (isHuge(count))
      hugepages::releaseHugeBlock(block);
    else
      ::operator delete(block);
  }

  template <class U> bool operator==(const HugePageAllocator<U> &) const {
    return true;
  }
  template <class U> bool operator!=(const HugePageAllocator<U> &) const {
    return false;
  }

private:
  static bool isHuge(std::size_t count) {
    return count * sizeof(T) >= hugepages::kMinHugeBlockInBytes;
  }
};

template <class T> using HugeVector = std::vector<T, HugePageAllocator<T>>;
