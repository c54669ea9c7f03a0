#include "ChildProcess.h"

#include <cerrno>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

extern char **environ;

ChildOutcome runChild(const std::string &program,
                      const std::vector<std::string> &args) {
  std::vector<std::string> words;
  words.reserve(args.size() + 1);
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  argv.reserve(words.size() + 1);
  for (std::string &word : words)
    argv.push_back(&word[0]);
  argv.push_back(nullptr);

  ChildOutcome outcome;
  pid_t pid = 0;
  int error = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(),
                           environ);
  if (error != 0) {
    outcome.cErrorNumber = error;
    return outcome;
  }
  outcome.cStarted = true;

  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  // A lost child or one ended by a signal did not succeed; only a normal
  // exit carries a status worth passing on.
  if (waited < 0 || !WIFEXITED(status))
    outcome.cExitCode = 1;
  else
    outcome.cExitCode = WEXITSTATUS(status);
  return outcome;
}
