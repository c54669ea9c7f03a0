#include "ParallelWork.h"

#include "Messages.h"

#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Below this many pieces a thread costs more than it saves.
constexpr std::size_t kMinPiecesPerThread = 16;

// Set while a thread runs pieces of a job: work that asks for parallel
// work of its own then runs it itself, so no job waits on another.
thread_local bool tInJob = false;

constexpr unsigned kMaxThreads = 16;

// Asked once: the runtime reads it from the system on every call, and a
// run asks before every parallel job.
unsigned coreCount() {
  static const unsigned cores = [] {
    const unsigned reported = std::thread::hardware_concurrency();
    return reported == 0 ? 1u : reported;
  }();
  return cores;
}

#ifdef ORVANE_FUZZ_BUILD
// A fuzz build ends a program by throwing to the fuzz target, which only
// the calling thread can do; one thread also gives an input the same
// coverage on every run.
unsigned threadCountFor(std::size_t, std::size_t) { return 1; }
#else

unsigned threadCountFor(std::size_t count, std::size_t minPiecesPerThread) {
  if (!threadsFitAddressSpace())
    return 1;
  const unsigned cores = coreCount();
  const std::size_t wanted = count / minPiecesPerThread;
  return static_cast<unsigned>(std::max<std::size_t>(
      1, std::min<std::size_t>(wanted, std::min(cores, kMaxThreads))));
}
#endif

// Set in a child forked without exec (a test's death test): it has none of
// the pool's threads, and the pool's locks may have been held at the fork,
// so it does its work itself.
std::atomic<bool> gInForkedChild{false};

// Threads started once and kept for every later job: a run asks for
// parallel work dozens of times, and starting and ending threads each time
// costs more than the smaller pieces take. The threads wait between jobs
// and end with the process.
class WorkerPool {
public:
  static WorkerPool &instance() {
    // Never destroyed: its threads may still be waiting at exit.
    static WorkerPool *pool = [] {
      pthread_atfork(nullptr, nullptr, [] { gInForkedChild.store(true); });
      return new WorkerPool();
    }();
    return *pool;
  }

  void run(std::size_t count, const std::function<void(std::size_t)> &work,
           unsigned threads) {
    std::lock_guard<std::mutex> oneJob(cJobMutex);
    const unsigned helpers = startHelpers(threads - 1);
    {
      std::lock_guard<std::mutex> lock(cMutex);
      cWork = &work;
      cCount = count;
      // Pieces are handed out in small runs so that uneven pieces (a large
      // object among small ones) still keep every thread busy.
      cRun = std::max<std::size_t>(1, count / (threads * 8));
      cNext.store(0);
      cWanted = helpers;
      cJoined = 0;
      cFinished = 0;
      ++cGeneration;
    }
    cWake.notify_all();
    drain();
    std::unique_lock<std::mutex> lock(cMutex);
    // No helper joins once this thread is done; those that joined finish.
    // A thread still starting up may hold the runtime's heap locks, and a
    // child forked then (a test's death test) would find them held for
    // good: so the job also ends only once every helper has started.
    cWanted = cJoined;
    cDone.wait(lock,
               [&] { return cFinished == cJoined && cReady == cHelpers; });
    cWork = nullptr;
  }

private:
  WorkerPool() = default;

  // Makes up to wanted helpers exist; returns how many there are.
  unsigned startHelpers(unsigned wanted) {
    while (cHelpers < wanted) {
      try {
        std::thread(&WorkerPool::serve, this).detach();
      } catch (const std::system_error &) {
        break; // no more threads to be had: the ones there share the work
      }
      ++cHelpers;
    }
    return std::min(cHelpers, wanted);
  }

  void drain() {
    tInJob = true;
    for (;;) {
      const std::size_t first = cNext.fetch_add(cRun);
      if (first >= cCount)
        break;
      const std::size_t last = std::min(cCount, first + cRun);
      for (std::size_t i = first; i < last; ++i)
        (*cWork)(i);
    }
    tInJob = false;
  }

