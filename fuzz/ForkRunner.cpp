#include "ForkRunner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <iostream>
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/lsan_interface.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// The inline coverage counters of the whole executable; the linker defines
// these bounds for the section the compiler puts them in.
extern "C" {
extern std::uint8_t __start___sancov_cntrs[] __attribute__((weak));
extern std::uint8_t __stop___sancov_cntrs[] __attribute__((weak));
void __real_exit(int code) __attribute__((noreturn));
void __wrap_exit(int code) __attribute__((noreturn));
}

namespace {

// A run that uses more processor time than this is a hang (the inputs are
// small files); one that waits longer than the wall limit is stuck. Both
// are generous, as a busy machine may run the child slowly.
const unsigned kHangCpuSeconds = 10;
const unsigned kStuckWallSeconds = 300;

struct SharedState {
  int finished = 0; // the child reached exit() or returned
  int exitCode = 0;
  int leaked = 0;
  int sanitizerDied = 0;
};

// A leak check scans every global and heap block, which costs more than the
// run itself; ORVANE_FUZZ_LEAKS=0 leaves it out while fuzzing, and a replay
// of the corpus with it on checks every input that found new code.
bool leakChecksWanted() {
  static const bool wanted = [] {
    const char *value = std::getenv("ORVANE_FUZZ_LEAKS");
    return value == nullptr || std::strcmp(value, "0") != 0;
  }();
  return wanted;
}

SharedState *gShared = nullptr;
std::uint8_t *gSharedCounters = nullptr;
bool gInChild = false;

std::size_t counterCount() {
  if (__start___sancov_cntrs == nullptr || __stop___sancov_cntrs == nullptr)
    return 0;
  return static_cast<std::size_t>(__stop___sancov_cntrs -
                                  __start___sancov_cntrs);
}

void mapSharedState() {
  if (gShared != nullptr)
    return;
  const std::size_t sizeInBytes = sizeof(SharedState) + counterCount();
  void *block = mmap(nullptr, sizeInBytes, PROT_READ | PROT_WRITE,
                     MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) {
    std::perror("mmap");
    std::abort();
  }
  gShared = new (block) SharedState();
  gSharedCounters = static_cast<std::uint8_t *>(block) + sizeof(SharedState);
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *) {
  return ::remove(path);
}

void removeWorkDir() {
  if (!gInChild)
    nftw(fuzzWorkDir().c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string logPath() { return fuzzWorkDir() + "/child.log"; }

std::string readLog() {
  std::string text;
  if (std::FILE *file = std::fopen(logPath().c_str(), "rb")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
      text.append(buffer, n);
    std::fclose(file);
  }
  return text;
}

// The child's way out, whether the program returned or called exit().
[[noreturn]] void finishChild(int code) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  if (leakChecksWanted())
    gShared->leaked = __lsan_do_recoverable_leak_check();
  if (counterCount() != 0)
    std::memcpy(gSharedCounters, __start___sancov_cntrs, counterCount());
  gShared->exitCode = code;
  gShared->finished = 1;
  _exit(code);
}

void onSanitizerDeath() { gShared->sanitizerDied = 1; }

[[noreturn]] void childMain(const std::function<int()> &body,
                            const std::string &subdir) {
  gInChild = true;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  __sanitizer_set_death_callback(onSanitizerDeath);
  std::signal(SIGALRM, SIG_DFL);
  std::signal(SIGXCPU, SIG_DFL);
  const rlimit cpu = {kHangCpuSeconds, kHangCpuSeconds + 5};
  setrlimit(RLIMIT_CPU, &cpu);
  alarm(kStuckWallSeconds);
  const int log = open(logPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int null = open("/dev/null", O_RDONLY);
  const std::string dir =
      subdir.empty() ? fuzzWorkDir() : fuzzWorkDir() + "/" + subdir;
  if (log < 0 || null < 0 || chdir(dir.c_str()) != 0)
    _exit(125);
  dup2(null, 0);
  dup2(log, 1);
  dup2(log, 2);
  close(log);
  close(null);
  finishChild(body());
}

[[noreturn]] void fail(const std::string &what, const std::string &log) {
  std::fprintf(stderr, "==== child output ====\n%s==== %s ====\n", log.c_str(),
               what.c_str());
  std::abort();
}

void judge(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    if (sig == SIGXCPU || sig == SIGKILL)
      fail("hang: the run used more than " + std::to_string(kHangCpuSeconds) +
               " seconds of processor time",
           readLog());
    if (sig == SIGALRM)
      fail("hang: the run was stuck for " + std::to_string(kStuckWallSeconds) +
               " seconds",
           readLog());
    fail("crash: killed by signal " + std::to_string(sig), readLog());
  }
  if (!gShared->finished)
    fail(gShared->sanitizerDied ? "crash: sanitizer report"
                                : "crash: ended without exit (status " +
                                      std::to_string(WEXITSTATUS(status)) + ")",
         readLog());
  if (gShared->leaked)
    fail("leak", readLog());
  if (counterCount() != 0)
    std::memcpy(__start___sancov_cntrs, gSharedCounters, counterCount());
  const std::string log = readLog();
  const bool hasError = log.find("Error - ") != std::string::npos;
  if (gShared->exitCode != 0 && !hasError)
    fail("exit code " + std::to_string(gShared->exitCode) +
             " without an \"Error - \" line",
         log);
}

} // namespace

extern "C" void __wrap_exit(int code) {
  if (gInChild)
    finishChild(code);
  __real_exit(code);
}

const std::string &fuzzWorkDir() {
  static const std::string dir = [] {
    const char *base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != 0 ? base : "/tmp") +
        "/orvfuzz.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
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
      std::fclose(file) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
  return path;
}

std::string writeWorkFile(const std::string &name, const std::string &text) {
  return writeWorkFile(
      name, reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
}

std::string freshWorkSubdir(const std::string &name) {
  const std::string dir = fuzzWorkDir() + "/" + name;
  nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  if (mkdir(dir.c_str(), 0755) != 0) {
    std::perror(dir.c_str());
    std::abort();
  }
  return dir;
}

void runInChild(const std::function<int()> &body, const std::string &subdir) {
  leakChecksWanted();
  mapSharedState();
  *gShared = SharedState();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    std::abort();
  }
  if (pid == 0)
    childMain(body, subdir);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      std::perror("waitpid");
      std::abort();
    }
  }
  judge(status);
}

void runProgram(int (*entry)(int, char **),
                const std::vector<std::string> &args,
                const std::string &subdir) {
  runInChild(
      [&] {
        std::vector<std::string> store(args);
        std::vector<char *> argv;
        for (std::string &arg : store)
          argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        return entry(static_cast<int>(store.size()), argv.data());
      },
      subdir);
}
