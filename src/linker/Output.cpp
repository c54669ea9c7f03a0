// Building the output object from the relocated and patched inputs:
// section numbers, symbol table, section contents, line numbers, the long
// image names, section headers and the file header; then its layout, check
// and write.
#include "Linker.h"

#include "Assert.h"
#include "ByteOrder.h"
#include "IntKeySlices.h"
#include "MapFile.h"
#include "ParallelWork.h"
#include "mginst/InstructionSet.h"
#include "mgproc/Processor.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string_view>
#include <utility>

namespace {

const char *const kModule = "Linker";

constexpr std::uint8_t rom = kProgramMemory;
constexpr std::uint8_t ram = kDataMemory;

std::string imageName(const std::string &name) { return name + "_i"; }

template <class Map, class Key>
typename Map::mapped_type valueOr(const Map &map, const Key &key,
                                  typename Map::mapped_type fallback) {
  const auto it = map.find(key);
  return it == map.end() ? fallback : it->second;
}

// The value of key in a map walked in key order alongside another map of
// the same names: the entry at it when it holds key (moving it on), else
// a lookup; 0 when the map lacks the key.
int alongside(const std::map<std::string, int> &map,
              std::map<std::string, int>::const_iterator &it,
              const std::string &key) {
  if (it != map.end() && it->first == key)
    return (it++)->second;
  return valueOr(map, key, 0);
}

// The byte offsets (bytes 0-3 and 12-15) of the index fields of an
// auxiliary entry that name symbol-table positions.
constexpr std::size_t kTagNdxOffset = 0;
constexpr std::size_t kEndNdxOffset = 12;

void addToField(std::uint8_t *bytes, std::size_t offset, std::uint32_t base) {
  writeLE32(bytes + offset, readLE32(bytes + offset) + base);
}

// Moves the symbol indexes an auxiliary entry holds by base.
syment rebaseAux(const syment &entry, int kind, std::uint32_t base) {
  std::uint8_t bytes[syment::sizeInBytes];
  entry.encode(bytes);
  switch (kind) {
  case kAuxTag:
  case kAuxBobf:
    addToField(bytes, kEndNdxOffset, base);
    break;
  case kAuxEos:
  case kAuxArr:
  case kAuxVar:
    addToField(bytes, kTagNdxOffset, base);
    break;
  case kAuxFcn:
    addToField(bytes, kTagNdxOffset, base);
    addToField(bytes, kEndNdxOffset, base);
    break;
  default:
    return entry;
  }
  return syment::decode(bytes);
}

} // namespace

int Linker::nextFreeStringOffset() const {
  const std::map<int, std::string> &strTbl = cOutput.cStringTbl;
  if (strTbl.empty())
    return 4;
  const auto &last = *strTbl.rbegin();
  return last.first + static_cast<int>(last.second.size()) + 1;
}

std::uint16_t Linker::bytesPerLocation(std::uint8_t memType) const {
  ORV_ASSERT((memType == rom) || (memType == ram), kModule);
  if (memType == rom) {
    ORV_ASSERT(cRomWidthBits, kModule);
    return static_cast<std::uint16_t>((cRomWidthBits + 7) / 8);
  }
  ORV_ASSERT(cRamWidthBits, kModule);
  return static_cast<std::uint16_t>((cRamWidthBits + 7) / 8);
}

// Initial data lives in program memory: as one RETLW word per byte where
// program words are not whole bytes, as a plain copy otherwise.
Data Linker::romImage(const Data &bytes) const {
  if (cRomWidthBits % 8 == 0)
    return bytes;
  Data image(static_cast<std::uint32_t>(
      std::min<std::uint64_t>(2ull * bytes.size(), UINT32_MAX)));
  for (std::uint32_t i = 0; i < bytes.size() && 2ull * i + 1 < image.size();
       ++i) {
    std::uint16_t word = 0;
    setOpcode(&word, Mnem::RETLW, cFamily);
    setOperand0(&word, bytes.bytes()[i], cFamily);
    writeLE16(image.bytes() + 2 * i, word);
  }
  return image;
}

std::uint32_t Linker::outputSectionStart(const std::string &name) const {
  const auto it = cScnMem.find(name);
  ORV_ASSERT(it != cScnMem.end() && it->second != nullptr, kModule);
  return it->second->getSectionStart(name);
}

// The section names of the output phases, each numbered once: the merged
// names (cScnType's, in its order) first, then the images of initialised-
// data sections and any input section name that was not merged. Every
// input section is known by its name's number, so the phases count and
// deal by number instead of looking names up.
struct Linker::SectionIds {
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  // Type of a name that is not merged.
  static constexpr std::uint8_t kNoType = 0xFF;
  std::vector<const std::string *> names; // by number
  std::vector<std::uint8_t> types;        // by number
  std::size_t merged = 0;                 // the numbers of cScnType's names
  std::vector<std::uint32_t> image;       // per merged name; kNone: none
  // Every input's sections in cScnNum order, input after input: input i's
  // are [firstOfInput[i], firstOfInput[i + 1]).
  std::vector<std::size_t> firstOfInput;
  std::vector<std::uint32_t> ofSection;
  // The numbers of the init table's and the stack's names; kNone: none.
  std::uint32_t initNumber = kNone;
  std::uint32_t stackNumber = kNone;
  std::deque<std::string> images; // the image names' texts
  // Only while the numbers are given: its memory goes before the phases'.
  FlatNameIndex<std::uint32_t> byName{0};

