// Helpers of the loading and input-check tests: running the linker in a
// directory, working in a directory, and reading names back.
#pragma once

#include "Coff.h"
#include "ProcessRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

// Makes dir the current directory and returns to the old one afterwards.
class InDirectory {
public:
  explicit InDirectory(const std::string &dir) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) != nullptr)
      cOld = buffer;
    EXPECT_EQ(chdir(dir.c_str()), 0);
  }
  ~InDirectory() {
    if (!cOld.empty() && chdir(cOld.c_str()) != 0)
      ADD_FAILURE() << "could not return to " << cOld;
  }
  InDirectory(const InDirectory &) = delete;
  InDirectory &operator=(const InDirectory &) = delete;

private:
  std::string cOld;
};

// Runs _orvane in dir with "link.lkr" and the arguments; both streams in
// one text.
inline ProcessResult runLinker(const TempDir &dir,
                               const std::vector<std::string> &args) {
  ProcessOptions options;
  options.workDir = dir.path();
  options.mergeStreams = true;
  std::vector<std::string> all = {"link.lkr"};
  all.insert(all.end(), args.begin(), args.end());
  return runProcess(programPath("_orvane"), all, options);
}

// Whether the symbol table holds a symbol of that name.
inline bool hasSymbol(const Coff &coff, const std::string &name) {
  for (std::size_t i = 0; i < coff.cSymbolTbl.size(); ++i)
    if ((i >= coff.cAuxType.size() || coff.cAuxType[i] == kAuxNone) &&
        Coff::getName(coff.cSymbolTbl[i], coff.cStringTbl) == name)
      return true;
  return false;
}
