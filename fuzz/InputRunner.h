// Runs one fuzz input through the code under test inside the fuzzing
// process, as a program run would: every run starts from the state a
// program starts with, inside the work directory, and ends where the
// program would have exited (fuzz builds throw ProgramEnd there).
//
// Crashes, sanitizer reports, leaks and hangs are the fuzzer's own to
// catch. Judged here: a nonzero exit without an "Error - " line breaks the
// programs' promise to their users (an error may be counted with exit code
// 0: an old-layout object is reported and still read). Such a run prints
// what the program printed and aborts, which makes the fuzzer keep the
// input as a crash file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The directory the runs take place in; made once per fuzzing process and
// removed when it ends.
const std::string &fuzzWorkDir();

// Writes bytes to a file in the work directory and returns its path.
std::string writeWorkFile(const std::string &name, const std::uint8_t *data,
                          std::size_t sizeInBytes);
std::string writeWorkFile(const std::string &name, const std::string &text);

// Empties (or makes) a directory inside the work directory.
std::string freshWorkSubdir(const std::string &name);

// Calls body inside the work directory (or the given directory inside it);
// body returns the exit code or ends the way a program does.
void runInProcess(const std::function<int()> &body,
                  const std::string &subdir = "");

// Runs a program's entry (compiled under another name) with the given
// arguments, the program name first.
void runProgram(int (*entry)(int, char **),
                const std::vector<std::string> &args,
                const std::string &subdir = "");
