#include "ProcessRunner.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

void closePair(int fds[2]) {
  for (int i = 0; i < 2; ++i)
    if (fds[i] >= 0)
      close(fds[i]);
}

} // namespace

ProcessResult runProcess(const std::string &program,
                         const std::vector<std::string> &args,
                         const ProcessOptions &options) {
  ProcessResult result;
  int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, inPipe[2] = {-1, -1};
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0 || pipe(inPipe) != 0) {
    closePair(outPipe);
    closePair(errPipe);
    closePair(inPipe);
    result.err = "pipe failed";
    return result;
  }

  std::vector<std::string> envStore;
  for (char **e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (!options.pathPrepend.empty() && entry.rfind("PATH=", 0) == 0)
      entry = "PATH=" + options.pathPrepend + ":" + entry.substr(5);
    envStore.push_back(entry);
  }
  for (const std::string &e : options.env)
    envStore.push_back(e);
  std::vector<char *> envp;
  for (std::string &e : envStore)
    envp.push_back(&e[0]);
  envp.push_back(nullptr);

  std::vector<std::string> argStore;
  argStore.push_back(program);
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : argStore)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(options.mergeStreams ? outPipe[1] : errPipe[1], 2);
    closePair(outPipe);
    closePair(errPipe);
    closePair(inPipe);
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0)
      _exit(126);
    if (options.fileSizeLimitBytes >= 0) {
      // An ignored signal stays ignored across execve.
      signal(SIGXFSZ, SIG_IGN);
      const rlim_t limit = static_cast<rlim_t>(options.fileSizeLimitBytes);
      const rlimit fileSize = {limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0)
        _exit(126);
    }
    // A pending alarm stays set across execve.
    if (options.timeoutSeconds != 0)
      alarm(options.timeoutSeconds);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  close(inPipe[0]);
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    close(inPipe[1]);
    result.err = "fork failed";
    return result;
  }

  // Feed the input, then read both pipes until they close.
  signal(SIGPIPE, SIG_IGN);
  std::size_t written = 0;
  while (written < options.input.size()) {
    ssize_t n = write(inPipe[1], options.input.data() + written,
                      options.input.size() - written);
    if (n <= 0)
      break;
    written += static_cast<std::size_t>(n);
  }
  close(inPipe[1]);

  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string *sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[65536];
  bool signalPending = static_cast<bool>(options.signalWhen);
  while (open > 0) {
    if (signalPending && options.signalWhen()) {
      kill(pid, options.signalToSend);
      signalPending = false;
    }
    if (poll(fds, 2, signalPending ? 1 : -1) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

std::string programPath(const std::string &name) {
  return std::string(ORVANE_PROGRAM_DIR) + "/" + name;
}

std::string testHelperPath(const std::string &relative) {
  return std::string(ORVANE_TEST_BIN_DIR) + "/" + relative;
}
