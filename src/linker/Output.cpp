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

int Linker::buildOutputScnNum(std::string &) {
  // Every input section in input order, each with its image (an
  // initialised-data section's) right after it: two places per section,
  // the second empty where there is no image. Made on all threads, with
  // each name's hash.
  using Names = FlatNameIndex<char>;
  struct Place {
    std::size_t hash = 0;
    const std::string *name = nullptr;
  };
  const NameIndex<std::map<std::string, std::uint8_t>> types(cScnType);
  std::vector<std::size_t> firstPlace(cCoff.size() + 1, 0);
  for (InputIndex input = 0; input < cCoff.size(); ++input)
    firstPlace[input + 1] =
        firstPlace[input] + 2 * cCoff[input]->cScnNum.size();
  std::vector<Place> places(firstPlace.back());
  std::vector<std::string> images(places.size() / 2);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    std::size_t at = firstPlace[input];
    for (const auto &entry : cCoff[input]->cScnNum) {
      const std::string &name = entry.second;
      places[at] = {Names::hashOf(name), &name};
      const std::uint8_t *type = types.find(name);
      if (type != nullptr && *type == kScnTypeIdata) {
        std::string &image = images[at / 2];
        image = imageName(name);
        places[at + 1] = {Names::hashOf(image), &image};
      }
      at += 2;
    }
  });
  // Each name's first place is found on all threads, each thread for the
  // names of its own share of hashes; the names are then numbered in the
  // order of their first places.
  // Fewer places are found faster by one thread than by waking the others.
  const std::size_t shards = places.size() < 32768 ? 1 : 16;
  auto shardOf = [shards](std::size_t hash) {
    return (hash >> (8 * sizeof hash - 8)) % shards;
  };
  std::vector<Names> seen;
  seen.reserve(shards);
  for (std::size_t shard = 0; shard < shards; ++shard)
    seen.emplace_back(2 * cScnType.size() / shards + 16);
  std::vector<char> first(places.size(), 0);
  forEachLargeInParallel(shards, [&](std::size_t shard) {
    Names &names = seen[shard];
    for (std::size_t at = 0; at < places.size(); ++at) {
      const Place &place = places[at];
      if (place.name == nullptr || shardOf(place.hash) != shard ||
          names.find(*place.name, place.hash) != nullptr)
        continue;
      names.add(*place.name, place.hash, 1);
      first[at] = 1;
    }
  });
  std::vector<std::size_t> order;
  order.reserve(cScnType.size() * 2 + 2);
  for (std::size_t at = 0; at < places.size(); ++at)
    if (first[at])
      order.push_back(at);
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
                                 *places[order[rank]].name);
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
    for (const std::size_t at : order)
      enter(*places[at].name);
  else
    count = static_cast<int>(order.size());
  auto number = [&](const std::string &name) {
    const std::size_t hash = Names::hashOf(name);
    Names &names = seen[shardOf(hash)];
    if (names.find(name, hash) != nullptr)
      return;
    names.add(name, hash, 1);
    enter(name);
  };
  number(cInitScnName);
  if (cStackDescSet)
    number(cStackScnName);
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
  // A buffer holds the merged size and every piece, wherever the rounding
  // of piece starts to whole locations put it.
  struct Piece {
    const Data *bytes;
    std::uint64_t startByte;
  };
  struct Buffer {
    const std::string *name;
    std::uint64_t sizeInBytes = 0;
    std::vector<Piece> pieces; // in input order
    Data data;
  };
  std::vector<Buffer> buffers;
  buffers.reserve(cScnSize.size());
  FlatNameIndex<std::size_t> bufferOf(cScnSize.size());
  for (const auto &entry : cScnSize) {
    bufferOf.add(entry.first, buffers.size());
    buffers.push_back({&entry.first, entry.second, {}, Data()});
  }
  const NameIndex<std::map<std::string, std::uint8_t>> types(cScnType);
  const std::shared_ptr<const PlaceIndex> held = placeIndex();
  const PlaceIndex &places = *held;
  // One input's pieces: its sections with bytes, each with its buffer
  // (kNoBuffer: the section has none yet) and its place in the buffer.
  constexpr std::size_t kNoBuffer = static_cast<std::size_t>(-1);
  struct Found {
    std::size_t buffer;
    const std::string *name;
    Piece piece;
  };
  // False where the input's sections break what the model promises; the
  // input is then taken again in its turn, where the check reports.
  auto findPieces = [&](InputIndex input, bool check,
                        std::vector<Found> &found) {
    const Coff &coff = *cCoff[input];
    found.reserve(coff.cScnNum.size());
    for (const auto &entry : coff.cScnNum) {
      const std::string &name = entry.second;
      const std::uint8_t *type = types.find(name);
      if (type != nullptr && *type == kScnTypeUdata)
        continue;
      const Place *place = places.find(name);
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
      const std::size_t *known = bufferOf.find(name);
      found.push_back({known != nullptr ? *known : kNoBuffer, &name,
                       Piece{&data->second, startByte}});
    }
    return true;
  };
  // Found on all threads, then dealt to the buffers in input order.
  std::vector<std::vector<Found>> pieces(cCoff.size());
  std::vector<char> clean(cCoff.size(), 0);
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    clean[input] = findPieces(input, false, pieces[input]) ? 1 : 0;
  });
  for (InputIndex input = 0; input < cCoff.size(); ++input) {
    if (!clean[input]) {
      pieces[input].clear();
      findPieces(input, true, pieces[input]); // asserts
    }
    for (const Found &found : pieces[input]) {
      std::size_t at = found.buffer;
      if (at == kNoBuffer) {
        // Every input section is merged, so this does not happen; should
        // it, the section still gets its buffer.
        const std::size_t *known = bufferOf.find(*found.name);
        if (known == nullptr) {
          bufferOf.add(*found.name, buffers.size());
          buffers.push_back({found.name, 0, {}, Data()});
          known = bufferOf.find(*found.name);
        }
        at = *known;
      }
      Buffer &buffer = buffers[at];
      buffer.sizeInBytes =
          std::max(buffer.sizeInBytes,
                   found.piece.startByte + found.piece.bytes->size());
      buffer.pieces.push_back(found.piece);
    }
  }

  for (const Buffer &buffer : buffers)
    ORV_ASSERT(buffer.sizeInBytes <= UINT32_MAX, kModule);
  // Each buffer is its own: they are made and filled in parallel, the
  // pieces of one buffer in input order, so overlapping pieces (overlay
  // sections) overwrite in input order.
  forEachInParallel(buffers.size(), [&](std::size_t at) {
    Buffer &buffer = buffers[at];
    buffer.data = Data(static_cast<std::uint32_t>(buffer.sizeInBytes));
    for (const Piece &piece : buffer.pieces)
      std::copy_n(piece.bytes->bytes(), piece.bytes->size(),
                  buffer.data.bytes() + piece.startByte);
  });
  // Mostly in name order already, so most entries go in at the end. The
  // first buffers are those of cScnSize, in its order.
  std::vector<std::map<std::string, Data>::iterator> placed;
  placed.reserve(buffers.size());
  for (Buffer &buffer : buffers) {
    placed.push_back(cOutput.cRawData.emplace_hint(cOutput.cRawData.end(),
                                                   *buffer.name, Data()));
    placed.back()->second = std::move(buffer.data);
  }

  // The images are made on all threads. An image's name sorts soon after
  // its section's, where the search for its place starts.
  struct Image {
    const std::string *name;
    std::map<std::string, Data>::iterator section;
    Data bytes;
  };
  std::vector<Image> images;
  std::size_t at = 0;
  for (const auto &entry : cScnSize) {
    const auto section = placed[at++];
    const std::uint8_t *type = types.find(entry.first);
    if (type != nullptr && *type == kScnTypeIdata)
      images.push_back({&entry.first, section, Data()});
  }
  forEachInParallel(images.size(), [&](std::size_t image) {
    images[image].bytes = romImage(images[image].section->second);
  });
  for (Image &image : images)
    cOutput.cRawData
        .emplace_hint(std::next(image.section), imageName(*image.name), Data())
        ->second = std::move(image.bytes);
  cOutput.cRawData[cInitScnName] = romImage(cInitTable);
  if (cStackDescSet)
    cOutput.cRawData[cStackScnName] = Data(cStackDesc.getSize());
  return 1;
}

