// The library reader on one mutated library: reading, the symbol index and
// fetching the member that defines each symbol.
#include "Archive.h"
#include "InputRunner.h"
#include "Messages.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>

constexpr std::size_t kDumpLimitBytes = 64 * 1024;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const std::string path = writeWorkFile("in.lib", data, size);
  runInProcess([&] {
    initProgramStreams();
    std::unique_ptr<Archive> archive = Archive::make(path);
    if (!archive)
      return 1;
    // A zero-filled section may claim megabytes, whose dump takes long
    // and reaches no code that a short one does not.
    std::size_t dataBytes = 0;
    for (const auto &member : archive->cMembers)
      if (member)
        for (const auto &section : member->cRawData)
          dataBytes += section.second.size();
    if (dataBytes <= kDumpLimitBytes) {
      std::ostringstream listing;
      archive->print(listing);
    }
    if (!archive->makeSymbols())
      return 1;
    for (const auto &symbol : archive->cSymbols)
      if (!archive->getMember(symbol.first))
        return 1;
    // Some faults are counted while the library is still read.
    return errorCount() == 0 ? 0 : 1;
  });
  return 0;
}
