// Independent pieces of work spread over the machine's cores.
#pragma once

#include <cstddef>
#include <functional>

// Calls work(i) once for every i in [0, count), on up to one thread per
// core (the calling thread among them), and returns when all are done.
// work must be safe to run concurrently for different i and must not
// throw; small counts run on the calling thread alone.
void forEachInParallel(std::size_t count,
                       const std::function<void(std::size_t)> &work);

// The same for a few large pieces, each worth a thread of its own.
void forEachLargeInParallel(std::size_t count,
                            const std::function<void(std::size_t)> &work);

#include <algorithm>
#include <vector>

// std::sort's result (for a strict weak order that leaves no two elements
// equivalent, or where equivalent ones may come in any order) with the
// work spread over the cores: runs sorted side by side, then merged pairwise.
template <class T, class Less>
void sortInParallel(std::vector<T> &items, Less less) {
  constexpr std::size_t kRuns = 8;
  constexpr std::size_t kMinPerRun = 4096;
  if (items.size() < kRuns * kMinPerRun) {
    std::sort(items.begin(), items.end(), less);
    return;
  }
  std::size_t bounds[kRuns + 1];
  for (std::size_t run = 0; run <= kRuns; ++run)
    bounds[run] = items.size() * run / kRuns;
  forEachLargeInParallel(kRuns, [&](std::size_t run) {
    std::sort(items.begin() + bounds[run], items.begin() + bounds[run + 1],
              less);
  });
  for (std::size_t width = 1; width < kRuns; width *= 2) {
    const std::size_t merges = kRuns / (2 * width);
    forEachLargeInParallel(merges, [&](std::size_t merge) {
      const std::size_t first = 2 * width * merge;
      std::inplace_merge(items.begin() + bounds[first],
                         items.begin() + bounds[first + width],
                         items.begin() + bounds[first + 2 * width], less);
    });
  }
}
