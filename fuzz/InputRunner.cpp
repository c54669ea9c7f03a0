#include "InputRunner.h"

#include "Messages.h"
#include "Trace.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <iostream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int removeEntry(const char *path, const struct stat *, int, struct FTW *) {
  return ::remove(path);
}

void removeWorkDir() {
  nftw(fuzzWorkDir().c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

[[noreturn]] void failSystem(const std::string &what) {
  std::perror(what.c_str());
  std::abort();
}

// Done once: the directory the fuzzer started in, which every run returns
// to (the fuzzer names its corpus and artifacts relative to it), and C
// standard output sent nowhere (the librarian's listing is written through
// it; the fuzzer itself prints on the error stream).
int startDir() {
  static const int dir = [] {
    const int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0)
      failSystem("fuzz set-up");
    close(null);
    return fd;
  }();
  return dir;
}

// One run's surroundings, put back however the run ends: the working
// directory, and the standard streams, whose text is kept for the verdict.
class RunSurroundings {
public:
  explicit RunSurroundings(const std::string &dir)
      : cOut(std::cout.rdbuf(&cText)), cErr(std::cerr.rdbuf(&cText)),
        cOutFlags(std::cout.flags()), cErrFlags(std::cerr.flags()) {
    if (chdir(dir.c_str()) != 0)
      failSystem(dir);
  }
  ~RunSurroundings() {
    std::cout.rdbuf(cOut);
    std::cerr.rdbuf(cErr);
    std::cout.flags(cOutFlags);
    std::cerr.flags(cErrFlags);
    std::cout.clear();
    std::cerr.clear();
    if (fchdir(startDir()) != 0)
      failSystem("fchdir");
  }
  RunSurroundings(const RunSurroundings &) = delete;
  RunSurroundings &operator=(const RunSurroundings &) = delete;

  std::string text() const { return cText.str(); }

private:
  std::stringbuf cText;
  std::streambuf *cOut;
  std::streambuf *cErr;
  std::ios::fmtflags cOutFlags;
  std::ios::fmtflags cErrFlags;
};

// In memory where the system offers it: every run writes and replaces a
// few files, and a disk file system flushes a file replaced that way.
std::string workDirBase() {
  struct stat info;
  if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) &&
      access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  const char *base = std::getenv("TMPDIR");
  return base != nullptr && *base != 0 ? base : "/tmp";
}

} // namespace

const std::string &fuzzWorkDir() {
  static const std::string dir = [] {
    std::string pattern = workDirBase() + "/orvfuzz.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr)
      failSystem("mkdtemp");
    return pattern;
  }();
  static const bool cleanupRegistered = std::atexit(removeWorkDir) == 0;
  (void)cleanupRegistered;
  return dir;
}

std::string writeWorkFile(const std::string &name, const std::uint8_t *data,
                          std::size_t sizeInBytes) {
  const std::string path = fuzzWorkDir() + "/" + name;
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr ||
      std::fwrite(data, 1, sizeInBytes, file) != sizeInBytes ||
      std::fclose(file) != 0)
    failSystem(path);
  return path;
}

std::string writeWorkFile(const std::string &name, const std::string &text) {
  return writeWorkFile(
      name, reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
}

std::string freshWorkSubdir(const std::string &name) {
  const std::string dir = fuzzWorkDir() + "/" + name;
  nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  if (mkdir(dir.c_str(), 0755) != 0)
    failSystem(dir);
  return dir;
}

void runInProcess(const std::function<int()> &body, const std::string &subdir) {
  startDir();
  resetMessages();
  traceResetAll();
  int exitCode = 0;
  std::string text;
  {
    RunSurroundings run(subdir.empty() ? fuzzWorkDir()
                                       : fuzzWorkDir() + "/" + subdir);
    try {
      exitCode = body();
    } catch (const ProgramEnd &end) {
      exitCode = end.cExitCode;
    }
    text = run.text();
  }
  if (exitCode != 0 && text.find("Error - ") == std::string::npos) {
    std::fprintf(stderr,
                 "==== program output ====\n%s==== exit code %d without an "
                 "\"Error - \" line ====\n",
                 text.c_str(), exitCode);
    std::abort();
  }
}

void runProgram(int (*entry)(int, char **),
                const std::vector<std::string> &args,
                const std::string &subdir) {
  std::vector<std::string> store(args);
  std::vector<char *> argv;
  for (std::string &arg : store)
    argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  runInProcess(
      [&] { return entry(static_cast<int>(store.size()), argv.data()); },
      subdir);
}
