// Section loading: every input's piece of every section gets its place
// inside the section's range. Nothing is copied; the load addresses fix
// where symbols, line numbers and patches of each input land.
#include "Linker.h"

#include "Assert.h"

namespace {
const char *const kModule = "linker";
} // namespace

int Linker::loadPiece(InputIndex input, const std::string &secName,
                      const scnhdr &hdr, Memory &memory, std::string &error) {
  const Range &range = memory.sectionRange(secName);
  const auto absolute = cScnAbs.find(secName);
  const bool isAbsolute = absolute != cScnAbs.end() && absolute->second;

  // The merged sizes make every piece fit; should they ever not, refuse
  // the link instead of stopping in the memory model.
  bool fits = true;
  if (isAbsolute)
    fits =
        !range.loadComplete() && hdr.s_paddr == range.getStart() &&
        (range.getIsOverlay() || range.locs(hdr.s_size) == range.sizeInLocs());
  else if (hdr.s_size > 0)
    fits =
        !range.loadComplete() &&
        static_cast<std::uint64_t>(range.getPc()) + range.locs(hdr.s_size) <=
            static_cast<std::uint64_t>(range.getStart()) + range.sizeInLocs();
  if (!fits) {
    error = "section '" + secName + "' of file '" + cCoff[input]->cFileName +
            "' does not fit the space allocated for it.";
    return 0;
  }
  if (isAbsolute)
    return memory.loadAbsolute(input, secName, hdr.s_paddr, hdr.s_size);
  return memory.load(input, secName, hdr.s_size);
}

int Linker::loadSections(std::string &error) {
  const MemoryIndex memories(cScnMem);
  for (InputIndex input = 0; input < cCoff.size(); ++input) {
    const Coff &coff = *cCoff[input];
    for (const auto &number : coff.cScnNum) {
      const auto hdr = coff.cScnHdr.find(number.second);
      ORV_ASSERT(hdr != coff.cScnHdr.end(), kModule);
      Memory *const *held = memories.find(number.second);
      ORV_ASSERT(held != nullptr, kModule);
      if (!loadPiece(input, number.second, hdr->second, **held, error))
        return 0;
    }
  }
  return 1;
}
