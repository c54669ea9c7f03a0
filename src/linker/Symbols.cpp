// Symbols after placement: section-relative values and line addresses move
// with their input's piece of the section, the string tables of all inputs
// merge into one, and every external reference takes the value of its one
// definition (or the start of the section it names).
#include "Linker.h"

#include "Assert.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "TextSortKey.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_map>

namespace {

const char *const kModule = "linker";

// Index of the entry after a symbol and its auxiliary entries.
std::size_t nextSymbol(const std::vector<syment> &table, std::size_t index) {
  return index + 1 + table[index].n_numaux;
}

} // namespace

std::shared_ptr<const Linker::PlaceIndex> Linker::placeIndex() const {
  if (cHeldPlaces)
    return cHeldPlaces;
  return std::make_shared<const PlaceIndex>(buildPlaceIndex());
}

Linker::PlaceIndex Linker::buildPlaceIndex() const {
  // cScnMem and every memory's allocated ranges are both in name order, so
  // walking them side by side finds each section's range without a search.
  PlaceIndex places(cScnMem.size());
  using RangeAt = std::map<std::string, Range>::const_iterator;
  std::vector<std::pair<const Memory *, RangeAt>> walks; // a few memories
  for (const auto &entry : cScnMem) {
    Place place;
    place.memory = entry.second;
    if (place.memory != nullptr) {
      const std::map<std::string, Range> &allocated = place.memory->allocated();
      auto walk = std::find_if(walks.begin(), walks.end(), [&](const auto &w) {
        return w.first == place.memory;
      });
      if (walk == walks.end()) {
        // Asking once readies the memory's own name index, so that phases
        // may then look names up on many threads without building it.
        place.memory->isAllocated(entry.first);
        walks.emplace_back(place.memory, allocated.begin());
        walk = walks.end() - 1;
      }
      RangeAt &at = walk->second;
      while (at != allocated.end() && at->first < entry.first)
        ++at;
      if (at != allocated.end() && at->first == entry.first &&
          at->second.isAllocated())
        place.range = &at->second;
    }
    places.add(entry.first, place);
  }
  return places;
}

std::uint32_t Linker::loadStartOf(const PlaceIndex &places, InputIndex input,
                                  const std::string &secName) const {
  const Place *place = places.find(secName);
  ORV_ASSERT(place != nullptr, kModule);
  if (place->range != nullptr && place->range->isLoaded(input))
    return place->range->getLoadStart(input);
  // Not loaded: the memory model refuses it.
  return place->memory->getLoadStart(input, secName);
}

Linker::SectionDeltas Linker::sectionDeltas(InputIndex input,
                                            const PlaceIndex &places) const {
  const Coff &coff = *cCoff[input];
  SectionDeltas deltas;
  deltas.reserve(coff.cScnNum.size());
  for (const auto &number : coff.cScnNum) {
    const std::string &name = number.second;
    const auto hdr = coff.cScnHdr.find(name);
    ORV_ASSERT(hdr != coff.cScnHdr.end() && places.find(name) != nullptr,
               kModule);
    // Unsigned arithmetic: a piece may load below its declared address.
    const std::uint32_t loadStart = loadStartOf(places, input, name);
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
  // Every input moves only its own symbols: the inputs go in parallel.
  const std::shared_ptr<const PlaceIndex> held = placeIndex();
  const PlaceIndex &places = *held;
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    const SectionDeltas deltas = sectionDeltas(input, places);
    std::vector<syment> &table = cCoff[input]->cSymbolTbl;
    for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
      syment &sym = table[i];
      if (!Coff::needsRelocation(sym))
        continue;
      if (const std::uint32_t *delta = findDelta(deltas, sym.n_scnum))
        sym.n_value += *delta;
    }
  });
  return 1;
}

int Linker::relocateLineInfo(std::string & /*error*/) {
  const std::shared_ptr<const PlaceIndex> held = placeIndex();
  const PlaceIndex &places = *held;
  const NameIndex<std::map<std::string, std::uint8_t>> types(cScnType);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    Coff &coff = *cCoff[input];
    const SectionDeltas deltas = sectionDeltas(input, places);
    for (const auto &number : coff.cScnNum) {
      const std::uint8_t *type = types.find(number.second);
      if (type == nullptr || *type != kScnTypeCode)
        continue; // data line numbers keep their addresses
      const auto lines = coff.cLineNum.find(number.second);
      if (lines == coff.cLineNum.end())
        continue;
      const std::uint32_t delta = *findDelta(deltas, number.first);
      for (coff_lineno &line : lines->second)
        line.l_paddr += delta;
    }
  });
  return 1;
}

