// The whole linker on one mutated command file and a fixed object.
#include "FuzzSetup.h"
#include "InputRunner.h"

#include <cstddef>
#include <cstdint>

int programMain(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  writeFixedInputs();
  writeWorkFile("in.lkr", data, size);
  runProgram(programMain,
             {"_orvane", "in.lkr", "code.o", "/o", "out.cof", "/m", "out.map"});
  return 0;
}
