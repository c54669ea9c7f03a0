// The librarian extracting every member of one mutated library ("/x").
#include "InputRunner.h"

#include <cstddef>
#include <cstdint>

int programMain(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  // Each run extracts into an empty directory of its own, so the members
  // of earlier runs neither pile up nor change this run.
  freshWorkSubdir("x");
  writeWorkFile("x/in.lib", data, size);
  runProgram(programMain, {"tessil", "/x", "in.lib"}, "x");
  return 0;
}
