// Runs one fuzz input through a whole program in a forked child.
//
// The programs end through exit(), so they cannot run inside the fuzzing
// process itself. Each input runs in a child instead; the child's coverage
// counters are copied back through shared memory before it ends, so the
// fuzzer still learns from every run. The child's end is judged here:
//   - a signal, a sanitizer report or an unexpected way out is a crash;
//   - a run longer than the hang limit is a hang;
//   - memory still allocated and unreachable at the end is a leak;
//   - a nonzero exit without an "Error - " line breaks the programs'
//     promise to their users. (An error may be counted with exit code 0:
//     an old-layout object is reported and still read.)
// Every failure prints what the child printed and aborts, which makes the
// fuzzer keep the input as a crash file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The directory the child runs in; made once per fuzzing process.
const std::string &fuzzWorkDir();

// Writes bytes to a file in the work directory and returns its path.
std::string writeWorkFile(const std::string &name, const std::uint8_t *data,
                          std::size_t sizeInBytes);
std::string writeWorkFile(const std::string &name, const std::string &text);

// Empties (or makes) a directory inside the work directory.
std::string freshWorkSubdir(const std::string &name);

// Calls body in a child inside the work directory (or the given directory
// inside it); body either returns the exit code or ends through exit().
void runInChild(const std::function<int()> &body,
                const std::string &subdir = "");

// Runs a program's entry (compiled under another name) with the given
// arguments, the program name first.
void runProgram(int (*entry)(int, char **),
                const std::vector<std::string> &args,
                const std::string &subdir = "");
