// The link run: the phases in their fixed order. The first phase that
// fails ends the run; nothing is written before every phase succeeded,
// except the error map file right after allocation.
#include "Linker.h"

#include "MapFile.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "Trace.h"

#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <system_error>
#include <thread>

namespace {

// Work done on a thread of its own while the link goes on, with nothing
// said: finish() tells whether it ran through without a word to say. Work
// that had something to say is then done again in its turn, where it says
// it as it would have.
class SilentWorkAhead {
public:
  explicit SilentWorkAhead(std::function<int()> work) {
    if (!threadsFitAddressSpace())
      return; // done in its turn
    try {
      cThread = std::thread([this, work] {
        SilentAttempt silent;
        try {
          cResult = work();
          cSpoke = false;
        } catch (const MessageWhileSilent &) {
        }
      });
    } catch (const std::system_error &) {
      // No thread to be had: the work is done in its turn.
    }
  }
  SilentWorkAhead(const SilentWorkAhead &) = delete;
  SilentWorkAhead &operator=(const SilentWorkAhead &) = delete;
  ~SilentWorkAhead() { finish(); }

  // Waits for the work; false when it did not run or had something to say.
  bool finish() {
    if (cThread.joinable())
      cThread.join();
    return !cSpoke;
  }
  int result() const { return cResult; }

private:
  std::thread cThread;
  int cResult = 0;
  bool cSpoke = true; // until the work ran through
};

// The map file made while the output is written: it describes the output
// as laid out, and replaces its file only once the output is written.
class MapFileAhead {
public:
  MapFileAhead(const std::string &name, const Coff &output,
               std::uint32_t programAddressCount) {
    // A traced map prints as it goes, in its turn.
    if (name.empty() || traceLevel("MapFile::write") != 0)
      return;
    cWork = std::make_unique<SilentWorkAhead>(
        [this, &name, &output, programAddressCount] {
          return MapFile::write(name, output, programAddressCount,
                                [this] { return cDecision.get(); });
        });
  }
  MapFileAhead(const MapFileAhead &) = delete;
  MapFileAhead &operator=(const MapFileAhead &) = delete;
  ~MapFileAhead() { finish(false); }

  // Lets the map replace its file or not; true when it did.
  bool finish(bool keep) {
    if (!cWork)
      return false;
    cKeep.set_value(keep);
    const bool ranThrough = cWork->finish();
    const bool kept = keep && ranThrough && cWork->result() == 1;
    cWork.reset();
    return kept;
  }

private:
  std::promise<bool> cKeep;
  std::future<bool> cDecision = cKeep.get_future();
  std::unique_ptr<SilentWorkAhead> cWork;
};

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
  if (!checkOutputsSpareInputs(error))
    return 0;

  if (!loadObjectFiles(error) || !loadLibraryFiles(error) ||
      !importLibraryMembers(error))
    return 0;

  if (!checkProcessor(error) || !mergeSections(error) ||
      !checkSectionAttributes(error))
    return 0;

  const int mapped = mapSections(error);
  if (!mapped) {
    writeErrorMapFile();
    return 0;
  }
  // Sections and ranges stay as allocated until the holes are filled.
  struct HeldPlaces {
    std::shared_ptr<const PlaceIndex> &held;
    ~HeldPlaces() { held.reset(); }
  } heldPlaces{cHeldPlaces};
  cHeldPlaces = std::make_shared<const PlaceIndex>(buildPlaceIndex());
  // The output phases number the section names once between them.
  struct HeldSectionIds {
    Linker &linker;
    ~HeldSectionIds() {
      linker.cHoldSectionIds = false;
      linker.cHeldSectionIds.reset();
    }
  } heldSectionIds{*this};
  cHoldSectionIds = true;

  // The error map shows the allocation, which loading leaves as it is, and
  // loading says nothing itself: the map is written meanwhile.
  {
    SilentWorkAhead errorMap([this] { return writeErrorMapFile(); });
    const int loaded = loadSections(error);
    if (!errorMap.finish())
      writeErrorMapFile();
    if (!loaded)
      return 0;
  }
  if (!buildInitTable(error))
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
  cMapWritten = false;
  cOutput.preWrite();
  // Made while the output is checked and written; it is dropped unless the
  // output is written.
  MapFileAhead map(cMapFile, cOutput, programMemorySize());
  // The checker reports each problem itself.
  if (!cOutput.verify()) {
    error = "Internal Coff output file is corrupt.";
    return 0;
  }
  // A failed write is reported by the writer.
  const int written = cOutput.write() ? 1 : 0;
  cMapWritten = map.finish(written == 1);
  return written;
}

std::uint32_t Linker::programMemorySize() const {
  std::uint32_t locations = 0;
  for (const Memory &page : cCodePage)
    locations += page.size();
  return locations;
}
