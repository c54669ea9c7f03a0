// Symbols after placement: section-relative values and line addresses move
// with their input's piece of the section, the string tables of all inputs
// merge into one, and every external reference takes the value of its one
// definition (or the start of the section it names).
#include "Linker.h"

#include "Assert.h"
#include "ByteOrder.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "TextSortKey.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string_view>
#include <tuple>

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
  if (const PieceLoad *loads = pieceLoads(input)) {
    for (const auto &number : coff.cScnNum)
      deltas.emplace_back(number.first, (loads++)->delta);
    return deltas;
  }
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
  // Loading noted each piece's move and its section's type.
  bool loaded = true;
  for (InputIndex input = 0; input < cCoff.size() && loaded; ++input)
    loaded = pieceLoads(input) != nullptr;
  if (loaded) {
    forEachInParallel(cCoff.size(), [&](std::size_t input) {
      Coff &coff = *cCoff[input];
      if (coff.cLineNum.empty())
        return;
      const PieceLoad *load = pieceLoads(input);
      for (const auto &number : coff.cScnNum) {
        const PieceLoad &piece = *load++;
        if (piece.type != kScnTypeCode)
          continue; // data line numbers keep their addresses
        const auto lines = coff.cLineNum.find(number.second);
        if (lines == coff.cLineNum.end())
          continue;
        for (coff_lineno &line : lines->second)
          line.l_paddr += piece.delta;
      }
    });
    return 1;
  }
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

// One input's moves, in offset order.
struct Moves {
  const Linker::StringMove *begin;
  const Linker::StringMove *end;
};

// The move of the string at a name offset of the input's table, or null
// when the table holds no string there.
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

// Whether sym is a ".file" symbol; move is that of its long name, if any.
bool isFileSymbol(const syment &sym, const Linker::StringMove *move) {
  if (!sym.hasLongName())
    return std::memcmp(sym._n_name, ".file", 6) == 0;
  return move != nullptr && std::string_view(*move->text) == ".file";
}

// Re-keys the input's strings at their merged offsets. The moves are in
// the table's order, so each entry is taken from its front; the strings
// of an input mostly ascend with their offsets, so each is entered last.
void rekeyStrings(Coff &coff, const Moves &moves) {
  std::map<int, std::string> ownTable;
  for (const Linker::StringMove *move = moves.begin; move != moves.end;
       ++move) {
    ORV_ASSERT(!coff.cStringTbl.empty() &&
                   coff.cStringTbl.begin()->first == move->oldOffset,
               kModule);
    auto node = coff.cStringTbl.extract(coff.cStringTbl.begin());
    node.key() = static_cast<int>(move->newOffset);
    ownTable.insert(ownTable.end(), std::move(node));
  }
  coff.cStringTbl = std::move(ownTable);
}

// replaceStringTbl for an input that names no string its table lacks;
// false, with the input left as it was, for one that does (its rewrite
// then reports). The same walk as replaceStringTbl's, done twice: the
// first finds every move, in walk order, and the second writes them.
bool replaceIfAllMoved(Coff &coff, const Linker::StringMove *first,
                       std::size_t count) {
  const Moves moves{first, first + count};
  std::vector<syment> &table = coff.cSymbolTbl;
  std::vector<const Linker::StringMove *> found;
  found.reserve(coff.cScnHdr.size() + table.size());
  for (const auto &entry : coff.cScnHdr) {
    if (!Coff::hasLongName(entry.second))
      continue;
    found.push_back(findMove(moves, entry.second.nameOffset()));
    if (found.back() == nullptr)
      return false;
  }
  auto hasFileAux = [&](std::size_t i, const Linker::StringMove *move) {
    return isFileSymbol(table[i], move) && i + 1 < table.size() &&
           Coff::auxType(table[i]) == kAuxFile;
  };
  for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
    const Linker::StringMove *move = nullptr;
    if (table[i].hasLongName()) {
      move = findMove(moves, table[i].nameOffset());
      if (move == nullptr)
        return false;
      found.push_back(move);
    }
    if (hasFileAux(i, move)) {
      found.push_back(
          findMove(moves, readAux<aux_file>(table[i + 1]).x_offset));
      if (found.back() == nullptr)
        return false;
    }
  }
  const Linker::StringMove *const *next = found.data();
  for (auto &entry : coff.cScnHdr)
    if (Coff::hasLongName(entry.second))
      entry.second.setNameOffset((*next++)->newOffset);
  for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
    syment &sym = table[i];
    const Linker::StringMove *move = sym.hasLongName() ? *next++ : nullptr;
    if (hasFileAux(i, move)) {
      aux_file aux = readAux<aux_file>(table[i + 1]);
      aux.x_offset = (*next++)->newOffset;
      writeAux(table[i + 1], aux);
    }
    if (move != nullptr)
      sym.setNameOffset(move->newOffset);
  }
  rekeyStrings(coff, moves);
  return true;
}

