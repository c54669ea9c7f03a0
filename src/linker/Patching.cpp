// Relocation patching: every relocation of every input section gets its
// field written with the rules of the link's processor family. The inputs'
// own bytes change in place; output building copies them afterwards.
#include "Linker.h"

#include "Assert.h"
#include "ParallelWork.h"
#include "PatchBits.h"
#include "RelocTypes.h"

namespace {

std::string placeText(const Coff &coff, const std::string &scnName) {
  return "file '" + coff.cFileName + "', section '" + scnName + "', ";
}

// Crafted objects can name a symbol past the table or a word past the
// section's bytes; both are refused before anything is read or written.
int checkRelocation(const Data &raw, const reloc &rel,
                    const std::vector<syment> &symbols, std::string &error) {
  if (rel.r_symndx >= symbols.size()) {
    error = "relocation with an invalid symbol index.";
    return 0;
  }
  if (!wordsFit(raw, rel.r_vaddr, 1)) {
    error = kOutsideSectionText;
    return 0;
  }
  return 1;
}

} // namespace

int Linker::verifyRelocations(std::string &error) {
  if (cFamily != Vesk)
    return 1;
  // A call on this family reaches only the lower half of a page.
  const std::uint32_t page = pageSize(cProcessor);
  const std::uint32_t half = page / 2;
  for (const auto &coff : cCoff) {
    for (const auto &scn : coff->cScnNum) {
      const auto relocs = coff->cReloc.find(scn.second);
      if (relocs == coff->cReloc.end())
        continue;
      for (const reloc &rel : relocs->second) {
        if (rel.r_type != RELOCT_CALL)
          continue;
        if (rel.r_symndx >= coff->cSymbolTbl.size()) {
          error = placeText(*coff, scn.second) +
                  "relocation with an invalid symbol index.";
          return 0;
        }
        const syment &sym = coff->cSymbolTbl[rel.r_symndx];
        if (relocValue(sym.n_value, rel.r_offset) % page < half)
          continue;
        error = placeText(*coff, scn.second) +
                "performs a call to \n symbol '" +
                Coff::getName(sym, coff->cStringTbl) +
                "' which is not in the lower half of a page.";
        return 0;
      }
    }
  }
  return 1;
}

int Linker::patchSections(std::string &error) {
  const std::shared_ptr<const PlaceIndex> held = placeIndex();
  const PlaceIndex &places = *held;
  auto patchInput = [&](InputIndex input, std::string &failure) {
    Coff &coff = *cCoff[input];
    const PieceLoad *loads = pieceLoads(input);
    for (const auto &scn : coff.cScnNum) {
      const PieceLoad *load = loads != nullptr ? loads++ : nullptr;
      const std::string &scnName = scn.second;
      const auto relocs = coff.cReloc.find(scnName);
      if (relocs == coff.cReloc.end() || relocs->second.empty())
        continue;
      // A section without contents (udata) still gets its relocations
      // checked, against no bytes at all.
      Data noData;
      const auto rawIt = coff.cRawData.find(scnName);
      Data &raw = rawIt != coff.cRawData.end() ? rawIt->second : noData;
      // Where this input's piece lies is the same for all its relocations:
      // looked up once, after the first relocation passed its check.
      bool haveLoadStart = false;
      std::uint32_t loadStart = 0;
      for (const reloc &rel : relocs->second) {
        std::string text;
        if (!checkRelocation(raw, rel, coff.cSymbolTbl, text)) {
          failure = placeText(coff, scnName) + text;
          return false;
        }
        if (!haveLoadStart) {
          loadStart = load != nullptr ? load->loadStart
                                      : loadStartOf(places, input, scnName);
          haveLoadStart = true;
        }
        if (!doPatch(loadStart, raw, rel, coff.cSymbolTbl, coff.cStringTbl,
                     text)) {
          failure = placeText(coff, scnName) + text;
          return false;
        }
      }
    }
    return true;
  };
  // Traced patching prints as it goes, so it keeps to input order.
  if (anyPatcherTraced()) {
    for (InputIndex input = 0; input < cCoff.size(); ++input)
      if (!patchInput(input, error))
        return 0;
    return 1;
  }
  // Each input's bytes are its own, so the inputs are patched in parallel.
  // Patching an input again writes the same bits, and no check looks at
  // the bytes already there.
  return firstFailureInOrder(cCoff.size(), patchInput, error);
}

int Linker::doPatch(std::uint32_t loadStart, Data &raw, const reloc &rel,
                    const std::vector<syment> &symbols,
                    const std::map<int, std::string> &strings,
                    std::string &error) {
  if (!checkRelocation(raw, rel, symbols, error))
    return 0;
  switch (cFamily) {
  case Quolm:
    return doPatchQuolm(loadStart, raw, rel, symbols, strings, error);
  case Brask:
    return doPatchBrask(raw, rel, symbols, error);
  case Vesk:
    return doPatchVesk(raw, rel, symbols, error);
  case Trell:
    return doPatchTrell(raw, rel, symbols, error);
  default:
    return 0;
  }
}