  std::uint32_t add(const std::string &name, std::uint8_t type) {
    const auto number = static_cast<std::uint32_t>(names.size());
    names.push_back(&name);
    types.push_back(type);
    byName.add(name, number);
    return number;
  }
};

std::shared_ptr<const Linker::SectionIds> Linker::sectionIds() {
  if (cHeldSectionIds)
    return cHeldSectionIds;
  auto made = std::make_shared<SectionIds>();
  SectionIds &ids = *made;
  ids.names.reserve(2 * cScnType.size() + 2);
  ids.types.reserve(2 * cScnType.size() + 2);
  std::size_t idata = 0;
  for (const auto &entry : cScnType) {
    ids.names.push_back(&entry.first);
    ids.types.push_back(entry.second);
    idata += entry.second == kScnTypeIdata ? 1 : 0;
  }
  ids.merged = ids.names.size();
  // Hashed on all threads, entered here.
  std::vector<std::size_t> hashes(ids.merged);
  forEachInParallel(ids.merged, [&](std::size_t number) {
    hashes[number] = FlatNameIndex<std::uint32_t>::hashOf(*ids.names[number]);
  });
  // Room for the merged names and their images.
  ids.byName = FlatNameIndex<std::uint32_t>(ids.merged + idata + 16);
  for (std::size_t number = 0; number < ids.merged; ++number)
    ids.byName.add(*ids.names[number], hashes[number],
                   static_cast<std::uint32_t>(number));
  ids.image.assign(ids.merged, SectionIds::kNone);
  for (std::size_t number = 0; number < ids.merged; ++number) {
    if (ids.types[number] != kScnTypeIdata)
      continue;
    ids.images.push_back(imageName(*ids.names[number]));
    const std::string &image = ids.images.back();
    const std::uint32_t *known = ids.byName.find(image);
    ids.image[number] =
        known != nullptr ? *known : ids.add(image, SectionIds::kNoType);
  }
  ids.firstOfInput.assign(cCoff.size() + 1, 0);
  for (InputIndex input = 0; input < cCoff.size(); ++input)
    ids.firstOfInput[input + 1] =
        ids.firstOfInput[input] + cCoff[input]->cScnNum.size();
  ids.ofSection.assign(ids.firstOfInput.back(), SectionIds::kNone);
  std::vector<char> stray(cCoff.size(), 0);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    std::size_t at = ids.firstOfInput[input];
    for (const auto &entry : cCoff[input]->cScnNum) {
      const std::uint32_t *known = ids.byName.find(entry.second);
      if (known != nullptr)
        ids.ofSection[at] = *known;
      else
        stray[input] = 1;
      ++at;
    }
  });
  // A name that was not merged gets its number in input order.
  for (InputIndex input = 0; input < cCoff.size(); ++input) {
    if (!stray[input])
      continue;
    std::size_t at = ids.firstOfInput[input];
    for (const auto &entry : cCoff[input]->cScnNum) {
      if (ids.ofSection[at] == SectionIds::kNone) {
        const std::uint32_t *known = ids.byName.find(entry.second);
        ids.ofSection[at] = known != nullptr
                                ? *known
                                : ids.add(entry.second, SectionIds::kNoType);
      }
      ++at;
    }
  }
  auto numberOf = [&](const std::string &name) {
    const std::uint32_t *known = ids.byName.find(name);
    return known != nullptr ? *known : SectionIds::kNone;
  };
  ids.initNumber = numberOf(cInitScnName);
  ids.stackNumber = numberOf(cStackScnName);
  ids.byName = FlatNameIndex<std::uint32_t>(0);
  if (cHoldSectionIds)
    cHeldSectionIds = made;
  return made;
}