// A string of some input as the merge sorts it. Its key and length tell it
// whole when it is no longer than the key: only longer strings with equal
// keys are compared themselves.
struct RankedString {
  std::uint64_t high; // the key: the first bytes, as TextSortKey has them
  std::uint64_t low;
  std::uint32_t length;
  std::uint32_t move; // in the list of moves, which holds the string
};

constexpr std::size_t kKeyBytes = 16;

RankedString rankedString(const std::string &text, std::size_t move) {
  const TextSortKey key{std::string_view(text)};
  return RankedString{key.high, key.low,
                      static_cast<std::uint32_t>(text.size()),
                      static_cast<std::uint32_t>(move)};
}

// std::string's order; textOfA and textOfB give the strings themselves,
// asked only when keys and lengths do not decide.
template <class TextOfA, class TextOfB>
bool rankedLess(const RankedString &a, const RankedString &b, TextOfA textOfA,
                TextOfB textOfB) {
  if (a.high != b.high)
    return a.high < b.high;
  if (a.low != b.low)
    return a.low < b.low;
  if (a.length <= kKeyBytes && b.length <= kKeyBytes)
    return a.length < b.length; // the shorter is a prefix of the other
  return textOfA() < textOfB();
}

template <class TextOfA, class TextOfB>
bool sameRankedText(const RankedString &a, const RankedString &b,
                    TextOfA textOfA, TextOfB textOfB) {
  return a.high == b.high && a.low == b.low && a.length == b.length &&
         (a.length <= kKeyBytes || textOfA() == textOfB());
}

// Below this many strings one range sorts them all.
constexpr std::size_t kMinStringsToSplit = 32768;
// The strings fall into this many ranges between splitters, each sorted
// and made into table entries on a thread of its own.
constexpr std::size_t kStringRanges = 64;
constexpr std::size_t kSamplesPerRange = 4;
// The inputs are read in up to this many chunks of about as many strings,
// each of at least kMinStringsPerChunk: a small link is read on one thread.
constexpr std::size_t kInputChunks = 64;
constexpr std::size_t kMinStringsPerChunk = 2048;

} // namespace

