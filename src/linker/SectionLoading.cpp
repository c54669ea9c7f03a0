// Section loading: every input's piece of every section gets its place
// inside the section's range. Nothing is copied; the load addresses fix
// where symbols, line numbers and patches of each input land.
#include "Linker.h"

#include "Assert.h"
#include "ParallelWork.h"

#include <algorithm>

namespace {
const char *const kModule = "linker";
} // namespace

int Linker::loadPiece(InputIndex input, const std::string &secName,
                      const scnhdr &hdr, Memory &memory, std::string &error) {
  const auto absolute = cScnAbs.find(secName);
  return loadPiece(input, secName, hdr, memory,
                   absolute != cScnAbs.end() && absolute->second, error);
}

int Linker::loadPiece(InputIndex input, const std::string &secName,
                      const scnhdr &hdr, Memory &memory, bool isAbsolute,
                      std::string &error) {
  return loadPiece(input, secName, hdr, memory, memory.sectionRange(secName),
                   isAbsolute, error);
}

int Linker::loadPiece(InputIndex input, const std::string &secName,
                      const scnhdr &hdr, Memory &memory, const Range &range,
                      bool isAbsolute, std::string &error) {
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
    return memory.loadAbsolute(input, range, hdr.s_paddr, hdr.s_size);
  return memory.load(input, range, hdr.s_size);
}

const Linker::PieceLoad *Linker::pieceLoads(InputIndex input) const {
  if (cFirstPiece.size() != cCoff.size() + 1 ||
      cFirstPiece.back() != cPieceLoad.size() ||
      cFirstPiece[input + 1] - cFirstPiece[input] !=
          cCoff[input]->cScnNum.size())
    return nullptr;
  return cPieceLoad.data() + cFirstPiece[input];
}

