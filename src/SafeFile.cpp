#include "SafeFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void removeLiveTemporaries();

// Temporaries not yet committed or discarded. A fatal error ends the
// program through exit() without unwinding, so no destructor removes
// them; the exit handler does, and no partial file stays behind.
// Two threads may each write a file (the linker makes its map while the
// output is written), so the list is kept under a lock.
std::mutex &liveTemporariesLock() {
  static std::mutex lock;
  return lock;
}

std::set<std::string> &liveTemporaries() {
  static std::set<std::string> names;
  static const bool registered = (std::atexit(removeLiveTemporaries), true);
  (void)registered;
  return names;
}

void enterLiveTemporary(const std::string &name) {
  std::lock_guard<std::mutex> hold(liveTemporariesLock());
  liveTemporaries().insert(name);
}

void dropLiveTemporary(const std::string &name) {
  std::lock_guard<std::mutex> hold(liveTemporariesLock());
  liveTemporaries().erase(name);
}

void removeLiveTemporaries() {
  std::lock_guard<std::mutex> hold(liveTemporariesLock());
  for (const std::string &name : liveTemporaries())
    unlink(name.c_str());
  liveTemporaries().clear();
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
  discard();
  cFailed = false;
  // A plain create fails on an existing file the user may not write, so a
  // read-only target is refused rather than replaced by the rename.
  if (access(cTarget.c_str(), W_OK) != 0 && errno != ENOENT)
    return false;
  std::string pattern = cTarget + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0)
    return false;
  // mkstemp creates 0600; give the file the mode a plain create would.
  mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0) {
    int saved = errno;
    close(fd);
    unlink(name.data());
    errno = saved;
    return false;
  }
  cStream = fdopen(fd, "wb");
  if (cStream == nullptr) {
    int saved = errno;
    close(fd);
    unlink(name.data());
    errno = saved;
    return false;
  }
  cTempName = name.data();
  enterLiveTemporary(cTempName);
  return true;
}

bool SafeOutputFile::write(const void *bytes, std::size_t count) {
  if (cStream == nullptr || cFailed)
    return false;
  if (count != 0 && std::fwrite(bytes, 1, count, cStream) != count)
    cFailed = true;
  return !cFailed;
}

bool SafeOutputFile::commit() {
  if (cStream == nullptr)
    return false;
  bool ok = !cFailed && std::fflush(cStream) == 0 && !std::ferror(cStream);
  int saved = errno;
  if (std::fclose(cStream) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  cStream = nullptr;
  if (ok) {
    const int replaced = holdReplacedFile(cTarget);
    if (std::rename(cTempName.c_str(), cTarget.c_str()) != 0) {
      ok = false;
      saved = errno;
    }
    releaseReplacedFile(replaced, ok);
  }
  if (!ok)
    unlink(cTempName.c_str());
  dropLiveTemporary(cTempName);
  cTempName.clear();
  if (!ok)
    errno = saved != 0 ? saved : EIO;
  return ok;
}

void SafeOutputFile::discard() {
  if (cStream != nullptr) {
    std::fclose(cStream);
    cStream = nullptr;
  }
  if (!cTempName.empty()) {
    unlink(cTempName.c_str());
    dropLiveTemporary(cTempName);
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