int Linker::mergeStringTbls(std::string & /*error*/) {
  // Ascending string order; equal strings of different inputs share one
  // offset. The 4 bytes before the first string hold the table's length.
  // The strings of all inputs are sorted together, each with a key of its
  // first bytes read while its input is walked, so that most comparisons
  // touch no string; equal strings then lie side by side. Each input then
  // learns, per old offset, its string's merged offset, so rewriting its
  // records needs no string comparison. The moves of all inputs lie in
  // one list, input after input.
  //
  // The sort is split by value: splitters taken from a sample cut the
  // strings into ranges (equal strings always fall into one), each sorted
  // and made into table entries on a thread of its own, at offsets from
  // the start of its range. Once every range knows its length, each input
  // adds its ranges' starts to its own offsets as it is rewritten, and one
  // thread meanwhile does the same for the entries and links them into
  // the table. Three parallel steps in all: each waits for its slowest
  // thread.
  const std::size_t inputs = cCoff.size();
  std::vector<std::size_t> firstMove(inputs + 1, 0);
  for (InputIndex input = 0; input < inputs; ++input)
    firstMove[input + 1] = firstMove[input] + cCoff[input]->cStringTbl.size();
  const std::size_t count = firstMove.back();
  // Every element is written before it is read, so none is zeroed first.
  std::unique_ptr<StringMove[]> moves(new StringMove[count]);
  std::unique_ptr<unsigned char[]> rangeOf(new unsigned char[count]);
  auto textOfMove = [&](const RankedString &ranked) -> const std::string & {
    return *moves[ranked.move].text;
  };

  // Splitters from strings spread evenly over all the inputs' strings.
  struct Splitter {
    RankedString ranked;
    const std::string *text;
  };
  std::vector<Splitter> splitters;
  const std::size_t ranges = count < kMinStringsToSplit ? 1 : kStringRanges;
  if (ranges > 1) {
    std::vector<Splitter> sample;
    sample.reserve(ranges * kSamplesPerRange);
    for (std::size_t i = 0; i < ranges * kSamplesPerRange; ++i) {
      const std::size_t at = count * i / (ranges * kSamplesPerRange);
      const std::size_t input = static_cast<std::size_t>(
          std::upper_bound(firstMove.begin(), firstMove.end(), at) -
          firstMove.begin() - 1);
      const std::string &text =
          std::next(cCoff[input]->cStringTbl.begin(),
                    static_cast<std::ptrdiff_t>(at - firstMove[input]))
              ->second;
      sample.push_back({rankedString(text, 0), &text});
    }
    auto splitterLess = [](const Splitter &a, const Splitter &b) {
      return rankedLess(
          a.ranked, b.ranked, [&]() -> const std::string & { return *a.text; },
          [&]() -> const std::string & { return *b.text; });
    };
    std::sort(sample.begin(), sample.end(), splitterLess);
    for (std::size_t range = 1; range < ranges; ++range)
      splitters.push_back(sample[range * kSamplesPerRange]);
  }
  auto rangeOfString = [&](const RankedString &ranked,
                           const std::string &text) {
    const auto after = std::upper_bound(
        splitters.begin(), splitters.end(), ranked,
        [&](const RankedString &item, const Splitter &splitter) {
          return rankedLess(
              item, splitter.ranked,
              [&]() -> const std::string & { return text; },
              [&]() -> const std::string & { return *splitter.text; });
        });
    return static_cast<unsigned char>(after - splitters.begin());
  };

  // Chunks of whole inputs, of about as many strings each, each read into
  // one list per range.
  const std::size_t chunks = std::max<std::size_t>(
      1, std::min({kInputChunks, inputs, count / kMinStringsPerChunk}));
  std::vector<std::size_t> chunkFirst(chunks + 1, inputs);
  for (std::size_t chunk = 0; chunk < chunks; ++chunk)
    chunkFirst[chunk] = static_cast<std::size_t>(
        std::lower_bound(firstMove.begin(), firstMove.end() - 1,
                         count * chunk / chunks) -
        firstMove.begin());
  std::vector<std::vector<RankedString>> lists(chunks * ranges);
  forEachLargeInParallel(chunks, [&](std::size_t chunk) {
    std::vector<RankedString> *own = lists.data() + chunk * ranges;
    const std::size_t first = firstMove[chunkFirst[chunk]];
    const std::size_t strings = firstMove[chunkFirst[chunk + 1]] - first;
    for (std::size_t range = 0; range < ranges; ++range)
      own[range].reserve(strings / ranges + strings / ranges / 4 + 16);
    for (InputIndex input = chunkFirst[chunk]; input < chunkFirst[chunk + 1];
         ++input) {
      std::size_t at = firstMove[input];
      for (const auto &entry : cCoff[input]->cStringTbl) {
        moves[at] = {entry.first, 0, &entry.second};
        const RankedString ranked = rankedString(entry.second, at);
        const unsigned char range =
            ranges > 1 ? rangeOfString(ranked, entry.second) : 0;
        rangeOf[at] = range;
        own[range].push_back(ranked);
        ++at;
      }
    }
  });

  // Each range gathered, sorted, and made into entries at offsets from its
  // start, each string made from its key where that holds it whole (only
  // longer strings are read again) and written byte by byte into the entry
  // itself: copied out of a buffer just written, the bytes would wait on
  // those writes.
  auto orderLess = [&](const RankedString &a, const RankedString &b) {
    return rankedLess(
        a, b, [&]() -> const std::string & { return textOfMove(a); },
        [&]() -> const std::string & { return textOfMove(b); });
  };
  auto sameText = [&](const RankedString &a, const RankedString &b) {
    return sameRankedText(
        a, b, [&]() -> const std::string & { return textOfMove(a); },
        [&]() -> const std::string & { return textOfMove(b); });
  };
  using StringTable = std::map<int, std::string>;
  std::vector<std::vector<StringTable::node_type>> entries(ranges);
  std::vector<std::uint32_t> rangeBytes(ranges, 0);
  forEachLargeInParallel(ranges, [&](std::size_t range) {
    std::size_t size = 0;
    for (std::size_t chunk = 0; chunk < chunks; ++chunk)
      size += lists[chunk * ranges + range].size();
    std::vector<RankedString> order;
    order.reserve(size);
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
      std::vector<RankedString> &list = lists[chunk * ranges + range];
      order.insert(order.end(), list.begin(), list.end());
      std::vector<RankedString>().swap(list);
    }
    std::sort(order.begin(), order.end(), orderLess);
    std::vector<StringTable::node_type> &made = entries[range];
    StringTable maker; // holds one entry at a time
    std::uint32_t offset = 0;
    for (auto ranked = order.begin(); ranked != order.end(); ++ranked) {
      if (ranked == order.begin() || !sameText(ranked[-1], *ranked)) {
        if (ranked != order.begin())
          offset += ranked[-1].length + 1;
        const auto entry =
            maker.emplace(std::piecewise_construct,
                          std::forward_as_tuple(static_cast<int>(offset)),
                          std::forward_as_tuple(ranked->length, '\0'));
        if (ranked->length > kKeyBytes) {
          entry.first->second = textOfMove(*ranked);
        } else {
          char *text = &entry.first->second[0];
          for (std::uint32_t i = 0; i < ranked->length; ++i)
            text[i] =
                static_cast<char>(i < 8 ? ranked->high >> (56 - 8 * i)
                                        : ranked->low >> (56 - 8 * (i - 8)));
        }
        made.push_back(maker.extract(entry.first));
      }
      moves[ranked->move].newOffset = offset;
    }
    if (!order.empty())
      rangeBytes[range] = offset + order.back().length + 1;
  });
  // Where each range starts in the merged table.
  std::vector<std::uint32_t> rangeStart(ranges, 4);
  for (std::size_t range = 1; range < ranges; ++range)
    rangeStart[range] = rangeStart[range - 1] + rangeBytes[range - 1];

  // Each input rewrites only its own records, so the inputs go in parallel,
  // each one that names no string its table lacks. One that does is
  // reported by the rewrite itself, which then runs in input order so the
  // message (which ends the run) is the one the first such input gives.
  // The first piece links the merged table meanwhile.
  StringTable &table = cOutput.cStringTbl;
  table.clear();
  std::vector<char> rewritten(inputs, 0);
  forEachInParallel(inputs + 1, [&](std::size_t piece) {
    if (piece == 0) {
      for (std::size_t range = 0; range < ranges; ++range)
        for (auto &entry : entries[range]) {
          entry.key() = static_cast<int>(
              rangeStart[range] + static_cast<std::uint32_t>(entry.key()));
          table.insert(table.end(), std::move(entry));
        }
      return;
    }
    const InputIndex input = piece - 1;
    for (std::size_t at = firstMove[input]; at < firstMove[input + 1]; ++at)
      moves[at].newOffset += rangeStart[rangeOf[at]];
    const StringMove *first = moves.get() + firstMove[input];
    const std::size_t own = firstMove[input + 1] - firstMove[input];
    rewritten[input] = replaceIfAllMoved(*cCoff[input], first, own) ? 1 : 0;
  });
  for (InputIndex input = 0; input < inputs; ++input)
    if (!rewritten[input])
      replaceStringTbl(*cCoff[input], moves.get() + firstMove[input],
                       firstMove[input + 1] - firstMove[input]);
  return 1;
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
    if (isFileSymbol(sym, move) && i + 1 < table.size() &&
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
  rekeyStrings(coff, moves);
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
  // Every definition in the order a walk over the inputs meets it (the
  // linker's own symbols come first), its name read and hashed on all
  // threads, each input into its own stretch of one list. The names are
  // then entered in that order: the first name found entered already is
  // the repeat the walk meets first, and every name met before it is in.
  struct Definition {
    std::string_view name;
    std::size_t hash;
    syment *sym;
  };
  auto define = [](std::string_view name, syment *sym) {
    return Definition{name, ExtSymDefs::hashOf(name), sym};
  };
  std::vector<Definition> own;
  own.push_back(define("_cinit", &cInitSym));
  if (cStackDescSet) {
    const auto held = cScnMem.find(cStackScnName);
    ORV_ASSERT(held != cScnMem.end(), kModule);
    const Memory &memory = *held->second;
    makeLinkerSymbol(cStackSym, "_stack",
                     memory.getSectionStart(cStackScnName));
    makeLinkerSymbol(
        cStkSizeSym, "_stksize",
        static_cast<std::uint32_t>(memory.getSectionSize(cStackScnName)));
    own.push_back(define("_stack", &cStackSym));
    own.push_back(define("_stksize", &cStkSizeSym));
  }
  std::vector<std::size_t> first(cCoff.size() + 1, 0);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    const std::vector<syment> &table = cCoff[input]->cSymbolTbl;
    std::size_t count = 0;
    for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i))
      count += Coff::isExtDef(table[i]) ? 1 : 0;
    first[input + 1] = count;
  });
  first[0] = own.size();
  for (InputIndex input = 0; input < cCoff.size(); ++input)
    first[input + 1] += first[input];
  std::vector<Definition> all(first.back());
  std::copy(own.begin(), own.end(), all.begin());
  // Per input: how many of its definitions were read (all, unless a name
  // is missing from its table).
  std::vector<std::size_t> found(cCoff.size(), 0);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    Coff &coff = *cCoff[input];
    std::vector<syment> &table = coff.cSymbolTbl;
    Definition *to = all.data() + first[input];
    std::size_t count = 0;
    for (std::size_t i = 0; i < table.size(); i = nextSymbol(table, i)) {
      if (!Coff::isExtDef(table[i]))
        continue;
      std::string_view name;
      if (!Coff::findName(table[i], coff.cStringTbl, name))
        break; // reported below, in input order
      to[count++] = define(name, &table[i]);
    }
    found[input] = count;
  });
  for (InputIndex input = 0; input < cCoff.size(); ++input) {
    if (found[input] == first[input + 1] - first[input])
      continue;
    // Its name is reported by the plain reading, which ends the run.
    const Coff &coff = *cCoff[input];
    for (std::size_t i = 0; i < coff.cSymbolTbl.size();
         i = nextSymbol(coff.cSymbolTbl, i))
      if (Coff::isExtDef(coff.cSymbolTbl[i]))
        Coff::getName(coff.cSymbolTbl[i], coff.cStringTbl);
  }
  // Each shard of the index takes its names in walk order on a thread of
  // its own; the names of a shard are listed first, as one list cut into
  // stretches. When some name is met twice, the index is filled again in
  // walk order on this thread, which stops at the repeat the walk meets
  // first.
  std::vector<std::size_t> shardFirst(ExtSymDefs::kShards + 1, 0);
  std::vector<std::size_t> shardBytes(ExtSymDefs::kShards, 0);
  auto forEachDefined = [&](auto visit) {
    for (std::size_t at = 0; at < first[0]; ++at)
      visit(at);
    for (InputIndex input = 0; input < cCoff.size(); ++input)
      for (std::size_t at = first[input]; at < first[input] + found[input];
           ++at)
        visit(at);
  };
  forEachDefined([&](std::size_t at) {
    const std::size_t shard = ExtSymDefs::shardOf(all[at].hash);
    ++shardFirst[shard + 1];
    shardBytes[shard] += all[at].name.size();
  });
  for (std::size_t shard = 0; shard < ExtSymDefs::kShards; ++shard)
    shardFirst[shard + 1] += shardFirst[shard];
  std::vector<std::size_t> byShard(shardFirst.back());
  {
    std::vector<std::size_t> next(shardFirst.begin(), shardFirst.end() - 1);
    forEachDefined([&](std::size_t at) {
      byShard[next[ExtSymDefs::shardOf(all[at].hash)]++] = at;
    });
  }
  std::vector<char> repeated(ExtSymDefs::kShards, 0);
  forEachLargeInParallel(ExtSymDefs::kShards, [&](std::size_t shard) {
    cExtSymDef.reserve(shard, shardFirst[shard + 1] - shardFirst[shard],
                       shardBytes[shard]);
    for (std::size_t k = shardFirst[shard]; k < shardFirst[shard + 1]; ++k) {
      const Definition &definition = all[byShard[k]];
      if (!cExtSymDef.add(definition.name, definition.hash, definition.sym)) {
        repeated[shard] = 1;
        return;
      }
    }
  });
  if (std::find(repeated.begin(), repeated.end(), 1) == repeated.end())
    return 1;
  cExtSymDef.clear();
  auto enter = [&](const Definition *from, const Definition *to) {
    for (const Definition *definition = from; definition != to; ++definition)
      if (!cExtSymDef.add(definition->name, definition->hash,
                          definition->sym)) {
        error = "symbol '" + std::string(definition->name) +
                "' has multiple definitions.";
        return false;
      }
    return true;
  };
  if (!enter(all.data(), all.data() + first[0]))
    return 0;
  for (InputIndex input = 0; input < cCoff.size(); ++input)
    if (!enter(all.data() + first[input],
               all.data() + first[input] + found[input]))
      return 0;
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
      std::string_view name;
      if (!Coff::findName(sym, coff.cStringTbl, name))
        Coff::getName(sym, coff.cStringTbl); // reports, ends the run
      if (name.empty() || name[0] != '.') {
        const syment *def = cExtSymDef.find(name);
        if (def == nullptr) {
          text = "could not resolve symbol '" + std::string(name) +
                 "' in file '" + coff.cFileName + "'.";
          return false;
        }
        sym.n_value = def->n_value;
        continue;
      }
      // ".name" refers to the start of section "name".
      const std::string secName(name.substr(1));
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