namespace {

// The distinct strings of all inputs, found by hashing. The strings are
// split by hash into shards, each with its own open-addressed table, so
// the shards are searched on all threads; a string's number is its
// shard's base plus its place in the shard.
class DistinctStrings {
public:
  // Numbers every string; distinct() then lists each distinct one once
  // and numberOf(i) is the number of strings[i] in that list.
  explicit DistinctStrings(const std::vector<const std::string *> &strings)
      : cNumberOf(strings.size()) {
    std::vector<std::size_t> hashes(strings.size());
    forEachInParallel(strings.size(), [&](std::size_t at) {
      hashes[at] = std::hash<std::string_view>()(*strings[at]);
    });
    // Positions by shard, in their order within the list.
    std::vector<std::uint32_t> firstOfShard(kShards + 1, 0);
    for (std::size_t hash : hashes)
      ++firstOfShard[shardOf(hash) + 1];
    for (std::size_t shard = 0; shard < kShards; ++shard)
      firstOfShard[shard + 1] += firstOfShard[shard];
    std::vector<std::uint32_t> byShard(strings.size());
    std::vector<std::uint32_t> next(firstOfShard.begin(),
                                    firstOfShard.end() - 1);
    for (std::size_t at = 0; at < strings.size(); ++at)
      byShard[next[shardOf(hashes[at])]++] = static_cast<std::uint32_t>(at);
    std::vector<std::vector<const std::string *>> shardTexts(kShards);
    forEachLargeInParallel(kShards, [&](std::size_t shard) {
      const std::uint32_t first = firstOfShard[shard];
      const std::uint32_t count = firstOfShard[shard + 1] - first;
      std::size_t capacity = 16;
      while (capacity < 2 * std::size_t{count})
        capacity *= 2;
      std::vector<std::uint32_t> slots(capacity, kEmpty); // local numbers
      std::vector<std::size_t> localHashes;
      std::vector<const std::string *> &texts = shardTexts[shard];
      for (std::uint32_t k = first; k < first + count; ++k) {
        const std::uint32_t at = byShard[k];
        const std::size_t hash = hashes[at];
        std::size_t slot = (hash / kShards) & (capacity - 1);
        for (;; slot = (slot + 1) & (capacity - 1)) {
          const std::uint32_t local = slots[slot];
          if (local == kEmpty) {
            slots[slot] = static_cast<std::uint32_t>(texts.size());
            cNumberOf[at] = static_cast<std::uint32_t>(texts.size());
            texts.push_back(strings[at]);
            localHashes.push_back(hash);
            break;
          }
          if (localHashes[local] == hash && *texts[local] == *strings[at]) {
            cNumberOf[at] = local;
            break;
          }
        }
      }
    });
    std::vector<std::uint32_t> base(kShards, 0);
    for (std::size_t shard = 0; shard < kShards; ++shard) {
      base[shard] = static_cast<std::uint32_t>(cDistinct.size());
      cDistinct.insert(cDistinct.end(), shardTexts[shard].begin(),
                       shardTexts[shard].end());
    }
    forEachInParallel(strings.size(), [&](std::size_t at) {
      cNumberOf[at] += base[shardOf(hashes[at])];
    });
  }

  const std::vector<const std::string *> &distinct() const { return cDistinct; }
  std::uint32_t numberOf(std::size_t at) const { return cNumberOf[at]; }

private:
  static constexpr std::size_t kShards = 64;
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

  static std::size_t shardOf(std::size_t hash) { return hash % kShards; }

  std::vector<std::uint32_t> cNumberOf; // per string
  std::vector<const std::string *> cDistinct;
};

} // namespace