int Linker::buildOutputScnNum(std::string &) {
  const std::shared_ptr<const SectionIds> held = sectionIds();
  const SectionIds &ids = *held;
  // Every input section in input order, each with its image (an
  // initialised-data section's) right after it; each name is numbered at
  // its first place.
  std::vector<char> seen(ids.names.size(), 0);
  std::vector<std::uint32_t> order;
  order.reserve(ids.names.size());
  auto meet = [&](std::uint32_t number) {
    if (seen[number])
      return;
    seen[number] = 1;
    order.push_back(number);
  };
  for (const std::uint32_t number : ids.ofSection) {
    meet(number);
    if (number < ids.merged && ids.image[number] != SectionIds::kNone)
      meet(ids.image[number]);
  }
  // Numbers only grow, so each entry goes in at the end. Into an empty
  // map, the entries (a node and a copy of the name each) are made in
  // slices on all threads and then moved in, which allocates nothing.
  constexpr std::size_t kSliceEntries = 1024;
  using Numbers = std::map<int, std::string>;
  std::vector<Numbers> slices;
  if (cOutput.cScnNum.empty() && order.size() >= 4 * kSliceEntries)
    slices.resize((order.size() + kSliceEntries - 1) / kSliceEntries);
  forEachLargeInParallel(slices.size(), [&](std::size_t slice) {
    const std::size_t last =
        std::min(order.size(), (slice + 1) * kSliceEntries);
    for (std::size_t rank = slice * kSliceEntries; rank < last; ++rank)
      slices[slice].emplace_hint(slices[slice].end(),
                                 static_cast<int>(rank + 1),
                                 *ids.names[order[rank]]);
  });
  for (Numbers &made : slices)
    while (!made.empty())
      cOutput.cScnNum.insert(cOutput.cScnNum.end(), made.extract(made.begin()));
  int count = 0;
  auto enter = [&](const std::string &name) {
    cOutput.cScnNum.emplace_hint(cOutput.cScnNum.end(), ++count, std::string())
        ->second = name;
  };
  if (slices.empty())
    for (const std::uint32_t number : order)
      enter(*ids.names[number]);
  else
    count = static_cast<int>(order.size());
  // Names met here that no input section has.
  std::vector<const std::string *> added;
  auto number = [&](const std::string &name, std::uint32_t known) {
    if (known != SectionIds::kNone ? seen[known] != 0
                                   : std::any_of(added.begin(), added.end(),
                                                 [&](const std::string *other) {
                                                   return *other == name;
                                                 }))
      return;
    if (known != SectionIds::kNone)
      seen[known] = 1;
    else
      added.push_back(&name);
    enter(name);
  };
  number(cInitScnName, ids.initNumber);
  if (cStackDescSet)
    number(cStackScnName, ids.stackNumber);
  return 1;
}

int Linker::buildOutputSymbolTbl(std::string &) {
  if (cStrip)
    return 1;
  // Names in cOutput.cScnNum, which this phase does not change; a name
  // numbered twice takes its last number, as the index keeps the first
  // entry of a name and is filled from the last number down.
  FlatNameIndex<int> outputNumber(cOutput.cScnNum.size());
  for (auto entry = cOutput.cScnNum.crbegin(); entry != cOutput.cScnNum.crend();
       ++entry)
    outputNumber.add(entry->second, entry->first);

  // Every input's entries keep their count, so where each input's part of
  // the table starts is known before any is copied: the inputs are copied
  // in parallel, each into its own part.
  const std::size_t firstSymbol = cOutput.cSymbolTbl.size();
  const std::size_t firstAuxType = cOutput.cAuxType.size();
  std::vector<std::uint32_t> base(cCoff.size() + 1, 0); // index bases
  for (InputIndex input = 0; input < cCoff.size(); ++input)
    base[input + 1] = base[input] + static_cast<std::uint32_t>(
                                        cCoff[input]->cSymbolTbl.size());
  cOutput.cSymbolTbl.resize(firstSymbol + base.back());
  cOutput.cAuxType.resize(firstAuxType + base.back());
  for (InputIndex input = 0; input < cCoff.size(); ++input)
    cSymIndexBase.emplace_hint(cSymIndexBase.end(), input, 0)->second =
        base[input];

  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    const Coff &coff = *cCoff[input];
    // Input section number to output section number, in input order.
    std::vector<std::pair<int, std::int16_t>> renumber;
    renumber.reserve(coff.cScnNum.size());
    for (const auto &entry : coff.cScnNum) {
      const int *number = outputNumber.find(entry.second);
      renumber.emplace_back(entry.first, static_cast<std::int16_t>(
                                             number == nullptr ? 0 : *number));
    }
    syment *out = cOutput.cSymbolTbl.data() + firstSymbol + base[input];
    int *outKind = cOutput.cAuxType.data() + firstAuxType + base[input];
    const std::vector<syment> &table = coff.cSymbolTbl;
    std::size_t k = 0;
    while (k < table.size()) {
      syment sym = table[k];
      if (sym.n_scnum > 0) {
        const auto to =
            std::lower_bound(renumber.begin(), renumber.end(), int{sym.n_scnum},
                             [](const std::pair<int, std::int16_t> &entry,
                                int key) { return entry.first < key; });
        sym.n_scnum =
            to != renumber.end() && to->first == sym.n_scnum ? to->second : 0;
      }
      out[k] = sym;
      outKind[k] = kAuxNone;
      if (sym.n_numaux == 1 && k + 1 < table.size()) {
        const int kind = Coff::auxType(sym);
        out[k + 1] = rebaseAux(table[k + 1], kind, base[input]);
        outKind[k + 1] = kind;
        ++k;
      }
      ++k;
    }
  });
  return 1;
}