int Linker::buildOutputLineInfo(std::string &) {
  if (cStrip)
    return 1;
  // The lines of one section come input after input; different sections
  // are filled in parallel.
  struct Part {
    const std::vector<coff_lineno> *lines;
    std::uint32_t base;
  };
  struct Target {
    const std::string *name;
    std::vector<Part> parts;
    std::vector<coff_lineno> *out;
  };
  // Each input's code sections with lines are found on all threads, then
  // dealt to their sections in input order.
  struct Found {
    const std::string *name;
    std::size_t hash;
    Part part;
  };
  const NameIndex<std::map<std::string, std::uint8_t>> types(cScnType);
  std::vector<std::vector<Found>> found(cCoff.size());
  forEachInParallel(cCoff.size(), [&](std::size_t input) {
    const Coff &coff = *cCoff[input];
    const std::uint32_t base = valueOr(cSymIndexBase, input, 0u);
    // At most one piece per section with lines.
    found[input].reserve(coff.cLineNum.size());
    for (const auto &entry : coff.cScnNum) {
      const std::string &name = entry.second;
      const std::uint8_t *type = types.find(name);
      if (type == nullptr || *type != kScnTypeCode)
        continue;
      const auto lines = coff.cLineNum.find(name);
      if (lines == coff.cLineNum.end())
        continue;
      found[input].push_back({&name, FlatNameIndex<std::size_t>::hashOf(name),
                              Part{&lines->second, base}});
    }
  });
  std::vector<Target> targets;
  FlatNameIndex<std::size_t> targetOf(cScnType.size());
  for (const std::vector<Found> &pieces : found)
    for (const Found &piece : pieces) {
      std::size_t at = targets.size();
      if (const std::size_t *known = targetOf.find(*piece.name, piece.hash)) {
        at = *known;
      } else {
        targetOf.add(*piece.name, piece.hash, at);
        targets.push_back({piece.name, {}, nullptr});
      }
      targets[at].parts.push_back(piece.part);
    }
  // Every part's place in its section's list is known ahead, so the parts
  // (a large shared section has one per input) are copied in parallel.
  struct Placed {
    const Part *part;
    coff_lineno *to;
  };
  std::vector<Placed> placed;
  for (Target &target : targets) {
    target.out = &cOutput.cLineNum[*target.name];
    std::size_t at = target.out->size();
    std::size_t count = at;
    for (const Part &part : target.parts)
      count += part.lines->size();
    target.out->resize(count);
    for (const Part &part : target.parts) {
      placed.push_back({&part, target.out->data() + at});
      at += part.lines->size();
    }
  }
  forEachInParallel(placed.size(), [&](std::size_t at) {
    const Part &part = *placed[at].part;
    coff_lineno *to = placed[at].to;
    for (coff_lineno line : *part.lines) {
      line.l_srcndx += part.base;
      line.l_fcnndx += part.base;
      *to++ = line;
    }
  });
  return 1;
}