int Linker::mergeStringTbls(std::string & /*error*/) {
  // Ascending string order; equal strings of different inputs share one
  // offset. The 4 bytes before the first string hold the table's length.
  // Equal strings are found through a hash first, so only distinct ones
  // are sorted; each input then learns, per old offset, its string's
  // merged offset, so rewriting its records needs no string comparison.
  // The moves of all inputs lie in one list, input after input.
  std::vector<std::size_t> firstMove(cCoff.size() + 1, 0);
  for (InputIndex input = 0; input < cCoff.size(); ++input)
    firstMove[input + 1] = firstMove[input] + cCoff[input]->cStringTbl.size();
  std::vector<StringMove> moves(firstMove.back());
  std::vector<const std::string *> strings(firstMove.back());
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    std::size_t at = firstMove[input];
    for (const auto &entry : cCoff[input]->cStringTbl) {
      strings[at] = &entry.second;
      moves[at++] = {entry.first, 0, &entry.second};
    }
  });
  const DistinctStrings distinct(strings);
  const std::vector<const std::string *> &texts = distinct.distinct();
  struct Ranked {
    TextSortKey key;
    std::uint32_t distinctIndex;
  };
  std::vector<Ranked> order(texts.size(),
                            Ranked{TextSortKey(std::string_view()), 0});
  forEachInParallel(texts.size(), [&](std::size_t at) {
    order[at] = Ranked{TextSortKey(texts[at]), static_cast<std::uint32_t>(at)};
  });
  // The strings are distinct, so the order is total.
  sortInParallel(order, [](const Ranked &a, const Ranked &b) {
    return textSortLess(a.key, b.key);
  });
  std::vector<std::uint32_t> offsetOf(texts.size());
  std::vector<std::uint32_t> offsetAt(order.size());
  std::uint32_t offset = 4;
  for (std::size_t rank = 0; rank < order.size(); ++rank) {
    offsetAt[rank] = offset;
    offsetOf[order[rank].distinctIndex] = offset;
    offset += static_cast<std::uint32_t>(order[rank].key.text->size()) + 1;
  }
  // The entries (a node and a copy of the string each) are made on all
  // threads, a slice each, then moved into the table in order: moving a
  // made entry in allocates and copies nothing.
  using Entries = std::map<int, std::string>;
  constexpr std::size_t kSliceEntries = 4096;
  std::vector<Entries> slices((order.size() + kSliceEntries - 1) /
                              kSliceEntries);
  forEachLargeInParallel(slices.size(), [&](std::size_t slice) {
    const std::size_t last =
        std::min(order.size(), (slice + 1) * kSliceEntries);
    Entries &made = slices[slice];
    for (std::size_t rank = slice * kSliceEntries; rank < last; ++rank)
      made.emplace_hint(made.end(), static_cast<int>(offsetAt[rank]),
                        *order[rank].key.text);
  });
  cOutput.cStringTbl.clear();
  for (Entries &made : slices)
    while (!made.empty())
      cOutput.cStringTbl.insert(cOutput.cStringTbl.end(),
                                made.extract(made.begin()));
  forEachInParallel(moves.size(), [&](std::size_t at) {
    moves[at].newOffset = offsetOf[distinct.numberOf(at)];
  });
  // Each input rewrites only its own records, so the inputs go in parallel
  // when none of them names a string its table lacks. One that does is
  // reported by the rewrite itself, which then runs in input order so the
  // message is the one the first such input gives.
  std::vector<char> complete(cCoff.size(), 0);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    complete[input] =
        namesAllMoved(*cCoff[input], moves.data() + firstMove[input],
                      firstMove[input + 1] - firstMove[input])
            ? 1
            : 0;
  });
  const bool allComplete =
      std::find(complete.begin(), complete.end(), 0) == complete.end();
  auto replace = [&](std::size_t input) {
    replaceStringTbl(*cCoff[input], moves.data() + firstMove[input],
                     firstMove[input + 1] - firstMove[input]);
  };
  if (allComplete)
    forEachInParallel(cCoff.size(), replace);
  else
    for (InputIndex input = 0; input < cCoff.size(); ++input)
      replace(input);
  return 1;
}

namespace {

// The move of the string at a name offset of the input's table, or null
// when the table holds no string there.
// One input's moves, in offset order.
struct Moves {
  const Linker::StringMove *begin;
  const Linker::StringMove *end;
};

const Linker::StringMove *findMove(const Moves &moves, std::uint32_t offset) {
  // Offsets above INT_MAX cannot be keys of a string table.
  if (offset > 0x7FFFFFFFu)
    return nullptr;
  const int key = static_cast<int>(offset);
  const Linker::StringMove *found = std::lower_bound(
      moves.begin, moves.end, key,
      [](const Linker::StringMove &move, int k) { return move.oldOffset < k; });
  return found != moves.end && found->oldOffset == key ? found : nullptr;
}

bool isFileSymbol(const syment &sym, const Moves &moves) {
  if (!sym.hasLongName())
    return std::memcmp(sym._n_name, ".file", 6) == 0;
  const Linker::StringMove *move = findMove(moves, sym.nameOffset());
  return move != nullptr && *move->text == ".file";
}

} // namespace