int Linker::buildOutputRawData(std::string &) {
  const std::shared_ptr<const SectionIds> heldIds = sectionIds();
  const SectionIds &ids = *heldIds;
  // A buffer holds the merged size and every piece, wherever the rounding
  // of piece starts to whole locations put it.
  struct Piece {
    const Data *bytes;
    std::uint64_t startByte;
  };
  struct Buffer {
    const std::string *name;
    std::uint64_t sizeInBytes = 0;
    std::size_t pieceCount = 0;
    std::size_t firstPiece = 0; // in the pieces of all buffers
    Data data;
  };
  constexpr std::size_t kNoBuffer = static_cast<std::size_t>(-1);
  // The buffer of each name by its number. cScnSize holds the merged
  // names, as cScnType does: the two are walked alongside. A name of
  // cScnSize's that is not merged is found by name.
  std::vector<Buffer> buffers;
  buffers.reserve(cScnSize.size());
  std::vector<std::size_t> bufferOf(ids.names.size(), kNoBuffer);
  FlatNameIndex<std::size_t> unmerged(0);
  std::size_t typed = 0;
  for (const auto &entry : cScnSize) {
    int order = 1;
    while (typed < ids.merged &&
           (order = ids.names[typed]->compare(entry.first)) < 0)
      ++typed;
    if (typed < ids.merged && order == 0)
      bufferOf[typed] = buffers.size();
    else
      unmerged.add(entry.first, buffers.size());
    buffers.push_back({&entry.first, entry.second, 0, 0, Data()});
  }
  const std::shared_ptr<const PlaceIndex> held = placeIndex();
  const PlaceIndex &places = *held;
  // Each merged name's place, found once on all threads.
  std::vector<const Place *> placeOf(ids.merged, nullptr);
  forEachInParallel(ids.merged, [&](std::size_t number) {
    placeOf[number] = places.find(*ids.names[number]);
  });
  // Each input section's piece (bytes null: none), at the section's place
  // in ids.ofSection, with its buffer (kNoBuffer: none yet).
  struct Found {
    std::size_t buffer;
    Piece piece;
  };
  std::vector<Found> found(ids.ofSection.size(),
                           Found{kNoBuffer, Piece{nullptr, 0}});
  // False where the input's sections break what the model promises; the
  // input is then taken again in its turn, where the check reports.
  auto findPieces = [&](InputIndex input, bool check) {
    const Coff &coff = *cCoff[input];
    std::size_t at = ids.firstOfInput[input];
    for (const auto &entry : coff.cScnNum) {
      const std::string &name = entry.second;
      const std::size_t here = at++;
      const std::uint32_t number = ids.ofSection[here];
      const bool merged = number < ids.merged;
      if (merged && ids.types[number] == kScnTypeUdata)
        continue;
      const Place *place = merged ? placeOf[number] : places.find(name);
      const Memory *mem = place == nullptr ? nullptr : place->memory;
      if (!check && mem == nullptr)
        return false;
      ORV_ASSERT(mem != nullptr, kModule);
      if (!check && place->range == nullptr && !mem->isAllocated(name))
        return false;
      const Range &range =
          place->range != nullptr ? *place->range : mem->sectionRange(name);
      if (!check && !range.isLoaded(input))
        return false;
      const std::uint32_t sectionStart = range.getStart();
      const std::uint32_t loadStart = range.getLoadStart(input);
      const std::uint32_t size = range.getLoadSize(input);
      const auto data = coff.cRawData.find(name);
      const std::uint32_t dataSize =
          data == coff.cRawData.end() ? 0 : data->second.size();
      if (!check && size != dataSize)
        return false;
      ORV_ASSERT(size == dataSize, kModule);
      if (size == 0)
        continue;
      const std::uint64_t startByte =
          std::uint64_t{bytesPerLocation(mem->getType())} *
          (loadStart - sectionStart);
      found[here] = {bufferOf[number], Piece{&data->second, startByte}};
    }
    return true;
  };
  // Found on all threads, then dealt to the buffers in input order.
  std::vector<char> clean(cCoff.size(), 0);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    clean[input] = findPieces(input, false) ? 1 : 0;
  });
  for (InputIndex input = 0; input < cCoff.size(); ++input) {
    if (clean[input])
      continue;
    std::fill(found.begin() + ids.firstOfInput[input],
              found.begin() + ids.firstOfInput[input + 1],
              Found{kNoBuffer, Piece{nullptr, 0}});
    findPieces(input, true); // asserts
  }
  // Each buffer's pieces lie side by side in input order.
  for (std::size_t at = 0; at < found.size(); ++at) {
    Found &piece = found[at];
    if (piece.piece.bytes == nullptr)
      continue;
    if (piece.buffer == kNoBuffer) {
      // Every input section is merged, so this does not happen; should
      // it, the section still gets its buffer.
      const std::uint32_t number = ids.ofSection[at];
      const std::string &name = *ids.names[number];
      const std::size_t *known = unmerged.find(name);
      if (known == nullptr) {
        unmerged.add(name, buffers.size());
        buffers.push_back({&name, 0, 0, 0, Data()});
        known = unmerged.find(name);
      }
      piece.buffer = bufferOf[number] = *known;
    }
    Buffer &buffer = buffers[piece.buffer];
    buffer.sizeInBytes = std::max(
        buffer.sizeInBytes, piece.piece.startByte + piece.piece.bytes->size());
    ++buffer.pieceCount;
  }
  std::size_t pieceCount = 0;
  for (Buffer &buffer : buffers) {
    ORV_ASSERT(buffer.sizeInBytes <= UINT32_MAX, kModule);
    buffer.firstPiece = pieceCount;
    pieceCount += buffer.pieceCount;
    buffer.pieceCount = 0;
  }
  std::vector<Piece> laid(pieceCount);
  for (const Found &piece : found)
    if (piece.piece.bytes != nullptr) {
      Buffer &buffer = buffers[piece.buffer];
      laid[buffer.firstPiece + buffer.pieceCount++] = piece.piece;
    }
  // Each buffer is its own: they are made and filled in parallel, the
  // pieces of one buffer in input order, so overlapping pieces (overlay
  // sections) overwrite in input order.
  auto fill = [&](Buffer &buffer) {
    buffer.data = Data(static_cast<std::uint32_t>(buffer.sizeInBytes));
    for (std::size_t piece = buffer.firstPiece;
         piece < buffer.firstPiece + buffer.pieceCount; ++piece)
      std::copy_n(laid[piece].bytes->bytes(), laid[piece].bytes->size(),
                  buffer.data.bytes() + laid[piece].startByte);
  };
  // The first buffers are those of cScnSize, in its order, so most
  // entries go in at the end. Into an empty map, the entries (a node and
  // a copy of the name each) of cScnSize's buffers, when there are no
  // others, are made with their buffers in slices on all threads and then
  // moved in, in name order, which allocates nothing.
  using Contents = std::map<std::string, Data>;
  constexpr std::size_t kSliceBuffers = 1024;
  std::vector<Contents> slices;
  if (cOutput.cRawData.empty() && buffers.size() == cScnSize.size() &&
      buffers.size() >= 4 * kSliceBuffers)
    slices.resize((buffers.size() + kSliceBuffers - 1) / kSliceBuffers);
  std::vector<Contents::iterator> placed;
  placed.reserve(buffers.size());
  if (slices.empty()) {
    forEachInParallel(buffers.size(),
                      [&](std::size_t at) { fill(buffers[at]); });
    for (Buffer &buffer : buffers) {
      placed.push_back(cOutput.cRawData.emplace_hint(cOutput.cRawData.end(),
                                                     *buffer.name, Data()));
      placed.back()->second = std::move(buffer.data);
    }
  } else {
    forEachLargeInParallel(slices.size(), [&](std::size_t slice) {
      const std::size_t last =
          std::min(buffers.size(), (slice + 1) * kSliceBuffers);
      for (std::size_t at = slice * kSliceBuffers; at < last; ++at) {
        fill(buffers[at]);
        slices[slice]
            .emplace_hint(slices[slice].end(), *buffers[at].name, Data())
            ->second = std::move(buffers[at].data);
      }
    });
    for (Contents &made : slices)
      while (!made.empty())
        placed.push_back(cOutput.cRawData.insert(cOutput.cRawData.end(),
                                                 made.extract(made.begin())));
  }

  // The images are made on all threads. An image's name sorts soon after
  // its section's, where the search for its place starts.
  struct Image {
    const std::string *name;
    std::map<std::string, Data>::iterator section;
    Data bytes;
  };
  std::vector<Image> images;
  for (std::size_t number = 0; number < ids.merged; ++number)
    if (ids.types[number] == kScnTypeIdata &&
        bufferOf[number] < cScnSize.size())
      images.push_back(
          {ids.names[ids.image[number]], placed[bufferOf[number]], Data()});
  forEachInParallel(images.size(), [&](std::size_t image) {
    images[image].bytes = romImage(images[image].section->second);
  });
  for (Image &image : images)
    cOutput.cRawData
        .emplace_hint(std::next(image.section), *image.name, Data())
        ->second = std::move(image.bytes);
  cOutput.cRawData[cInitScnName] = romImage(cInitTable);
  if (cStackDescSet)
    cOutput.cRawData[cStackScnName] = Data(cStackDesc.getSize());
  return 1;
}

