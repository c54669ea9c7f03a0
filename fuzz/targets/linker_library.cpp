// The whole linker on one mutated library, a fixed object that needs its
// members and a fixed command file.
#include "FuzzSetup.h"
#include "InputRunner.h"

#include <cstddef>
#include <cstdint>

int programMain(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  writeFixedInputs();
  writeWorkFile("in.lib", data, size);
  runProgram(programMain, {"_orvane", "fixed.lkr", "main.o", "in.lib", "/o",
                           "out.cof", "/m", "out.map"});
  return 0;
}
