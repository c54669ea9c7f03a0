// The error map file: written right after allocation, whether it succeeded
// or not, so a failed link leaves the allocation tables as far as they got.
#include "Linker.h"

#include "Banner.h"
#include "MapFile.h"
#include "Messages.h"
#include "SafeFile.h"

#include <sstream>

namespace {

void writeAllocationTables(std::ostream &out, const char *title,
                           const std::list<Memory> &memories) {
  out << title << '\n';
  bool first = true;
  for (const Memory &memory : memories) {
    memory.printAllocation(out, first ? 1 : 0);
    first = false;
  }
  out << '\n';
}

} // namespace

std::string Linker::errorMapText(const std::string &timeText) const {
  std::ostringstream out;
  out << linkerBanner() << "\nLinker Error Map File - Created " << timeText;
  out << "\n*Warning* - This is only a partial map file due to a link time "
         "error.\n"
      << "   Only sections which were allocated prior to the error are shown "
         "below.\n\n";
  writeAllocationTables(out, "CODEPAGES:", cCodePage);
  writeAllocationTables(out, "SHAREBANKS:", cShareBanks);
  writeAllocationTables(out, "DATABANKS:", cDataBanks);
  writeAllocationTables(out, "ACCESSBANKS:", cAccessBanks);
  return out.str();
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
  file.write(errorMapText(mapFileTime()));
  if (!file.commit()) {
    report(MessageKind::Error, "Linker::writeErrorMapFile()",
           "Could not write map file '" + cMapFile + "'.", 0);
    return 0;
  }
  return 1;
}
