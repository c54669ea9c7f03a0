// Consistency checks of a Coff: every index and long name must point at
// something that exists. Every failure is reported; none stops the others.
#include "Coff.h"

#include "IntKeySet.h"
#include "Messages.h"
#include "ParallelWork.h"

#include <algorithm>
#include <sstream>
#include <vector>

namespace {

class Verifier {
public:
  explicit Verifier(const Coff &coff)
      : cCoff(coff),
        cLastIndex(static_cast<std::int64_t>(coff.cSymbolTbl.size()) - 1),
        cSections(coff.cScnNum), cStrings(coff.cStringTbl) {}

  // Reports every failure in the order of the checks.
  int run() {
    // A large sound object, the usual linked output, is cleared on all
    // threads; only one with a failure is walked again in order, to report.
    if (cCoff.cSymbolTbl.size() >= kLargeTable && allSound())
      return 1;
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
  // A message's text is made only when there is one to report.
  void fail(std::ostringstream &text) {
    reportStream(MessageKind::Error, "Coff::verify()", text, 0);
    cResult = 0;
  }

  void start(std::ostringstream &text) const {
    text << "Coff file '" << cCoff.cFileName << "'";
  }

  // Compared as unsigned against the last index: with an empty table that
  // is all ones, so no index is reported (the empty table is, once).
  bool invalidIndex(std::uint32_t index) const {
    return index > static_cast<std::uint32_t>(cLastIndex);
  }

  int kindOf(std::size_t i) const {
    return i < cCoff.cAuxType.size() ? cCoff.cAuxType[i] : kAuxNone;
  }

  bool badSymbolSection(std::size_t i) const;
  bool badSymbolName(std::size_t i) const;
  bool badAuxIndex(std::size_t i) const;
  bool badSectionName(const scnhdr &hdr) const;
  bool badLine(const coff_lineno &line) const {
    return invalidIndex(line.l_srcndx) || invalidIndex(line.l_fcnndx);
  }

  // Below this many symbols the checks are not worth the threads.
  static constexpr std::size_t kLargeTable = 16384;
  bool allSound() const;
  void checkSymbolSections();
  void checkSymbolNames();
  void checkSectionNames();
  void checkRelocations();
  void checkAuxIndexes();
  void checkLineNumbers();
  void checkSectionCounts();

  const Coff &cCoff;
  std::int64_t cLastIndex;
  IntKeySet cSections; // the section numbers
  IntKeySet cStrings;  // the string table's offsets
  int cResult = 1;
};

bool Verifier::badSymbolSection(std::size_t i) const {
  const std::int16_t number = cCoff.cSymbolTbl[i].n_scnum;
  if (kindOf(i) != kAuxNone || number == kScnNumUndefined ||
      number == kScnNumAbsolute || number == kScnNumDebug)
    return false;
  return !cSections.holds(number);
}

bool Verifier::badSymbolName(std::size_t i) const {
  const syment &sym = cCoff.cSymbolTbl[i];
  if (kindOf(i) != kAuxNone || !sym.hasLongName())
    return false;
  const std::uint32_t offset = sym.nameOffset();
  return offset > 0x7FFFFFFFu || !cStrings.holds(static_cast<int>(offset));
}

bool Verifier::badAuxIndex(std::size_t i) const {
  const syment &entry = cCoff.cSymbolTbl[i];
  switch (kindOf(i)) {
  case kAuxTag:
    return invalidIndex(readAux<aux_tag>(entry).x_endndx);
  case kAuxEos:
    return invalidIndex(readAux<aux_eos>(entry).x_tagndx);
  case kAuxFcn: {
    const aux_fcn fcn = readAux<aux_fcn>(entry);
    return invalidIndex(fcn.x_tagndx) || invalidIndex(fcn.x_endndx);
  }
  case kAuxArr:
    return invalidIndex(readAux<aux_arr>(entry).x_tagndx);
  case kAuxBobf:
    return invalidIndex(readAux<aux_bobf>(entry).x_endndx);
  case kAuxVar:
    return invalidIndex(readAux<aux_var>(entry).x_tagndx);
  default:
    return false;
  }
}

bool Verifier::badSectionName(const scnhdr &hdr) const {
  if (!hdr.hasLongName())
    return false;
  const std::uint32_t offset = hdr.nameOffset();
  return offset > 0x7FFFFFFFu || !cStrings.holds(static_cast<int>(offset));
}

// True when no check below has anything to report.
bool Verifier::allSound() const {
  constexpr std::size_t slices = 32;
  const std::size_t count = cCoff.cSymbolTbl.size();
  std::vector<char> bad(slices, 0);
  forEachLargeInParallel(slices, [&](std::size_t slice) {
    const std::size_t last = count * (slice + 1) / slices;
    for (std::size_t i = count * slice / slices; i < last; ++i)
      if (badSymbolSection(i) || badSymbolName(i) || badAuxIndex(i)) {
        bad[slice] = 1;
        return;
      }
  });
  if (std::find(bad.begin(), bad.end(), 1) != bad.end())
    return false;
  for (const auto &entry : cCoff.cScnHdr)
    if (entry.first.empty() || badSectionName(entry.second))
      return false;
  for (const auto &entry : cCoff.cReloc) {
    if (!entry.second.empty() && cCoff.cSymbolTbl.empty())
      return false;
    for (const reloc &rel : entry.second)
      if (invalidIndex(rel.r_symndx))
        return false;
  }
  for (const auto &entry : cCoff.cLineNum)
    for (const coff_lineno &line : entry.second)
      if (badLine(line))
        return false;
  return cCoff.cScnHdr.size() == cCoff.cScnNum.size();
}

void Verifier::checkSymbolSections() {
  for (std::size_t i = 0; i < cCoff.cSymbolTbl.size(); ++i)
    if (badSymbolSection(i)) {
      std::ostringstream text;
      start(text);
      text << " symbol[" << i << "] has an invalid n_scnum.";
      fail(text);
    }
}

void Verifier::checkSymbolNames() {
  for (std::size_t i = 0; i < cCoff.cSymbolTbl.size(); ++i)
    if (badSymbolName(i)) {
      std::ostringstream text;
      start(text);
      text << " symbol[" << i << "] has an invalid n_offset.";
      fail(text);
    }
}

void Verifier::checkSectionNames() {
  std::size_t i = 0;
  for (const auto &entry : cCoff.cScnHdr) {
    // Sections are merged and placed by name; a nameless one has no place.
    if (entry.first.empty()) {
      std::ostringstream text;
      start(text);
      text << " section[" << i << "] has no name.";
      fail(text);
    }
    if (badSectionName(entry.second)) {
      std::ostringstream text;
      start(text);
      text << " section[" << i << "] has an invalid s_offset.";
      fail(text);
    }
    ++i;
  }
}

void Verifier::checkRelocations() {
  for (const auto &entry : cCoff.cReloc) {
    if (entry.second.empty())
      continue;
    if (cCoff.cSymbolTbl.empty()) {
      std::ostringstream text;
      start(text);
      text << " has relocation entries but an empty symbol table.";
      fail(text);
    }
    for (std::size_t j = 0; j < entry.second.size(); ++j) {
      if (!invalidIndex(entry.second[j].r_symndx))
        continue;
      std::ostringstream text;
      start(text);
      text << ", section '" << entry.first << "' reloc[" << j
           << "] has an invalid r_symndx.";
      fail(text);
    }
  }
}

// Reported under the auxiliary entry's own index.
void Verifier::checkAuxIndexes() {
  for (std::size_t i = 0; i < cCoff.cSymbolTbl.size(); ++i)
    if (badAuxIndex(i)) {
      std::ostringstream text;
      start(text);
      text << " symbol[" << i << "] has an invalid x_tagndx or x_endndx.";
      fail(text);
    }
}

void Verifier::checkLineNumbers() {
  for (const auto &entry : cCoff.cLineNum) {
    for (std::size_t j = 0; j < entry.second.size(); ++j) {
      const coff_lineno &line = entry.second[j];
      if (!badLine(line))
        continue;
      if (invalidIndex(line.l_srcndx)) {
        std::ostringstream text;
        start(text);
        text << ", section '" << entry.first << "' line[" << j
             << "] has an invalid l_srcndx.";
        fail(text);
      }
      if (invalidIndex(line.l_fcnndx)) {
        std::ostringstream text;
        start(text);
        text << ", section '" << entry.first << "' line[" << j
             << "] has an invalid l_fcnndx.";
        fail(text);
      }
    }
  }
}

void Verifier::checkSectionCounts() {
  if (cCoff.cScnHdr.size() != cCoff.cScnNum.size()) {
    std::ostringstream text;
    start(text);
    text << ", cScnHdr.size() != cScnNum.size() . ";
    fail(text);
  }
}

} // namespace

int Coff::verify() const { return Verifier(*this).run(); }
