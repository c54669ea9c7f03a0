// The whole linker on one mutated object and a fixed command file.
#include "FuzzSetup.h"
#include "InputRunner.h"

#include <cstddef>
#include <cstdint>

int programMain(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  writeFixedInputs();
  writeWorkFile("in.o", data, size);
  runProgram(programMain, {"_orvane", "fixed.lkr", "in.o", "/o", "out.cof",
                           "/m", "out.map"});
  return 0;
}
