#include "ParallelWork.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Below this many pieces a thread costs more than it saves.
constexpr std::size_t kMinPiecesPerThread = 16;
constexpr unsigned kMaxThreads = 16;

unsigned threadCountFor(std::size_t count, std::size_t minPiecesPerThread) {
  unsigned cores = std::thread::hardware_concurrency();
  if (cores == 0)
    cores = 1;
  const std::size_t wanted = count / minPiecesPerThread;
  return static_cast<unsigned>(std::max<std::size_t>(
      1, std::min<std::size_t>(wanted, std::min(cores, kMaxThreads))));
}

void runOnThreads(std::size_t count,
                  const std::function<void(std::size_t)> &work,
                  unsigned threads) {
  if (threads <= 1) {
    for (std::size_t i = 0; i < count; ++i)
      work(i);
    return;
  }
  // Pieces are handed out in small runs so that uneven pieces (a large
  // object among small ones) still keep every thread busy.
  const std::size_t run = std::max<std::size_t>(1, count / (threads * 8));
  std::atomic<std::size_t> next{0};
  auto drain = [&]() {
    for (;;) {
      const std::size_t first = next.fetch_add(run);
      if (first >= count)
        return;
      const std::size_t last = std::min(count, first + run);
      for (std::size_t i = first; i < last; ++i)
        work(i);
    }
  };
  std::vector<std::thread> helpers;
  helpers.reserve(threads - 1);
  try {
    for (unsigned t = 1; t < threads; ++t)
      helpers.emplace_back(drain);
  } catch (const std::system_error &) {
    // No more threads to be had: the ones started and this one share it.
  }
  drain();
  for (std::thread &helper : helpers)
    helper.join();
}

} // namespace

void forEachInParallel(std::size_t count,
                       const std::function<void(std::size_t)> &work) {
  runOnThreads(count, work, threadCountFor(count, kMinPiecesPerThread));
}

void forEachLargeInParallel(std::size_t count,
                            const std::function<void(std::size_t)> &work) {
  runOnThreads(count, work, threadCountFor(count, 1));
}