bool Linker::namesAllMoved(const Coff &coff, const StringMove *first,
                           std::size_t count) {
  // The same walk as replaceStringTbl's, asking only whether each long
  // name it rewrites has a move (the table holds exactly the moved offsets).
  const Moves moves{first, first + count};
  for (const auto &entry : coff.cScnHdr)
    if (Coff::hasLongName(entry.second) &&
        findMove(moves, entry.second.nameOffset()) == nullptr)
      return false;
  const std::vector<syment> &table = coff.cSymbolTbl;
  for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
    const syment &sym = table[i];
    if (sym.hasLongName() && findMove(moves, sym.nameOffset()) == nullptr)
      return false;
    if (isFileSymbol(sym, moves) && i + 1 < table.size() &&
        Coff::auxType(sym) == kAuxFile &&
        findMove(moves, readAux<aux_file>(table[i + 1]).x_offset) == nullptr)
      return false;
  }
  return true;
}

int Linker::replaceStringTbl(Coff &coff, const std::vector<StringMove> &moves) {
  return replaceStringTbl(coff, moves.data(), moves.size());
}

int Linker::replaceStringTbl(Coff &coff, const StringMove *first,
                             std::size_t count) {
  const Moves moves{first, first + count};
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
  for (const StringMove *move = moves.begin; move != moves.end; ++move) {
    auto node = coff.cStringTbl.extract(move->oldOffset);
    node.key() = static_cast<int>(move->newOffset);
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
  // Every definition with its place in the order a walk over the inputs
  // meets it (the linker's own symbols come first). The names are read on
  // all threads, then sorted once: the map is filled in name order, and of
  // the names defined twice the repeat met first in the walk is reported,
  // as entering them one by one would.
  struct Definition {
    std::string_view name;
    std::size_t order;
    syment *sym;
    TextSortKey key; // of name: most comparisons need only this
  };
  auto define = [](std::string_view name, std::size_t order, syment *sym) {
    return Definition{name, order, sym, TextSortKey(name)};
  };
  std::vector<Definition> own;
  own.push_back(define("_cinit", 0, &cInitSym));
  if (cStackDescSet) {
    const auto held = cScnMem.find(cStackScnName);
    ORV_ASSERT(held != cScnMem.end(), kModule);
    const Memory &memory = *held->second;
    makeLinkerSymbol(cStackSym, "_stack",
                     memory.getSectionStart(cStackScnName));
    makeLinkerSymbol(
        cStkSizeSym, "_stksize",
        static_cast<std::uint32_t>(memory.getSectionSize(cStackScnName)));
    own.push_back(define("_stack", 1, &cStackSym));
    own.push_back(define("_stksize", 2, &cStkSizeSym));
  }
  std::vector<std::vector<Definition>> perInput(cCoff.size());
  std::vector<char> spoke(cCoff.size(), 0);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    Coff &coff = *cCoff[input];
    std::vector<syment> &table = coff.cSymbolTbl;
    SilentAttempt silent;
    try {
      // Counted first: one block per input, not one per doubling.
      std::size_t count = 0;
      for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i))
        count += Coff::isExtDef(table[i]) ? 1 : 0;
      perInput[input].reserve(count);
      for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
        if (!Coff::isExtDef(table[i]))
          continue;
        std::string_view name;
        if (!Coff::findName(table[i], coff.cStringTbl, name))
          Coff::getName(table[i], coff.cStringTbl); // reports, ends the run
        perInput[input].push_back(define(name, 0, &table[i]));
      }
    } catch (const MessageWhileSilent &) {
      spoke[input] = 1;
    }
  });
  std::vector<Definition> all = std::move(own);
  std::size_t total = all.size();
  for (const std::vector<Definition> &definitions : perInput)
    total += definitions.size();
  all.reserve(total);
  for (InputIndex input = 0; input < cCoff.size(); ++input) {
    if (spoke[input]) {
      // Its name is reported by the plain reading, which ends the run.
      for (std::size_t i = 0; i < cCoff[input]->cSymbolTbl.size();
           i = nextSymbol(cCoff[input]->cSymbolTbl, i))
        if (Coff::isExtDef(cCoff[input]->cSymbolTbl[i]))
          Coff::getName(cCoff[input]->cSymbolTbl[i], cCoff[input]->cStringTbl);
    }
    for (Definition &definition : perInput[input]) {
      definition.order = all.size();
      all.push_back(definition);
    }
  }
  sortInParallel(all, [](const Definition &a, const Definition &b) {
    if (a.key.high != b.key.high)
      return a.key.high < b.key.high;
    if (a.key.low != b.key.low)
      return a.key.low < b.key.low;
    const int byName = a.name.compare(b.name);
    return byName != 0 ? byName < 0 : a.order < b.order;
  });
  // Different keys make different names without a look at the names.
  auto sameName = [](const Definition &a, const Definition &b) {
    return a.key.high == b.key.high && a.key.low == b.key.low &&
           a.name == b.name;
  };
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t repeatAt = kNone; // the first repeat in walk order
  for (std::size_t at = 1; at < all.size(); ++at)
    if (sameName(all[at], all[at - 1]))
      repeatAt = std::min(repeatAt, all[at].order);
  // The first definition of every name met before the repeat, in name
  // order, so each entry goes to the end of the map without a search.
  std::vector<const Definition *> entered;
  entered.reserve(all.size());
  for (std::size_t at = 0; at < all.size(); ++at) {
    const Definition &definition = all[at];
    const bool first = at == 0 || !sameName(all[at - 1], definition);
    if (first && definition.order < repeatAt)
      entered.push_back(&definition);
  }
  // The entries (a node and a copy of the name each) are made on all
  // threads, a slice of the names each, then moved into the map in order:
  // moving a made entry in allocates and copies nothing.
  using Entries = std::map<std::string, syment *>;
  constexpr std::size_t kSliceEntries = 4096;
  std::vector<Entries> slices((entered.size() + kSliceEntries - 1) /
                              kSliceEntries);
  forEachLargeInParallel(slices.size(), [&](std::size_t slice) {
    const std::size_t last =
        std::min(entered.size(), (slice + 1) * kSliceEntries);
    Entries &made = slices[slice];
    for (std::size_t at = slice * kSliceEntries; at < last; ++at)
      made.emplace_hint(made.end(), std::string(entered[at]->name),
                        entered[at]->sym);
  });
  for (Entries &made : slices)
    while (!made.empty())
      cExtSymDef.insert(cExtSymDef.end(), made.extract(made.begin()));
  if (repeatAt != kNone) {
    const auto repeat =
        std::find_if(all.begin(), all.end(),
                     [&](const Definition &d) { return d.order == repeatAt; });
    error =
        "symbol '" + std::string(repeat->name) + "' has multiple definitions.";
    return 0;
  }
  return 1;
}