int Linker::buildOutputLineInfo(std::string &) {
  if (cStrip)
    return 1;
  const std::shared_ptr<const SectionIds> heldIds = sectionIds();
  const SectionIds &ids = *heldIds;
  // The lines of one section come input after input; different sections
  // are filled in parallel.
  struct Part {
    const std::vector<coff_lineno> *lines;
    std::uint32_t base;
  };
  // Each input's code sections with lines are found on all threads, then
  // dealt to their sections, by their names' numbers, in input order.
  struct Found {
    std::uint32_t number;
    Part part;
  };
  std::vector<std::vector<Found>> found(cCoff.size());
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    const Coff &coff = *cCoff[input];
    if (coff.cLineNum.empty())
      return;
    const std::uint32_t base = valueOr(cSymIndexBase, input, 0u);
    // At most one piece per section with lines.
    found[input].reserve(coff.cLineNum.size());
    const std::uint32_t *numbers =
        ids.ofSection.data() + ids.firstOfInput[input];
    for (const auto &entry : coff.cScnNum) {
      const std::uint32_t number = *numbers++;
      if (number >= ids.merged || ids.types[number] != kScnTypeCode)
        continue;
      const auto lines = coff.cLineNum.find(entry.second);
      if (lines == coff.cLineNum.end())
        continue;
      found[input].push_back({number, Part{&lines->second, base}});
    }
  });
  // Each section's parts in input order, the sections in name order.
  std::vector<std::size_t> partCount(ids.merged + 1, 0);
  for (const std::vector<Found> &pieces : found)
    for (const Found &piece : pieces)
      ++partCount[piece.number + 1];
  for (std::size_t number = 0; number < ids.merged; ++number)
    partCount[number + 1] += partCount[number];
  std::vector<Part> parts(partCount.back());
  {
    std::vector<std::size_t> next(partCount.begin(), partCount.end() - 1);
    for (const std::vector<Found> &pieces : found)
      for (const Found &piece : pieces)
        parts[next[piece.number]++] = piece.part;
  }
  // Every part's place in its section's list is known ahead, so the parts
  // (a large shared section has one per input) are copied in parallel.
  std::vector<coff_lineno *> placed(parts.size(), nullptr);
  auto hint = cOutput.cLineNum.end();
  for (std::size_t number = 0; number < ids.merged; ++number) {
    const std::size_t first = partCount[number];
    const std::size_t last = partCount[number + 1];
    if (first == last)
      continue;
    hint = cOutput.cLineNum.try_emplace(hint, *ids.names[number]);
    std::vector<coff_lineno> &out = hint->second;
    ++hint;
    std::size_t at = out.size();
    std::size_t count = at;
    for (std::size_t part = first; part < last; ++part)
      count += parts[part].lines->size();
    out.resize(count);
    for (std::size_t part = first; part < last; ++part) {
      placed[part] = out.data() + at;
      at += parts[part].lines->size();
    }
  }
  forEachInParallel(parts.size(), [&](std::size_t at) {
    const Part &part = parts[at];
    coff_lineno *to = placed[at];
    for (coff_lineno line : *part.lines) {
      line.l_srcndx += part.base;
      line.l_fcnndx += part.base;
      *to++ = line;
    }
  });
  return 1;
}

