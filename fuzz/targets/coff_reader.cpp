// The COFF reader and checker on one mutated object file.
#include "Coff.h"
#include "InputRunner.h"
#include "Messages.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>

constexpr std::size_t kDumpLimitBytes = 64 * 1024;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const std::string path = writeWorkFile("in.o", data, size);
  runInProcess([&] {
    initProgramStreams();
    std::unique_ptr<Coff> coff = Coff::make(path);
    if (!coff)
      return 1;
    // A zero-filled section may claim megabytes, whose dump takes long
    // and reaches no code that a short one does not.
    std::size_t dataBytes = 0;
    for (const auto &section : coff->cRawData)
      dataBytes += section.second.size();
    if (dataBytes <= kDumpLimitBytes) {
      std::ostringstream dump;
      coff->print(dump);
    }
    // Some faults are counted while the object is still read.
    return coff->verify() && errorCount() == 0 ? 0 : 1;
  });
  return 0;
}
