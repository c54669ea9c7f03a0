// The link run: the phases in their fixed order. The first phase that
// fails ends the run; nothing is written before every phase succeeded,
// except the error map file right after allocation.
#include "Linker.h"

#include <filesystem>
#include <system_error>

namespace {

// Whether two names reach one file: the same text, or the same path once
// made absolute and resolved as far as it exists.
bool sameFile(const std::string &a, const std::string &b) {
  if (a == b)
    return true;
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path pa = fs::weakly_canonical(fs::absolute(a, ec), ec);
  if (ec)
    return false;
  const fs::path pb = fs::weakly_canonical(fs::absolute(b, ec), ec);
  if (ec)
    return false;
  return pa.lexically_normal() == pb.lexically_normal();
}

} // namespace

int Linker::link(std::string &error) {
  if (cOutputFile.empty())
    cOutputFile = "a.out";
  // The map file would replace the output it describes.
  if (!cMapFile.empty() && sameFile(cMapFile, cOutputFile)) {
    error = "Map file and output file must differ: '" + cMapFile + "'.";
    return 0;
  }

  if (!loadObjectFiles(error) || !loadLibraryFiles(error) ||
      !importLibraryMembers(error))
    return 0;

  if (!checkProcessor(error) || !mergeSections(error) ||
      !checkSectionAttributes(error))
    return 0;

  const int mapped = mapSections(error);
  writeErrorMapFile();
  if (!mapped)
    return 0;
  // Sections and ranges stay as allocated until the holes are filled.
  struct HeldPlaces {
    std::shared_ptr<const PlaceIndex> &held;
    ~HeldPlaces() { held.reset(); }
  } heldPlaces{cHeldPlaces};
  cHeldPlaces = std::make_shared<const PlaceIndex>(buildPlaceIndex());

  if (!loadSections(error) || !buildInitTable(error))
    return 0;

  if (!relocateSymbols(error) || !relocateLineInfo(error))
    return 0;
  // Its result does not stop the run.
  mergeStringTbls(error);
  if (!buildExtSymDef(error) || !resolveExternals(error))
    return 0;

  if (!verifyRelocations(error) || !patchSections(error))
    return 0;

  if (!buildOutputScnNum(error) || !buildOutputSymbolTbl(error) ||
      !buildOutputRawData(error) || !buildOutputLineInfo(error) ||
      !addInitSectionNames(error) || !buildOutputScnHdrs(error) ||
      !buildOutputFileHdr(error))
    return 0;
  cHeldPlaces.reset();
  // Fails only for a hole too large to be a section.
  if (!buildOutputHoles(error))
    return 0;

  if (!writeOutputFile(error))
    return 0;
  if (!cMapFile.empty() && !writeMapFile(error))
    return 0;
  return 1;
}

int Linker::writeOutputFile(std::string &error) {
  cOutput.preWrite();
  // The checker reports each problem itself.
  if (!cOutput.verify()) {
    error = "Internal Coff output file is corrupt.";
    return 0;
  }
  // A failed write is reported by the writer.
  return cOutput.write() ? 1 : 0;
}

std::uint32_t Linker::programMemorySize() const {
  std::uint32_t locations = 0;
  for (const Memory &page : cCodePage)
    locations += page.size();
  return locations;
}
