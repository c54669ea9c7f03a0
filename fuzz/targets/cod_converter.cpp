// The COD converter (COD file and listing) on one mutated linked file.
#include "InputRunner.h"

#include <cstddef>
#include <cstdint>

int programMain(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  writeWorkFile("in.cof", data, size);
  runProgram(programMain, {"cirrow", "in.cof"});
  return 0;
}
