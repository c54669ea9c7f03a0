#include "SafeFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// Temporaries not yet committed or discarded, in a fixed table that a
// signal handler can walk: it may neither lock nor allocate. A fatal error
// ends the program through exit() without unwinding, and a signal ends it
// anywhere; in both cases the table says what to remove, so no partial
// file stays behind. Two threads may each write a file (the linker makes
// its map while the output is written), so a slot is claimed atomically
// and its name is published before it counts as live.
enum SlotState : int { kSlotFree, kSlotFilling, kSlotLive };

struct LiveTemporary {
  std::atomic<int> state;
  char name[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free,
              "a signal handler reads the slot states");

// Far more than any program holds at once (the linker: output and map).
constexpr int kLiveTemporarySlots = 16;
LiveTemporary gLiveTemporaries[kLiveTemporarySlots];

// -1 when no slot is free or the name cannot be held; the file is then
// still removed by its owner, only not after exit() or a signal.
int enterLiveTemporary(const std::string &name) {
  if (name.size() >= sizeof gLiveTemporaries[0].name)
    return -1;
  for (int slot = 0; slot < kLiveTemporarySlots; ++slot) {
    int expected = kSlotFree;
    LiveTemporary &entry = gLiveTemporaries[slot];
    if (!entry.state.compare_exchange_strong(expected, kSlotFilling))
      continue;
    std::memcpy(entry.name, name.c_str(), name.size() + 1);
    entry.state.store(kSlotLive, std::memory_order_release);
    return slot;
  }
  return -1;
}

void dropLiveTemporary(int slot) {
  if (slot >= 0)
    gLiveTemporaries[slot].state.store(kSlotFree, std::memory_order_release);
}

// Async-signal-safe: atomic loads and unlink only. A slot dropped while
// this runs names a file already renamed or removed, which unlink then
// does not find.
void removeLiveTemporaries() {
  for (LiveTemporary &entry : gLiveTemporaries)
    if (entry.state.load(std::memory_order_acquire) == kSlotLive)
      unlink(entry.name);
}

void removeLiveTemporariesAtExit() { removeLiveTemporaries(); }

extern "C" void removeTemporariesAndDie(int signal) {
  removeLiveTemporaries();
  // The signal stays blocked until the handler returns, and then ends the
  // program the way it would have without the handler.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Up to and including the last '/'; empty for a bare name.
std::string directoryOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The name a plain create would end up writing: symbolic links followed
// (also a dangling one, whose file a create would make). False with errno
// set for a loop or a link that cannot be read.
bool followLinks(std::string path, std::string &resolved) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      resolved = path;
      return true;
    }
    char text[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), text, sizeof text);
    if (length < 0)
      return false;
    if (length == 0 || static_cast<std::size_t>(length) >= sizeof text) {
      errno = length == 0 ? ENOENT : ENAMETOOLONG;
      return false;
    }
    const std::string target(text, static_cast<std::size_t>(length));
    path = target[0] == '/' ? target : directoryOf(path) + target;
  }
  errno = ELOOP;
  return false;
}

// A short name, so that any name the file system takes as a target also
// leaves room for its temporary; created exclusively, so a clash is only
// a retry.
std::string temporaryNameIn(const std::string &directory) {
  static std::atomic<std::uint64_t> counter{0};
  const char kDigits[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  int local = 0;
  std::uint64_t x =
      static_cast<std::uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<std::uint64_t>(getpid()) << 40) ^
      reinterpret_cast<std::uintptr_t>(&local) ^
      (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  // splitmix64: every input bit reaches every output bit.
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  std::string name = directory + ".orv";
  for (int i = 0; i < 8; ++i, x /= 62)
    name += kDigits[x % 62];
  return name;
}

// Replacing a large file frees its pages, which the system does inside the
// rename that drops its last name; on this work's scale that is
// milliseconds. A descriptor held on the old file across the rename moves
// the freeing to its close, which a thread of its own then does while the
// program goes on. -1 when the target is missing or not worth it.
int holdReplacedFile(const std::string &target) {
#ifdef O_PATH
  constexpr off_t kWorthBytes = 1 << 20;
  // O_PATH opens nothing: no device or pipe is touched, no time stamp set.
  const int fd = ::open(target.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return -1;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_nlink != 1 || status.st_size < kWorthBytes) {
    close(fd);
    return -1;
  }
  return fd;
#else
  (void)target;
  return -1;
#endif
}

void releaseReplacedFile(int fd, bool replaced) {
  if (fd < 0)
    return;
  if (replaced) {
    try {
      std::thread([fd] { close(fd); }).detach();
      return;
    } catch (const std::system_error &) {
      // No thread to be had: closed here.
    }
  }
  close(fd);
}

} // namespace