int Linker::addInitSectionNames(std::string &) {
  const std::shared_ptr<const SectionIds> held = sectionIds();
  const SectionIds &ids = *held;
  for (std::size_t number = 0; number < ids.merged; ++number) {
    if (ids.types[number] != kScnTypeIdata)
      continue;
    const std::string &image = *ids.names[ids.image[number]];
    // Each offset lies past the last string, so it goes in at the end.
    if (image.size() > 8)
      cOutput.cStringTbl
          .emplace_hint(cOutput.cStringTbl.end(), nextFreeStringOffset(),
                        std::string())
          ->second = image;
  }
  return 1;
}

void Linker::setOutputScnHdr(const std::string &name, std::uint32_t startLoc,
                             int type, int absolute, int shared, int access) {
  // Headers come mostly in name order, so most go in at the end.
  scnhdr &hdr =
      cOutput.cScnHdr.emplace_hint(cOutput.cScnHdr.end(), name, scnhdr())
          ->second;
  // The index gives the offset Coff::setName would find by scanning the
  // whole table; a name it lacks still goes through setName.
  const auto known = cOutputNameOffset.find(name);
  if (name.size() > 8 && known != cOutputNameOffset.end() &&
      known->second != kNoNameOffset)
    hdr.setNameOffset(known->second);
  else
    Coff::setName(hdr, cOutput.cStringTbl, name);
  hdr.s_paddr = startLoc;
  hdr.s_vaddr = 0;
  Coff::setScnFlags(hdr, type, absolute, shared, access);
}