int Linker::loadSections(std::string &error) {
  cPieceLoad.clear();
  cFirstPiece.clear();
  // A section's pieces go in input order, but each section fills only its
  // own range: the sections are loaded in parallel, each with its pieces in
  // order. Building the place index readies every memory's name index, so
  // the memories are only read while their ranges fill.
  const std::shared_ptr<const PlaceIndex> held = placeIndex();
  const PlaceIndex &places = *held;
  struct Piece {
    std::size_t order; // in the walk over inputs and their sections
    InputIndex input;
    const std::string *name;
    const scnhdr *hdr;
  };
  struct Section {
    Memory *memory = nullptr;
    const Range *range = nullptr; // null when not allocated
    bool isAbsolute = false;
    std::uint8_t type = 0;
  };
  // One per placed section, in name order (cScnAbs and cScnType alongside),
  // filled in runs of neighbouring names on all threads.
  std::vector<const std::pair<const std::string, Memory *> *> entries;
  entries.reserve(cScnMem.size());
  for (const auto &entry : cScnMem)
    entries.push_back(&entry);
  std::vector<Section> sections(entries.size());
  std::vector<std::size_t> hashes(entries.size());
  constexpr std::size_t kRuns = 32;
  auto runFirst = [&](std::size_t run) { return entries.size() * run / kRuns; };
  forEachLargeInParallel(kRuns, [&](std::size_t run) {
    const std::size_t first = runFirst(run);
    const std::size_t last = runFirst(run + 1);
    if (first == last)
      return;
    auto absolute = cScnAbs.lower_bound(entries[first]->first);
    auto typed = cScnType.lower_bound(entries[first]->first);
    for (std::size_t at = first; at < last; ++at) {
      const std::string &name = entries[at]->first;
      // The maps usually hold the same names: the next entry is this one.
      if (absolute != cScnAbs.cend() && !(absolute->first == name))
        while (absolute != cScnAbs.cend() && absolute->first < name)
          ++absolute;
      if (typed != cScnType.cend() && !(typed->first == name))
        while (typed != cScnType.cend() && typed->first < name)
          ++typed;
      Section &section = sections[at];
      section.memory = entries[at]->second;
      if (absolute != cScnAbs.cend() && absolute->first == name) {
        section.isAbsolute = absolute->second != 0;
        ++absolute;
      }
      if (typed != cScnType.cend() && typed->first == name) {
        section.type = typed->second;
        ++typed;
      }
      hashes[at] = PlaceIndex::hashOf(name);
      if (const Place *place = places.find(name, hashes[at]))
        section.range = place->range;
    }
  });
  FlatNameIndex<std::size_t> sectionOf(entries.size());
  for (std::size_t at = 0; at < entries.size(); ++at)
    sectionOf.add(entries[at]->first, hashes[at], at);
  // Each input's pieces found on all threads into its stretch of one list,
  // in the walk's order, then dealt to their sections in that order.
  struct Found {
    std::size_t section;
    const std::string *name;
    const scnhdr *hdr;
  };
  std::vector<std::size_t> first(cCoff.size() + 1, 0);
  for (InputIndex input = 0; input < cCoff.size(); ++input)
    first[input + 1] = first[input] + cCoff[input]->cScnNum.size();
  std::vector<Found> found(first.back());
  std::vector<char> complete(cCoff.size(), 1);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    const Coff &coff = *cCoff[input];
    Found *to = found.data() + first[input];
    for (const auto &number : coff.cScnNum) {
      const auto hdr = coff.cScnHdr.find(number.second);
      const std::size_t *section = sectionOf.find(number.second);
      if (hdr == coff.cScnHdr.end() || section == nullptr) {
        complete[input] = 0;
        return;
      }
      *to++ = {*section, &number.second, &hdr->second};
    }
  });
  // Merging and allocation gave every input section a header and a place.
  for (InputIndex input = 0; input < cCoff.size(); ++input)
    ORV_ASSERT(complete[input], kModule);
  // The pieces of all sections in one list, section after section, each
  // section's in the walk's order.
  std::vector<std::size_t> sectionFirst(sections.size() + 1, 0);
  for (const Found &piece : found)
    ++sectionFirst[piece.section + 1];
  for (std::size_t at = 0; at < sections.size(); ++at)
    sectionFirst[at + 1] += sectionFirst[at];
  std::vector<Piece> pieces(found.size());
  {
    std::vector<std::size_t> next(sectionFirst.begin(), sectionFirst.end() - 1);
    InputIndex input = 0;
    for (std::size_t order = 0; order < found.size(); ++order) {
      while (first[input + 1] <= order)
        ++input;
      const Found &piece = found[order];
      pieces[next[piece.section]++] = {order, input, piece.name, piece.hdr};
    }
  }
  std::vector<PieceLoad> loads(found.size());
  // Each section stops at its first piece that does not fit; the earliest
  // of those in the walk is the one a walk in order would have met first.
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> failedAt(sections.size(), kNone);
  std::vector<std::string> texts(sections.size());
  auto loadSection = [&](std::size_t sectionAt) {
    const Section &section = sections[sectionAt];
    const Piece *begin = pieces.data() + sectionFirst[sectionAt];
    const Piece *end = pieces.data() + sectionFirst[sectionAt + 1];
    if (begin == end)
      return;
    ORV_ASSERT(section.memory != nullptr, kModule);
    const Range &range = section.range != nullptr
                             ? *section.range
                             : section.memory->sectionRange(*begin->name);
    section.memory->reserveLoads(range, static_cast<std::size_t>(end - begin));
    for (const Piece *at = begin; at != end; ++at) {
      const Piece &piece = *at;
      if (!loadPiece(piece.input, *piece.name, *piece.hdr, *section.memory,
                     range, section.isAbsolute, texts[sectionAt])) {
        failedAt[sectionAt] = piece.order;
        return;
      }
      // Unsigned arithmetic: a piece may load below its declared address.
      const std::uint32_t loadStart = range.getLoadStart(piece.input);
      loads[piece.order] =
          PieceLoad{loadStart, loadStart - piece.hdr->s_paddr, section.type};
    }
  };
  // The threads take runs of neighbouring sections, and the sections
  // shared by many inputs sort together: each run of work is made of
  // whole sections of about kUnitPieces pieces, a large section alone.
  constexpr std::size_t kUnitPieces = 256;
  std::vector<std::size_t> unitStart;
  std::size_t unitPieces = kUnitPieces;
  for (std::size_t at = 0; at < sections.size(); ++at) {
    const std::size_t count = sectionFirst[at + 1] - sectionFirst[at];
    if (unitPieces >= kUnitPieces || count >= kUnitPieces) {
      unitStart.push_back(at);
      unitPieces = 0;
    }
    unitPieces += count;
  }
  unitStart.push_back(sections.size());
  forEachLargeInParallel(unitStart.size() - 1, [&](std::size_t unit) {
    for (std::size_t at = unitStart[unit]; at < unitStart[unit + 1]; ++at)
      loadSection(at);
  });
  const auto failed = std::min_element(failedAt.begin(), failedAt.end());
  if (failed != failedAt.end() && *failed != kNone) {
    error = texts[static_cast<std::size_t>(failed - failedAt.begin())];
    return 0;
  }
  cPieceLoad = std::move(loads);
  cFirstPiece = std::move(first);
  return 1;
}