  void serve() {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(cMutex);
    ++cReady;
    cDone.notify_all();
    for (;;) {
      cWake.wait(lock,
                 [&] { return cGeneration != seen && cJoined < cWanted; });
      seen = cGeneration;
      ++cJoined;
      lock.unlock();
      drain();
      lock.lock();
      ++cFinished;
      cDone.notify_all();
    }
  }

  std::mutex cJobMutex; // one job at a time
  std::mutex cMutex;    // guards the job's bookkeeping below
  std::condition_variable cWake;
  std::condition_variable cDone;
  unsigned cHelpers = 0; // started, under cJobMutex
  unsigned cReady = 0;   // helpers that reached their wait, under cMutex
  const std::function<void(std::size_t)> *cWork = nullptr;
  std::size_t cCount = 0;
  std::size_t cRun = 1;
  std::atomic<std::size_t> cNext{0};
  unsigned cWanted = 0;   // helpers that may still join the job
  unsigned cJoined = 0;   // helpers that joined it
  unsigned cFinished = 0; // of those, the ones done
  std::uint64_t cGeneration = 0;
};

void runOnThreads(std::size_t count,
                  const std::function<void(std::size_t)> &work,
                  unsigned threads) {
  if (threads <= 1 || tInJob || gInForkedChild.load()) {
    for (std::size_t i = 0; i < count; ++i)
      work(i);
    return;
  }
  WorkerPool::instance().run(count, work, threads);
}

} // namespace

// The C++ runtime's heap sets aside a region of address space for each
// thread that allocates (64 MiB with glibc), besides the thread's stack,
// and a thread whose region cannot be had gets every block mapped on its
// own. The workers, and a file written alongside, take threads only where
// all these regions together take at most half the limit; below that the
// whole run is on one thread and needs no more than the work itself, so a
// run that works under some limit also works under every larger one.
bool threadsFitAddressSpace() {
  static const bool fit = [] {
    struct rlimit space;
    if (getrlimit(RLIMIT_AS, &space) != 0 || space.rlim_cur == RLIM_INFINITY)
      return true;
    constexpr rlim_t kHeapRegionInBytes = rlim_t(64) << 20;
    struct rlimit stack;
    rlim_t stackInBytes = rlim_t(8) << 20;
    if (getrlimit(RLIMIT_STACK, &stack) == 0 &&
        stack.rlim_cur != RLIM_INFINITY && stack.rlim_cur > stackInBytes)
      stackInBytes = stack.rlim_cur;
    const rlim_t threads = std::min(coreCount(), kMaxThreads) + 1;
    return space.rlim_cur / 2 >= threads * (kHeapRegionInBytes + stackInBytes);
  }();
  return fit;
}

void forEachInParallel(std::size_t count,
                       const std::function<void(std::size_t)> &work) {
  runOnThreads(count, work, threadCountFor(count, kMinPiecesPerThread));
}

void forEachLargeInParallel(std::size_t count,
                            const std::function<void(std::size_t)> &work) {
  runOnThreads(count, work, threadCountFor(count, 1));
}

int firstFailureInOrder(
    std::size_t count,
    const std::function<bool(std::size_t, std::string &)> &step,
    std::string &error) {
  enum : char { kDone, kFailed, kSpoke };
  std::vector<char> outcome(count, kDone);
  std::vector<std::string> texts(count);
  forEachInParallel(count, [&](std::size_t at) {
    SilentAttempt silent;
    try {
      if (!step(at, texts[at]))
        outcome[at] = kFailed;
    } catch (const MessageWhileSilent &) {
      outcome[at] = kSpoke;
    }
  });
  for (std::size_t at = 0; at < count; ++at) {
    if (outcome[at] == kFailed) {
      error = texts[at];
      return 0;
    }
    if (outcome[at] == kSpoke) {
      for (; at < count; ++at)
        if (!step(at, error))
          return 0;
      return 1;
    }
  }
  return 1;
}