int Linker::resolveExternals(std::string &error) {
  // Building the place index also readies every placed memory's own name
  // index, so the lookups below only read and may run on many threads.
  placeIndex();
  auto resolveInput = [&](Coff &coff, std::string &text) {
    std::vector<syment> &table = coff.cSymbolTbl;
    for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
      syment &sym = table[i];
      if (!Coff::isExtRef(sym))
        continue;
      const std::string name = Coff::getName(sym, coff.cStringTbl);
      if (name.empty() || name[0] != '.') {
        const auto def = cExtSymDef.find(name);
        if (def == cExtSymDef.end()) {
          text = "could not resolve symbol '" + name + "' in file '" +
                 coff.cFileName + "'.";
          return false;
        }
        sym.n_value = def->second->n_value;
        continue;
      }
      // ".name" refers to the start of section "name".
      const std::string secName = name.substr(1);
      const auto held = cScnMem.find(secName);
      if (cScnSize.count(secName) == 0 || held == cScnMem.end()) {
        text = "could not resolve section reference '" + secName +
               "' in file '" + coff.cFileName + "'.";
        return false;
      }
      sym.n_value = held->second->getSectionStart(secName);
    }
    return true;
  };
  // Each input sets only its own references, and setting a value again
  // is harmless.
  return firstFailureInOrder(
      cCoff.size(),
      [&](std::size_t input, std::string &text) {
        return resolveInput(*cCoff[input], text);
      },
      error);
}
