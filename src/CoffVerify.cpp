// Consistency checks of a Coff: every index and long name must point at
// something that exists. Every failure is reported; none stops the others.
#include "Coff.h"

#include "Messages.h"

#include <algorithm>
#include <sstream>
#include <vector>

namespace {

class Verifier {
public:
  explicit Verifier(const Coff &coff)
      : cCoff(coff),
        cLastIndex(static_cast<std::int64_t>(coff.cSymbolTbl.size()) - 1) {}

  int run() {
    checkSymbolSections();
    checkSymbolNames();
    checkSectionNames();
    checkRelocations();
    checkAuxIndexes();
    checkLineNumbers();
    checkSectionCounts();
    return cResult;
  }

private:
  std::ostringstream &start() {
    cText << "Coff file '" << cCoff.cFileName << "'";
    return cText;
  }

  void fail() {
    reportStream(MessageKind::Error, "Coff::verify()", cText, 0);
    cResult = 0;
  }

  // Compared as unsigned against the last index: with an empty table that
  // is all ones, so no index is reported (the empty table is, once).
  bool invalidIndex(std::uint32_t index) const {
    return index > static_cast<std::uint32_t>(cLastIndex);
  }

  int kindOf(std::size_t i) const {
    return i < cCoff.cAuxType.size() ? cCoff.cAuxType[i] : kAuxNone;
  }

  void checkSymbolSections();
  void checkSymbolNames();
  void checkSectionNames();
  void checkRelocations();
  void checkAuxIndexes();
  void checkLineNumbers();
  void checkSectionCounts();

  const Coff &cCoff;
  std::int64_t cLastIndex;
  std::ostringstream cText;
  int cResult = 1;
};

// The keys of a map in ascending order: a large table is searched many
// times, and a flat array is far kinder to the cache than the tree.
template <class Map> std::vector<int> sortedKeys(const Map &map) {
  std::vector<int> keys;
  keys.reserve(map.size());
  for (const auto &entry : map)
    keys.push_back(entry.first);
  return keys;
}

bool holds(const std::vector<int> &keys, int key) {
  return std::binary_search(keys.begin(), keys.end(), key);
}

void Verifier::checkSymbolSections() {
  const std::vector<int> numbers = sortedKeys(cCoff.cScnNum);
  for (std::size_t i = 0; i < cCoff.cSymbolTbl.size(); ++i) {
    std::int16_t number = cCoff.cSymbolTbl[i].n_scnum;
    if (kindOf(i) != kAuxNone || number == kScnNumUndefined ||
        number == kScnNumAbsolute || number == kScnNumDebug)
      continue;
    if (!holds(numbers, number)) {
      start() << " symbol[" << i << "] has an invalid n_scnum.";
      fail();
    }
  }
}

void Verifier::checkSymbolNames() {
  const std::vector<int> offsets = sortedKeys(cCoff.cStringTbl);
  for (std::size_t i = 0; i < cCoff.cSymbolTbl.size(); ++i) {
    const syment &sym = cCoff.cSymbolTbl[i];
    if (kindOf(i) != kAuxNone || !sym.hasLongName())
      continue;
    std::uint32_t offset = sym.nameOffset();
    if (offset > 0x7FFFFFFFu || !holds(offsets, static_cast<int>(offset))) {
      start() << " symbol[" << i << "] has an invalid n_offset.";
      fail();
    }
  }
}

void Verifier::checkSectionNames() {
  std::size_t i = 0;
  for (const auto &entry : cCoff.cScnHdr) {
    const scnhdr &hdr = entry.second;
    // Sections are merged and placed by name; a nameless one has no place.
    if (entry.first.empty()) {
      start() << " section[" << i << "] has no name.";
      fail();
    }
    if (hdr.hasLongName()) {
      std::uint32_t offset = hdr.nameOffset();
      if (offset > 0x7FFFFFFFu ||
          cCoff.cStringTbl.count(static_cast<int>(offset)) == 0) {
        start() << " section[" << i << "] has an invalid s_offset.";
        fail();
      }
    }
    ++i;
  }
}

void Verifier::checkRelocations() {
  for (const auto &entry : cCoff.cReloc) {
    if (entry.second.empty())
      continue;
    if (cCoff.cSymbolTbl.empty()) {
      start() << " has relocation entries but an empty symbol table.";
      fail();
    }
    for (std::size_t j = 0; j < entry.second.size(); ++j) {
      if (!invalidIndex(entry.second[j].r_symndx))
        continue;
      start() << ", section '" << entry.first << "' reloc[" << j
              << "] has an invalid r_symndx.";
      fail();
    }
  }
}

// Reported under the auxiliary entry's own index.
void Verifier::checkAuxIndexes() {
  for (std::size_t i = 0; i < cCoff.cSymbolTbl.size(); ++i) {
    const syment &entry = cCoff.cSymbolTbl[i];
    bool bad = false;
    switch (kindOf(i)) {
    case kAuxTag:
      bad = invalidIndex(readAux<aux_tag>(entry).x_endndx);
      break;
    case kAuxEos:
      bad = invalidIndex(readAux<aux_eos>(entry).x_tagndx);
      break;
    case kAuxFcn: {
      aux_fcn fcn = readAux<aux_fcn>(entry);
      bad = invalidIndex(fcn.x_tagndx) || invalidIndex(fcn.x_endndx);
      break;
    }
    case kAuxArr:
      bad = invalidIndex(readAux<aux_arr>(entry).x_tagndx);
      break;
    case kAuxBobf:
      bad = invalidIndex(readAux<aux_bobf>(entry).x_endndx);
      break;
    case kAuxVar:
      bad = invalidIndex(readAux<aux_var>(entry).x_tagndx);
      break;
    default:
      break;
    }
    if (bad) {
      start() << " symbol[" << i << "] has an invalid x_tagndx or x_endndx.";
      fail();
    }
  }
}

void Verifier::checkLineNumbers() {
  for (const auto &entry : cCoff.cLineNum) {
    for (std::size_t j = 0; j < entry.second.size(); ++j) {
      const coff_lineno &line = entry.second[j];
      if (invalidIndex(line.l_srcndx)) {
        start() << ", section '" << entry.first << "' line[" << j
                << "] has an invalid l_srcndx.";
        fail();
      }
      if (invalidIndex(line.l_fcnndx)) {
        start() << ", section '" << entry.first << "' line[" << j
                << "] has an invalid l_fcnndx.";
        fail();
      }
    }
  }
}

void Verifier::checkSectionCounts() {
  if (cCoff.cScnHdr.size() != cCoff.cScnNum.size()) {
    start() << ", cScnHdr.size() != cScnNum.size() . ";
    fail();
  }
}

} // namespace

int Coff::verify() const { return Verifier(*this).run(); }
