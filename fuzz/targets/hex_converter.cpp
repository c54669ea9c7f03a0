// The HEX converter on one mutated linked file.
#include "InputRunner.h"

#include <cstddef>
#include <cstdint>

int programMain(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  writeWorkFile("in.cof", data, size);
  runProgram(programMain, {"pelmat", "in.cof"});
  return 0;
}
