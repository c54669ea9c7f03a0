// Independent pieces of work spread over the machine's cores.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Whether the address space the process may have leaves room for its
// threads: false under a limit (ulimit -v) that the threads' own memory
// regions would crowd. Work then stays on the calling thread.
bool threadsFitAddressSpace();

// Calls work(i) once for every i in [0, count), on up to one thread per
// core (the calling thread among them), and returns when all are done.
// work must be safe to run concurrently for different i and must not
// throw; small counts run on the calling thread alone.
void forEachInParallel(std::size_t count,
                       const std::function<void(std::size_t)> &work);

// The same for a few large pieces, each worth a thread of its own.
void forEachLargeInParallel(std::size_t count,
                            const std::function<void(std::size_t)> &work);

// What calling step(0), step(1), ... in order would give, stopping at the
// first step that fails (returns false with its text set): 1, or 0 with
// error set to that text. The steps run in parallel and silently first; a
// step that had a message to give is run again in its turn, with the steps
// after it, so messages come as they would in order. Every step must be
// safe to run again after a silent attempt.
int firstFailureInOrder(
    std::size_t count,
    const std::function<bool(std::size_t, std::string &)> &step,
    std::string &error);

#include <algorithm>
#include <vector>

// std::sort's result (for a strict weak order that leaves no two elements
// equivalent, or where equivalent ones may come in any order) with the
// work spread over the cores: the items are dealt into ranges between
// splitters taken from a sample, and the ranges are sorted side by side.
// T must be default-constructible.
template <class T, class Less>
void sortInParallel(std::vector<T> &items, Less less) {
  constexpr std::size_t kMinItems = 32768;
  constexpr std::size_t kBuckets = 16;
  constexpr std::size_t kOversample = 32;
  constexpr std::size_t kChunks = 16;
  if (items.size() < kMinItems) {
    std::sort(items.begin(), items.end(), less);
    return;
  }
  std::vector<T> sample;
  sample.reserve(kBuckets * kOversample);
  const std::size_t step = items.size() / (kBuckets * kOversample);
  for (std::size_t i = 0; i < kBuckets * kOversample; ++i)
    sample.push_back(items[i * step]);
  std::sort(sample.begin(), sample.end(), less);
  std::vector<T> splitters;
  for (std::size_t bucket = 1; bucket < kBuckets; ++bucket)
    splitters.push_back(sample[bucket * kOversample]);
  // Each item's range, and how many of each chunk fall in each range.
  std::vector<unsigned char> bucketOf(items.size());
  std::vector<std::size_t> next(kChunks * kBuckets, 0);
  auto chunkFirst = [&](std::size_t chunk) {
    return items.size() * chunk / kChunks;
  };
  forEachLargeInParallel(kChunks, [&](std::size_t chunk) {
    for (std::size_t i = chunkFirst(chunk); i < chunkFirst(chunk + 1); ++i) {
      const auto bucket = static_cast<std::size_t>(
          std::upper_bound(splitters.begin(), splitters.end(), items[i], less) -
          splitters.begin());
      bucketOf[i] = static_cast<unsigned char>(bucket);
      ++next[chunk * kBuckets + bucket];
    }
  });
  // Ranges one after another, each chunk's part of a range in chunk order.
  std::size_t bounds[kBuckets + 1];
  std::size_t at = 0;
  for (std::size_t bucket = 0; bucket < kBuckets; ++bucket) {
    bounds[bucket] = at;
    for (std::size_t chunk = 0; chunk < kChunks; ++chunk) {
      const std::size_t count = next[chunk * kBuckets + bucket];
      next[chunk * kBuckets + bucket] = at;
      at += count;
    }
  }
  bounds[kBuckets] = at;
  std::vector<T> dealt(items.size());
  forEachLargeInParallel(kChunks, [&](std::size_t chunk) {
    for (std::size_t i = chunkFirst(chunk); i < chunkFirst(chunk + 1); ++i)
      dealt[next[chunk * kBuckets + bucketOf[i]]++] = std::move(items[i]);
  });
  forEachLargeInParallel(kBuckets, [&](std::size_t bucket) {
    std::sort(dealt.begin() + bounds[bucket],
              dealt.begin() + bounds[bucket + 1], less);
  });
  items.swap(dealt);
}