int Linker::addInitSectionNames(std::string &) {
  for (const auto &entry : cScnType) {
    if (entry.second != kScnTypeIdata)
      continue;
    const std::string image = imageName(entry.first);
    if (image.size() > 8)
      cOutput.cStringTbl[nextFreeStringOffset()] = image;
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

// Enters in each slot of offsets the lowest offset at which the table
// holds its name, where it still has none. The table is searched in runs
// of offsets on all threads; the runs are then taken in offset order, so
// the lowest offset wins as in one walk.
void findLowestOffsets(const std::map<int, std::string> &strTbl,
                       const NameSlots &slots,
                       std::vector<std::uint32_t> &offsets,
                       std::uint32_t none) {
  const auto runs = intKeySlices(strTbl);
  std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> found(
      runs.size() - 1);
  forEachLargeInParallel(found.size(), [&](std::size_t run) {
    for (auto at = runs[run]; at != runs[run + 1]; ++at) {
      if (at->second.size() <= 8) // only long names want an offset
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
  for (const Planned &own : plan)
    if (own.name().size() > 8 && slots.find(own.name(), own.hash) == nullptr) {
      slots.add(own.name(), own.hash,
                static_cast<std::uint32_t>(lowest.size()));
      lowest.push_back(kNoNameOffset);
    }
  if (!lowest.empty())
    findLowestOffsets(cOutput.cStringTbl, slots, lowest, kNoNameOffset);
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
