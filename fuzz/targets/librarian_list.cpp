// The librarian listing one mutated library ("/t").
#include "InputRunner.h"

#include <cstddef>
#include <cstdint>

int programMain(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  writeWorkFile("in.lib", data, size);
  runProgram(programMain, {"tessil", "/t", "in.lib"});
  return 0;
}
