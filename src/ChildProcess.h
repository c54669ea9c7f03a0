// Starting one of the toolchain's programs as a child and waiting for it.
#pragma once

#include <string>
#include <vector>

struct ChildOutcome {
  bool cStarted = false; // false: the program could not be started
  int cErrorNumber = 0;  // errno-style reason when not started
  int cExitCode = 0;     // exit status; 1 when a signal ended the child
};

// Finds the program through PATH and runs it with exactly these argument
// words (no shell in between, so blanks and shell characters in a word
// reach the child unchanged). The child's name is its argv[0].
ChildOutcome runChild(const std::string &program,
                      const std::vector<std::string> &args);
