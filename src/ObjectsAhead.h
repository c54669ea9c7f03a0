// Reading many object files at once. The programs still take the objects
// one by one in the order given; what was read ahead only saves the wait.
#pragma once

#include "Coff.h"

#include <memory>
#include <string>
#include <vector>

// The named objects read (and, when asked, checked) on worker threads. An
// entry stays null wherever reading or checking had anything to report:
// the caller reads that one again in its turn, which reports it exactly as
// a plain read would. Only regular files are read ahead: opening anything
// else (a pipe, a device) can block or take what it gives, so it is left
// null for its turn, and is never opened when an earlier input fails.
// regular, when given, tells for each name whether it is a regular file
// (as the caller has just looked), which saves looking again.
std::vector<std::unique_ptr<Coff>>
readObjectsAhead(const std::vector<std::string> &names, bool verify,
                 const std::vector<char> *regular = nullptr);
