// Error and warning reporting, counts, the closing summary and exit codes.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

enum class MessageKind : std::uint8_t { Error = 0, Warning = 1 };

void setVerbose(int value);
void setQuiet(int value);
int isQuiet();
int errorCount();
int warningCount();

// Counts and prints one message; a fatal one ends the program with 255.
// The context names the reporting operation and is never printed.
void report(MessageKind kind, const std::string &context,
            const std::string &text, int fatal);

// Reports the stream's text and empties the stream.
void reportStream(MessageKind kind, const std::string &context,
                  std::ostringstream &text, int fatal);

[[noreturn]] void printSummaryAndExit(int exitCode);

// Every way out of a program ends here: the summary, a fatal message, the
// help screen, a usage line, exhausted memory.
[[noreturn]] void endProgram(int exitCode);

#ifdef ORVANE_FUZZ_BUILD
// A fuzz build runs one input after another in one process: endProgram
// throws this, for the fuzz target to catch, where a program would exit.
struct ProgramEnd {
  int cExitCode;
};

// The counts and the quiet and verbose switches as a program starts.
void resetMessages();
#endif

// Work tried ahead of its turn on a worker thread must not speak: while a
// SilentAttempt lives on a thread, report() there prints and counts nothing
// and throws MessageWhileSilent instead (a fatal message included). The
// caller then redoes the work in order on the main thread, where it reports
// exactly what it would have.
struct MessageWhileSilent {};

class SilentAttempt {
public:
  SilentAttempt();
  ~SilentAttempt();
  SilentAttempt(const SilentAttempt &) = delete;
  SilentAttempt &operator=(const SilentAttempt &) = delete;

private:
  bool cWasSilent;
};

// What every program's entry does first: flush standard output before each
// error line, and end with "out of memory" and exit code 1 when the heap
// is exhausted.
void initProgramStreams();

// True when the argument list holds a quiet switch ("-q", "/q", "-Q", "/Q").
bool hasQuietSwitch(int argc, char **argv);
