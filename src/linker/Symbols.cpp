// Symbols after placement: section-relative values and line addresses move
// with their input's piece of the section, the string tables of all inputs
// merge into one, and every external reference takes the value of its one
// definition (or the start of the section it names).
#include "Linker.h"

#include "Assert.h"
#include "TextSortKey.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace {

const char *const kModule = "linker";

// Index of the entry after a symbol and its auxiliary entries.
std::size_t nextSymbol(const std::vector<syment> &table, std::size_t index) {
  return index + 1 + table[index].n_numaux;
}

} // namespace

Linker::SectionDeltas Linker::sectionDeltas(InputIndex input,
                                            const MemoryIndex &memories) const {
  const Coff &coff = *cCoff[input];
  SectionDeltas deltas;
  deltas.reserve(coff.cScnNum.size());
  for (const auto &number : coff.cScnNum) {
    const std::string &name = number.second;
    const auto hdr = coff.cScnHdr.find(name);
    Memory *const *held = memories.find(name);
    ORV_ASSERT(hdr != coff.cScnHdr.end() && held != nullptr, kModule);
    // Unsigned arithmetic: a piece may load below its declared address.
    const std::uint32_t loadStart = (*held)->getLoadStart(input, name);
    deltas.emplace_back(number.first, loadStart - hdr->second.s_paddr);
  }
  return deltas;
}

namespace {

// The delta of a section number, or null when the input has no such
// section. Deltas are in section-number order.
const std::uint32_t *findDelta(const Linker::SectionDeltas &deltas,
                               int number) {
  const auto found =
      std::lower_bound(deltas.begin(), deltas.end(), number,
                       [](const std::pair<int, std::uint32_t> &entry, int key) {
                         return entry.first < key;
                       });
  return found != deltas.end() && found->first == number ? &found->second
                                                         : nullptr;
}

} // namespace

int Linker::relocateSymbols(std::string & /*error*/) {
  const MemoryIndex memories(cScnMem);
  for (InputIndex input = 0; input < cCoff.size(); ++input) {
    const SectionDeltas deltas = sectionDeltas(input, memories);
    std::vector<syment> &table = cCoff[input]->cSymbolTbl;
    for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
      syment &sym = table[i];
      if (!Coff::needsRelocation(sym))
        continue;
      if (const std::uint32_t *delta = findDelta(deltas, sym.n_scnum))
        sym.n_value += *delta;
    }
  }
  return 1;
}

int Linker::relocateLineInfo(std::string & /*error*/) {
  const MemoryIndex memories(cScnMem);
  for (InputIndex input = 0; input < cCoff.size(); ++input) {
    Coff &coff = *cCoff[input];
    const SectionDeltas deltas = sectionDeltas(input, memories);
    for (const auto &number : coff.cScnNum) {
      const auto type = cScnType.find(number.second);
      if (type == cScnType.end() || type->second != kScnTypeCode)
        continue; // data line numbers keep their addresses
      const auto lines = coff.cLineNum.find(number.second);
      if (lines == coff.cLineNum.end())
        continue;
      const std::uint32_t delta = *findDelta(deltas, number.first);
      for (coff_lineno &line : lines->second)
        line.l_paddr += delta;
    }
  }
  return 1;
}

int Linker::mergeStringTbls(std::string & /*error*/) {
  // Ascending string order; equal strings of different inputs share one
  // offset. The 4 bytes before the first string hold the table's length.
  // Equal strings are found through a hash first, so only distinct ones
  // are sorted; each input then learns, per old offset, its string's
  // merged offset, so rewriting its records needs no string comparison.
  std::size_t total = 0;
  for (const std::unique_ptr<Coff> &coff : cCoff)
    total += coff->cStringTbl.size();
  std::vector<std::vector<StringMove>> moves(cCoff.size());
  std::vector<std::size_t> distinctOf; // per string of every input, in order
  distinctOf.reserve(total);
  std::vector<const std::string *> distinct;
  std::unordered_map<std::string_view, std::size_t> index;
  index.reserve(total);
  for (std::size_t input = 0; input < cCoff.size(); ++input) {
    const std::map<int, std::string> &table = cCoff[input]->cStringTbl;
    moves[input].reserve(table.size());
    for (const auto &entry : table) {
      const auto found = index.emplace(entry.second, distinct.size());
      if (found.second)
        distinct.push_back(&entry.second);
      distinctOf.push_back(found.first->second);
      moves[input].push_back({entry.first, 0, &entry.second});
    }
  }
  struct Ranked {
    TextSortKey key;
    std::size_t distinctIndex;
  };
  std::vector<Ranked> order;
  order.reserve(distinct.size());
  for (std::size_t at = 0; at < distinct.size(); ++at)
    order.push_back({TextSortKey(distinct[at]), at});
  std::sort(order.begin(), order.end(), [](const Ranked &a, const Ranked &b) {
    return textSortLess(a.key, b.key);
  });
  std::vector<std::uint32_t> offsetOf(distinct.size());
  cOutput.cStringTbl.clear();
  std::uint32_t offset = 4;
  for (const Ranked &ranked : order) {
    const std::string &text = *ranked.key.text;
    cOutput.cStringTbl.emplace_hint(cOutput.cStringTbl.end(),
                                    static_cast<int>(offset), text);
    offsetOf[ranked.distinctIndex] = offset;
    offset += static_cast<std::uint32_t>(text.size()) + 1;
  }
  std::size_t next = 0;
  for (std::size_t input = 0; input < cCoff.size(); ++input) {
    for (StringMove &move : moves[input])
      move.newOffset = offsetOf[distinctOf[next++]];
    replaceStringTbl(*cCoff[input], moves[input]);
  }
  return 1;
}

