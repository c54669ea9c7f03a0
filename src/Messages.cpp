#include "Messages.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>

namespace {

struct MessageState {
  std::int32_t cWarnings = 0;
  std::int32_t cErrors = 0;
  std::int32_t cVerbose = 0;
  std::int32_t cQuiet = 0;
};

MessageState gState;

thread_local bool tSilent = false;

std::atomic<bool> gOutOfMemory{false};
thread_local bool tEndingOutOfMemory = false;

// Several threads may run out at once: the first says so and ends the
// program, the others wait for that end instead of printing or exiting
// too. A block the exit itself cannot get ends the process at once.
void outOfMemory() {
  if (tEndingOutOfMemory)
    std::_Exit(1);
  if (gOutOfMemory.exchange(true)) {
    for (;;)
      pause();
  }
  tEndingOutOfMemory = true;
  std::fputs("out of memory\n", stderr);
  endProgram(1);
}

} // namespace

void setVerbose(int value) { gState.cVerbose = value; }
void setQuiet(int value) { gState.cQuiet = value; }
int isQuiet() { return gState.cQuiet; }
int errorCount() { return gState.cErrors; }
int warningCount() { return gState.cWarnings; }

void report(MessageKind kind, const std::string & /*context*/,
            const std::string &text, int fatal) {
  if (tSilent)
    throw MessageWhileSilent();
  if (kind == MessageKind::Warning) {
    ++gState.cWarnings;
    if (gState.cQuiet == 0 && gState.cVerbose != 0)
      std::cerr << "Warning - " << text << '\n';
  } else {
    ++gState.cErrors;
    if (gState.cQuiet == 0)
      std::cerr << "Error - " << text << '\n';
  }
  if (gState.cQuiet == 0)
    std::cout.flush();
  if (fatal != 0)
    printSummaryAndExit(255);
}

void reportStream(MessageKind kind, const std::string &context,
                  std::ostringstream &text, int fatal) {
  std::string message = text.str();
  text.str(std::string());
  text.clear();
  report(kind, context, message, fatal);
}

SilentAttempt::SilentAttempt() : cWasSilent(tSilent) { tSilent = true; }

SilentAttempt::~SilentAttempt() { tSilent = cWasSilent; }

void printSummaryAndExit(int exitCode) {
  if (gState.cQuiet == 0) {
    std::cout.flush();
    std::cout << "Errors    : " << gState.cErrors << '\n';
    if (gState.cVerbose != 0)
      std::cout << "Warnings  : " << gState.cWarnings << '\n';
    std::cout << '\n';
    std::cout.flush();
    std::cerr.flush();
  }
  endProgram(exitCode);
}

#ifdef ORVANE_FUZZ_BUILD
void endProgram(int exitCode) { throw ProgramEnd{exitCode}; }

void resetMessages() {
  gState = MessageState();
  // An input that ran out of memory threw back to the target; the next one
  // starts afresh.
  gOutOfMemory = false;
  tEndingOutOfMemory = false;
}
#else
void endProgram(int exitCode) { std::exit(exitCode); }
#endif

void initProgramStreams() {
  std::cerr.tie(&std::cout);
  std::set_new_handler(outOfMemory);
}

bool hasQuietSwitch(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-q" || arg == "/q" || arg == "-Q" || arg == "/Q")
      return true;
  }
  return false;
}