namespace {

// The names that want an offset, each with a slot in a list of offsets.
using NameSlots = FlatNameIndex<std::uint32_t>;

// A first, cheap test of a long string against a few wanted names: its
// length and its first and last 8 bytes mixed into one bit of a small
// table. Most strings of a large table are other names, which fail it
// without being hashed whole or looked up.
class LongNameFilter {
public:
  explicit LongNameFilter(const std::vector<std::string_view> &names) {
    std::size_t bits = 1024;
    while (bits < 16 * names.size())
      bits *= 2;
    cMask = bits - 1;
    cWords.assign(bits / 64, 0);
    for (const std::string_view name : names) {
      const std::size_t bit = bitOf(name);
      cWords[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }
  }
  // False only when no wanted name is text (which is longer than 8).
  bool mayHold(std::string_view text) const {
    const std::size_t bit = bitOf(text);
    return (cWords[bit / 64] >> (bit % 64) & 1) != 0;
  }

private:
  std::size_t bitOf(std::string_view text) const {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::memcpy(&first, text.data(), 8);
    std::memcpy(&last, text.data() + text.size() - 8, 8);
    std::uint64_t mixed = (first * 0x9E3779B97F4A7C15ull) ^
                          ((last + text.size()) * 0xC2B2AE3D27D4EB4Full);
    mixed ^= mixed >> 29;
    return static_cast<std::size_t>(mixed >> 17) & cMask;
  }

  std::vector<std::uint64_t> cWords;
  std::size_t cMask = 0;
};

// Enters in each slot of offsets the lowest offset at which the table
// holds its name, where it still has none. The table is searched in runs
// of offsets on all threads; the runs are then taken in offset order, so
// the lowest offset wins as in one walk. names are those of slots, all
// longer than 8.
void findLowestOffsets(const std::map<int, std::string> &strTbl,
                       const NameSlots &slots,
                       const std::vector<std::string_view> &names,
                       std::vector<std::uint32_t> &offsets,
                       std::uint32_t none) {
  const LongNameFilter filter(names);
  const auto runs = intKeySlices(strTbl);
  std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> found(
      runs.size() - 1);
  forEachLargeInParallel(found.size(), [&](std::size_t run) {
    for (auto at = runs[run]; at != runs[run + 1]; ++at) {
      // Only long names want an offset.
      if (at->second.size() <= 8 || !filter.mayHold(at->second))
        continue;
      if (const std::uint32_t *slot = slots.find(at->second))
        found[run].emplace_back(*slot, static_cast<std::uint32_t>(at->first));
    }
  });
  for (const auto &run : found)
    for (const auto &match : run)
      if (offsets[match.first] == none)
        offsets[match.first] = match.second;
}

} // namespace

int Linker::buildOutputScnHdrs(std::string &) {
  // The headers in the order they are set. Each is made on its own
  // thread where nothing can go wrong; the rest (a section not placed, a
  // name the table lacks) are set in their turn, which reports as before.
  struct Planned {
    const std::string *section = nullptr; // null: the name is in own
    std::string own;
    const Memory *memory = nullptr; // the section's, from cScnMem
    int type = 0, absolute = 0, shared = 0, access = 0;
    bool ready = false;
    std::size_t hash = 0; // of the name
    scnhdr hdr;
    const std::string &name() const {
      return section != nullptr ? *section : own;
    }
  };
  // The sections in name order, each with its place in the plan (an
  // initialised-data section's image right after it).
  std::vector<std::map<std::string, std::uint8_t>::const_iterator> sections;
  std::vector<std::size_t> planAt;
  sections.reserve(cScnType.size());
  planAt.reserve(cScnType.size());
  std::size_t planned = 0;
  for (auto entry = cScnType.cbegin(); entry != cScnType.cend(); ++entry) {
    sections.push_back(entry);
    planAt.push_back(planned);
    planned += entry->second == kScnTypeIdata ? 2 : 1;
  }
  std::vector<Planned> plan;
  plan.reserve(planned + 2);
  plan.resize(planned);
  auto plain = [&](std::string name, int type) {
    plan.emplace_back();
    plan.back().own = std::move(name);
    plan.back().type = type;
    plan.back().hash = NameSlots::hashOf(plan.back().own);
  };
  // The attribute maps are filled together with cScnType, so their
  // entries come in the same name order: each run of sections walks them
  // alongside, from where its first name is or would be. So does cScnMem,
  // which holds every merged section once allocated.
  constexpr std::size_t kRunSections = 512;
  forEachLargeInParallel(
      (sections.size() + kRunSections - 1) / kRunSections,
      [&](std::size_t run) {
        const std::size_t first = run * kRunSections;
        const std::size_t last =
            std::min(sections.size(), first + kRunSections);
        const std::string &firstName = sections[first]->first;
        using Attribute = std::map<std::string, int>::const_iterator;
        Attribute absolute = cScnAbs.lower_bound(firstName);
        Attribute shared = cScnShare.lower_bound(firstName);
        Attribute access = cScnAccess.lower_bound(firstName);
        auto memory = cScnMem.lower_bound(firstName);
        for (std::size_t i = first; i < last; ++i) {
          const std::string &name = sections[i]->first;
          const std::uint8_t type = sections[i]->second;
          while (memory != cScnMem.cend() && memory->first < name)
            ++memory;
          Planned &section = plan[planAt[i]];
          section.section = &name;
          if (memory != cScnMem.cend() && memory->first == name)
            section.memory = memory->second;
          section.type = type;
          section.absolute = alongside(cScnAbs, absolute, name);
          section.shared = alongside(cScnShare, shared, name);
          section.access = alongside(cScnAccess, access, name);
          section.hash = NameSlots::hashOf(name);
          if (type == kScnTypeIdata) {
            Planned &image = plan[planAt[i] + 1];
            image.own = imageName(name);
            image.type = kScnTypeRomdata;
            image.hash = NameSlots::hashOf(image.own);
          }
        }
      });
  plain(cInitScnName, kScnTypeRomdata);
  if (cStackDescSet)
    plain(cStackScnName, kScnTypeUdata);

  // Lowest offset of each long header name, as Coff::setName looks it up;
  // only these names are indexed, not every string of the table.
  NameSlots slots(plan.size());
  std::vector<std::uint32_t> lowest;
  std::vector<std::string_view> longNames;
  for (const Planned &own : plan)
    if (own.name().size() > 8 && slots.find(own.name(), own.hash) == nullptr) {
      slots.add(own.name(), own.hash,
                static_cast<std::uint32_t>(lowest.size()));
      lowest.push_back(kNoNameOffset);
      longNames.push_back(own.name());
    }
  if (!lowest.empty())
    findLowestOffsets(cOutput.cStringTbl, slots, longNames, lowest,
                      kNoNameOffset);
  // Asking once readies each memory's name index for the threads.
  for (const auto *memories :
       {&cCodePage, &cDataBanks, &cShareBanks, &cAccessBanks})
    for (const Memory &each : *memories)
      each.isAllocated(std::string());

  forEachInParallel(plan.size(), [&](std::size_t at) {
    Planned &own = plan[at];
    const std::string &name = own.name();
    const Memory *holder = own.memory;
    if (own.section == nullptr) {
      const auto placed = cScnMem.find(name);
      if (placed != cScnMem.end())
        holder = placed->second;
    }
    if (holder == nullptr || !holder->isAllocated(name))
      return;
    std::uint32_t offset = kNoNameOffset;
    if (name.size() > 8) {
      const std::uint32_t *slot = slots.find(name, own.hash);
      if (slot == nullptr || lowest[*slot] == kNoNameOffset)
        return;
      offset = lowest[*slot];
    }
    scnhdr &hdr = own.hdr;
    if (offset != kNoNameOffset)
      hdr.setNameOffset(offset);
    else
      Coff::setName(hdr, cOutput.cStringTbl, name); // inline: cannot fail
    hdr.s_paddr = holder->getSectionStart(name);
    hdr.s_vaddr = 0;
    Coff::setScnFlags(hdr, own.type, own.absolute, own.shared, own.access);
    own.ready = true;
  });

  // A header set in its turn finds the offsets through cOutputNameOffset.
  cOutputNameOffset.clear();
  for (const Planned &own : plan)
    if (!own.ready) {
      for (const Planned &wanted : plan)
        if (wanted.name().size() > 8)
          cOutputNameOffset.emplace(
              wanted.name(), lowest[*slots.find(wanted.name(), wanted.hash)]);
      break;
    }
  for (const Planned &own : plan) {
    const std::string &name = own.name();
    if (!own.ready) {
      const std::uint32_t startLoc = own.memory != nullptr
                                         ? own.memory->getSectionStart(name)
                                         : outputSectionStart(name); // asserts
      setOutputScnHdr(name, startLoc, own.type, own.absolute, own.shared,
                      own.access);
      continue;
    }
    // Headers come mostly in name order, so most go in at the end.
    cOutput.cScnHdr.emplace_hint(cOutput.cScnHdr.end(), name, scnhdr())
        ->second = own.hdr;
  }
  cOutputNameOffset.clear();
  return 1;
}

int Linker::buildOutputFileHdr(std::string &) {
  ORV_ASSERT(!cCoff.empty(), kModule);
  const Coff &first = *cCoff.front();
  cOutput.cFileHdr.f_magic = first.cFileHdr.f_magic;
  cOutput.cFileHdr.f_opthdr = kOptHdrSizeInBytes;
  cOutput.cFileHdr.f_flags = kFileExecutable;
  if (cStrip)
    cOutput.cFileHdr.f_flags |= kFileNoLineNumbers | kFileNoLocalSymbols;
  cOutput.cOptHdr.magic = first.cOptHdr.magic;
  cOutput.cOptHdr.vstamp = first.cOptHdr.vstamp;
  cOutput.cOptHdr.proc_type = procCode(cProcessor);
  cOutput.cOptHdr.rom_width_bits = cRomWidthBits;
  cOutput.cOptHdr.ram_width_bits = cRamWidthBits;
  cOutput.cFileName = cOutputFile;
  return 1;
}

int Linker::writeMapFile(std::string &) {
  if (cMapWritten)
    return 1; // made while the output was written
  return MapFile::write(cMapFile, cOutput, programMemorySize());
}