SafeOutputFile::SafeOutputFile(const std::string &target) : cTarget(target) {}

SafeOutputFile::~SafeOutputFile() { discard(); }

bool SafeOutputFile::open() {
  static const bool removedAtExit =
      (std::atexit(removeLiveTemporariesAtExit), true);
  (void)removedAtExit;
  discard();
  cFailed = false;
  if (!followLinks(cTarget, cReplaced))
    return false;
  struct stat status;
  if (stat(cReplaced.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) {
      errno = EISDIR;
      return false;
    }
    // A device, FIFO or socket is written, not replaced.
    if (!S_ISREG(status.st_mode)) {
      const int fd =
          ::open(cReplaced.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
      if (fd < 0)
        return false;
      cStream = fdopen(fd, "wb");
      if (cStream == nullptr) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
      }
      return true;
    }
    // A plain create fails on an existing file the user may not write, so
    // a read-only target is refused rather than replaced by the rename.
    if (access(cReplaced.c_str(), W_OK) != 0)
      return false;
  } else if (errno != ENOENT) {
    return false;
  }

  // The kernel gives the file the mode a plain create would: 0666 less the
  // umask, read from no shared state.
  const std::string directory = directoryOf(cReplaced);
  std::string name;
  int fd = -1;
  // Entered before it is created: a signal that comes as the file appears
  // (a preempted return from open() is no rare moment) still finds it. Only
  // a name clash, which the random part makes all but impossible, meeting a
  // signal in that instant could remove another's file.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    name = temporaryNameIn(directory);
    cSlot = enterLiveTemporary(name);
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int saved = errno;
      dropLiveTemporary(cSlot);
      cSlot = -1;
      errno = saved;
      if (errno != EEXIST)
        return false;
    }
  }
  if (fd < 0)
    return false;
  cTempName = name;
  cStream = fdopen(fd, "wb");
  if (cStream == nullptr) {
    const int saved = errno;
    ::close(fd);
    discard();
    errno = saved;
    return false;
  }
  return true;
}

bool SafeOutputFile::write(const void *bytes, std::size_t count) {
  if (cStream == nullptr || cFailed)
    return false;
  if (count != 0 && std::fwrite(bytes, 1, count, cStream) != count)
    cFailed = true;
  return !cFailed;
}

bool SafeOutputFile::close() {
  if (cStream == nullptr)
    return false;
  bool ok = !cFailed && std::fflush(cStream) == 0 && !std::ferror(cStream);
  int saved = errno;
  if (std::fclose(cStream) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  cStream = nullptr;
  if (!ok) {
    discard();
    errno = saved != 0 ? saved : EIO;
    return false;
  }
  cClosed = true;
  return true;
}

bool SafeOutputFile::commit() {
  if (!cClosed && !close())
    return false;
  cClosed = false;
  if (cTempName.empty())
    return true; // written in place
  const int replaced = holdReplacedFile(cReplaced);
  const bool ok = std::rename(cTempName.c_str(), cReplaced.c_str()) == 0;
  const int saved = errno;
  releaseReplacedFile(replaced, ok);
  if (ok) {
    dropLiveTemporary(cSlot);
    cSlot = -1;
    cTempName.clear();
    return true;
  }
  discard();
  errno = saved;
  return false;
}

void SafeOutputFile::discard() {
  if (cStream != nullptr) {
    std::fclose(cStream);
    cStream = nullptr;
  }
  cClosed = false;
  if (!cTempName.empty()) {
    unlink(cTempName.c_str());
    dropLiveTemporary(cSlot);
    cSlot = -1;
    cTempName.clear();
  }
}

bool writeFileAtomically(const std::string &target, const std::string &bytes) {
  SafeOutputFile file(target);
  if (!file.open())
    return false;
  file.write(bytes);
  return file.commit();
}

void removeTemporariesOnSignals() {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) != 0 ||
        current.sa_handler == SIG_IGN)
      continue;
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGHUP);
    sigaction(signal, &action, nullptr);
  }
}
