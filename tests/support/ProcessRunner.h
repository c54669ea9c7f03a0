// Runs a program as a user would and captures what it did.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
  int exitCode = -1; // exit status, or -1 when killed by a signal
  int signal = 0;    // the signal that ended it, or 0
  std::string out;   // standard output (both streams when merged)
  std::string err;   // standard error (empty when merged)
};

struct ProcessOptions {
  std::string workDir;          // empty: the current directory
  bool mergeStreams = false;    // stderr into the stdout pipe, in order
  std::vector<std::string> env; // extra "NAME=value" entries
  std::string pathPrepend;      // prepended to PATH when not empty
  std::string input;            // fed to standard input
  // When not negative: the largest file the program may write (RLIMIT_FSIZE,
  // with SIGXFSZ ignored so a write past it fails instead of killing).
  long long fileSizeLimitBytes = -1;
  // When set: asked about every millisecond while the program runs; once
  // it gives true, the program is sent signalToSend.
  std::function<bool()> signalWhen;
  int signalToSend = 15; // SIGTERM
  // When not 0: the program is ended by SIGALRM after this many seconds,
  // so that a test of something that must not block fails instead of hanging.
  unsigned timeoutSeconds = 0;
};

ProcessResult runProcess(const std::string &program,
                         const std::vector<std::string> &args,
                         const ProcessOptions &options = ProcessOptions());

// Full path of one of the built programs ("_orvane", "pelmat", ...).
std::string programPath(const std::string &name);

// Full path of a test-only helper executable built under tests/.
std::string testHelperPath(const std::string &relative);