namespace {

// The move of the string at a name offset of the input's table, or null
// when the table holds no string there.
const Linker::StringMove *findMove(const std::vector<Linker::StringMove> &moves,
                                   std::uint32_t offset) {
  // Offsets above INT_MAX cannot be keys of a string table.
  if (offset > 0x7FFFFFFFu)
    return nullptr;
  const int key = static_cast<int>(offset);
  const auto found = std::lower_bound(
      moves.begin(), moves.end(), key,
      [](const Linker::StringMove &move, int k) { return move.oldOffset < k; });
  return found != moves.end() && found->oldOffset == key ? &*found : nullptr;
}

bool isFileSymbol(const syment &sym,
                  const std::vector<Linker::StringMove> &moves) {
  if (!sym.hasLongName())
    return std::memcmp(sym._n_name, ".file", 6) == 0;
  const Linker::StringMove *move = findMove(moves, sym.nameOffset());
  return move != nullptr && *move->text == ".file";
}

} // namespace

int Linker::replaceStringTbl(Coff &coff, const std::vector<StringMove> &moves) {
  // A name offset the table lacks goes to Coff::getName, which reports it.
  for (auto &entry : coff.cScnHdr) {
    scnhdr &hdr = entry.second;
    if (!Coff::hasLongName(hdr))
      continue;
    if (const StringMove *move = findMove(moves, hdr.nameOffset()))
      hdr.setNameOffset(move->newOffset);
    else
      Coff::getName(hdr, coff.cStringTbl);
  }

  std::vector<syment> &table = coff.cSymbolTbl;
  for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
    syment &sym = table[i];
    const StringMove *move =
        sym.hasLongName() ? findMove(moves, sym.nameOffset()) : nullptr;
    if (sym.hasLongName() && move == nullptr)
      Coff::getName(sym, coff.cStringTbl);
    // The source name of ".file" lives in its auxiliary entry, when one
    // really follows.
    if (isFileSymbol(sym, moves) && i + 1 < table.size() &&
        Coff::auxType(sym) == kAuxFile) {
      aux_file aux = readAux<aux_file>(table[i + 1]);
      if (const StringMove *source = findMove(moves, aux.x_offset)) {
        aux.x_offset = source->newOffset;
        writeAux(table[i + 1], aux);
      } else {
        Coff::getName(aux, coff.cStringTbl);
      }
    }
    // Every long name moves, ".file" too: a stale offset would name the
    // symbol after some other string of the merged table.
    if (move != nullptr)
      sym.setNameOffset(move->newOffset);
  }

  // Only the input's own strings, at their merged offsets: every name this
  // input's records hold is among them, and no input carries a copy of the
  // whole merged table. The entries are re-keyed, not copied.
  std::map<int, std::string> ownTable;
  for (const StringMove &move : moves) {
    auto node = coff.cStringTbl.extract(move.oldOffset);
    node.key() = static_cast<int>(move.newOffset);
    ownTable.insert(std::move(node));
  }
  coff.cStringTbl = std::move(ownTable);
  return 1;
}

namespace {

void makeLinkerSymbol(syment &sym, const std::string &name,
                      std::uint32_t value) {
  sym = syment();
  Coff::setName(sym, std::map<int, std::string>(), name); // fits inline
  sym.n_value = value;
  sym.n_scnum = kScnNumUndefined;
  sym.n_type = 0;
  sym.n_sclass = kClassExternal;
  sym.n_numaux = 0;
}

} // namespace

int Linker::buildExtSymDef(std::string &error) {
  cExtSymDef.clear();
  cExtSymDef.emplace("_cinit", &cInitSym);
  if (cStackDescSet) {
    const auto held = cScnMem.find(cStackScnName);
    ORV_ASSERT(held != cScnMem.end(), kModule);
    const Memory &memory = *held->second;
    makeLinkerSymbol(cStackSym, "_stack",
                     memory.getSectionStart(cStackScnName));
    makeLinkerSymbol(
        cStkSizeSym, "_stksize",
        static_cast<std::uint32_t>(memory.getSectionSize(cStackScnName)));
    cExtSymDef.emplace("_stack", &cStackSym);
    cExtSymDef.emplace("_stksize", &cStkSizeSym);
  }
  for (const std::unique_ptr<Coff> &coff : cCoff) {
    std::vector<syment> &table = coff->cSymbolTbl;
    for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
      if (!Coff::isExtDef(table[i]))
        continue;
      const std::string name = Coff::getName(table[i], coff->cStringTbl);
      if (!cExtSymDef.emplace(name, &table[i]).second) {
        error = "symbol '" + name + "' has multiple definitions.";
        return 0;
      }
    }
  }
  return 1;
}

int Linker::resolveExternals(std::string &error) {
  const NameIndex<std::map<std::string, syment *>> definitions(cExtSymDef);
  for (const std::unique_ptr<Coff> &coff : cCoff) {
    std::vector<syment> &table = coff->cSymbolTbl;
    for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
      syment &sym = table[i];
      if (!Coff::isExtRef(sym))
        continue;
      const std::string name = Coff::getName(sym, coff->cStringTbl);
      if (name.empty() || name[0] != '.') {
        syment *const *def = definitions.find(name);
        if (def == nullptr) {
          error = "could not resolve symbol '" + name + "' in file '" +
                  coff->cFileName + "'.";
          return 0;
        }
        sym.n_value = (*def)->n_value;
        continue;
      }
      // ".name" refers to the start of section "name".
      const std::string secName = name.substr(1);
      const auto held = cScnMem.find(secName);
      if (cScnSize.count(secName) == 0 || held == cScnMem.end()) {
        error = "could not resolve section reference '" + secName +
                "' in file '" + coff->cFileName + "'.";
        return 0;
      }
      sym.n_value = held->second->getSectionStart(secName);
    }
  }
  return 1;
}
