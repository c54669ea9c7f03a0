// The error map file: written right after allocation, whether it succeeded
// or not, so a failed link leaves the allocation tables as far as they got.
#include "Linker.h"

#include "Banner.h"
#include "MapFile.h"
#include "Messages.h"
#include "SafeFile.h"

#include <functional>

namespace {

// Made text goes to the file once about this much is waiting.
constexpr std::size_t kPieceBytes = 256 * 1024;

// Takes (and empties) the text made so far.
using TextSink = std::function<void(std::string &)>;

struct AllocationTables {
  const char *title;
  const std::list<Memory> &memories;
};

void appendAllocationTables(std::string &out, const AllocationTables &tables,
                            const TextSink &flush) {
  out += tables.title;
  out += '\n';
  bool first = true;
  for (const Memory &memory : tables.memories) {
    memory.appendAllocation(out, first ? 1 : 0);
    first = false;
    if (flush && out.size() >= kPieceBytes)
      flush(out);
  }
  out += '\n';
}

void makeErrorMap(std::string &out, const std::string &timeText,
                  std::initializer_list<AllocationTables> tables,
                  const TextSink &flush) {
  out += linkerBanner();
  out += "\nLinker Error Map File - Created ";
  out += timeText;
  out += "\n*Warning* - This is only a partial map file due to a link time "
         "error.\n"
         "   Only sections which were allocated prior to the error are shown "
         "below.\n\n";
  for (const AllocationTables &table : tables)
    appendAllocationTables(out, table, flush);
}

} // namespace

std::string Linker::errorMapText(const std::string &timeText) const {
  std::string out;
  makeErrorMap(out, timeText,
               {{"CODEPAGES:", cCodePage},
                {"SHAREBANKS:", cShareBanks},
                {"DATABANKS:", cDataBanks},
                {"ACCESSBANKS:", cAccessBanks}},
               nullptr);
  return out;
}

int Linker::writeErrorMapFile() {
  if (cMapFile.empty())
    return 1;
  SafeOutputFile file(cMapFile);
  if (!file.open()) {
    report(MessageKind::Error, "Linker::writeErrorMapFile()",
           "Could not open map file '" + cMapFile + "' for writing.", 0);
    return 0;
  }
  // Written in pieces: the tables of a large link need not sit in memory
  // whole.
  std::string out;
  const TextSink flush = [&file](std::string &text) {
    file.write(text);
    text.clear();
  };
  makeErrorMap(out, mapFileTime(),
               {{"CODEPAGES:", cCodePage},
                {"SHAREBANKS:", cShareBanks},
                {"DATABANKS:", cDataBanks},
                {"ACCESSBANKS:", cAccessBanks}},
               flush);
  flush(out);
  if (!file.commit()) {
    report(MessageKind::Error, "Linker::writeErrorMapFile()",
           "Could not write map file '" + cMapFile + "'.", 0);
    return 0;
  }
  return 1;
}
