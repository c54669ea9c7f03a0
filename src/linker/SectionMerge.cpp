// Folds the sections of all inputs into one record per section name and
// refuses inputs whose sections of one name disagree.
#include "Linker.h"

#include "Assert.h"
#include "NameIndex.h"
#include "ParallelWork.h"
#include "TextSortKey.h"

#include <algorithm>
#include <deque>
#include <string_view>
#include <tuple>

namespace {

constexpr const char *kModule = "SectionMerge";
constexpr const char *kImageSuffix = "_i";

// One input section as the walks meet it, with what the walks ask of it
// read on all threads: the walks then read this list in order instead of
// headers spread over every input.
struct SectionRef {
  const Coff *coff;
  const std::string *name; // the header's own key
  const scnhdr *hdr;       // null: the input numbers a section it lacks
  std::size_t hash;
  // The fields of *hdr that merging reads.
  std::uint32_t paddr;
  std::uint32_t sizeInBytes;
  std::uint32_t flags;
  std::uint8_t type;  // Coff::scnType(*hdr)
  bool maybeReserved; // a name the linker may make itself

  scnhdr header() const {
    scnhdr made;
    made.s_paddr = paddr;
    made.s_size = sizeInBytes;
    made.s_flags = flags;
    return made;
  }
};

// Every input section in link order: inputs in cCoff order, sections in
// section-number order. Each input's headers are looked up on all threads.
std::vector<SectionRef>
sectionsInLinkOrder(const std::vector<std::unique_ptr<Coff>> &inputs,
                    const std::string &initScnName,
                    const std::string &stackScnName) {
  std::vector<std::size_t> first(inputs.size() + 1, 0);
  for (std::size_t input = 0; input < inputs.size(); ++input)
    first[input + 1] = first[input] + inputs[input]->cScnNum.size();
  const std::size_t suffixLength = std::char_traits<char>::length(kImageSuffix);
  auto maybeReserved = [&](const std::string &name) {
    return name == initScnName ||
           (!stackScnName.empty() && name == stackScnName) ||
           (name.size() > suffixLength &&
            name.compare(name.size() - suffixLength, suffixLength,
                         kImageSuffix) == 0);
  };
  std::vector<SectionRef> sections(first.back());
  forEachInParallel(inputs.size(), [&](std::size_t input) {
    const Coff &coff = *inputs[input];
    SectionRef *to = sections.data() + first[input];
    for (const auto &numbered : coff.cScnNum) {
      const auto hdr = coff.cScnHdr.find(numbered.second);
      *to++ = hdr == coff.cScnHdr.end()
                  ? SectionRef{&coff, &numbered.second, nullptr, 0, 0, 0, 0, 0,
                               false}
                  : SectionRef{&coff,
                               &hdr->first,
                               &hdr->second,
                               FlatNameIndex<char>::hashOf(hdr->first),
                               hdr->second.s_paddr,
                               hdr->second.s_size,
                               hdr->second.s_flags,
                               Coff::scnType(hdr->second),
                               maybeReserved(hdr->first)};
    }
  });
  return sections;
}

template <class Visit>
int forEachSection(const std::vector<SectionRef> &sections, Visit visit) {
  for (const SectionRef &section : sections) {
    ORV_ASSERT(section.hdr != nullptr, kModule);
    if (!visit(section))
      return 0;
  }
  return 1;
}

// Sections the linker makes itself may not come from an input: the
// initialisation table, the stack when one is declared, and the program
// memory image of every initialised-data section.
int checkReservedNames(const std::vector<SectionRef> &sections,
                       const std::string &initScnName,
                       const std::string &stackScnName, std::string &error) {
  // Most links have no name that could be reserved: no index is needed.
  if (std::none_of(
          sections.begin(), sections.end(),
          [](const SectionRef &section) { return section.maybeReserved; }))
    return forEachSection(sections, [](const SectionRef &) { return 1; });
  std::size_t idataCount = 0;
  for (const SectionRef &section : sections)
    if (section.hdr != nullptr && section.type == kScnTypeIdata)
      ++idataCount;
  FlatNameIndex<char> idataNames(idataCount);
  forEachSection(sections, [&](const SectionRef &section) {
    if (section.type == kScnTypeIdata)
      idataNames.add(*section.name, section.hash, 1);
    return 1;
  });
  const std::size_t suffixLength = std::char_traits<char>::length(kImageSuffix);
  auto isImageName = [&](const std::string &name) {
    return name.size() > suffixLength &&
           name.compare(name.size() - suffixLength, suffixLength,
                        kImageSuffix) == 0 &&
           idataNames.find(std::string_view(name).substr(
               0, name.size() - suffixLength)) != nullptr;
  };
  return forEachSection(sections, [&](const SectionRef &section) {
    if (!section.maybeReserved)
      return 1;
    const std::string &name = *section.name;
    if (name == initScnName ||
        (!stackScnName.empty() && name == stackScnName) || isImageName(name)) {
      error = "Section '" + name + "' in '" + section.coff->cFileName +
              "' has a name reserved for the linker.";
      return 0;
    }
    return 1;
  });
}

} // namespace

std::uint32_t Linker::pieceSizeInBytes(const scnhdr &hdr,
                                       std::uint8_t type) const {
  // Program memory is filled in whole locations: an odd-sized code piece
  // on a 2-byte-word family still takes its last location entirely.
  if (type != kScnTypeCode && type != kScnTypeRomdata)
    return hdr.s_size;
  const std::uint64_t bytesPerLoc =
      std::max<std::uint64_t>(1, (cRomWidthBits + 7u) / 8u);
  const std::uint64_t rounded =
      (hdr.s_size + bytesPerLoc - 1) / bytesPerLoc * bytesPerLoc;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(rounded, UINT32_MAX));
}

int Linker::mergeFirstPiece(const Coff &coff, const std::string &name,
                            const scnhdr &hdr, MergedRecords &merged,
                            std::string &error) {
  const std::uint8_t type = Coff::scnType(hdr);
  merged.size = &(cScnSize[name] = pieceSizeInBytes(hdr, type));
  merged.type = &(cScnType[name] = type);
  if (type == kScnTypeNone) {
    error = "unknown section type for '" + name + "' in file '" +
            coff.cFileName + "'.";
    return 0;
  }
  merged.absolute = &(cScnAbs[name] = Coff::isAbsolute(hdr));
  merged.shared = &(cScnShare[name] = Coff::isShared(hdr));
  merged.access = &(cScnAccess[name] = Coff::isAccess(hdr));
  if (Coff::isAbsolute(hdr)) {
    cScnAbsStart[name] = hdr.s_paddr;
    cScnAbsSize[name] = *merged.size;
  }
  merged.overlay = &(cScnOverlay[name] = Coff::isOverlay(hdr));
  return 1;
}

Linker::MergedRecords Linker::mergedRecords(const std::string &name) {
  return MergedRecords{&cScnSize[name],  &cScnType[name],   &cScnAbs[name],
                       &cScnShare[name], &cScnAccess[name], &cScnOverlay[name]};
}

int Linker::mergeNextPiece(const MergedRecords &merged, const std::string &name,
                           const scnhdr &hdr, std::string &error) {
  const std::uint8_t type = Coff::scnType(hdr);
  const std::uint32_t pieceSize = pieceSizeInBytes(hdr, type);
  const int isOverlay = *merged.overlay;
  const int isAbs = *merged.absolute;
  auto quoted = [&]() { return "'" + name + "'"; };
  if (Coff::isOverlay(hdr) != isOverlay) {
    error = "section overlay types for " + quoted() +
            " do not match across input files.";
    return 0;
  }
  std::uint32_t &size = *merged.size;
  if (isOverlay) {
    size = std::max(size, pieceSize);
    if (Coff::isAbsolute(hdr) != isAbs) {
      error = "section absolute types for " + quoted() +
              " do not match across input files.";
      return 0;
    }
    if (isAbs) {
      if (hdr.s_paddr != cScnAbsStart[name]) {
        error = "starting addresses for absolute overlay section " + quoted() +
                " do not match across all input files.";
        return 0;
      }
      cScnAbsSize[name] = size;
    }
  } else {
    // A sum that no longer fits 32 bits fits no memory either.
    if (static_cast<std::uint64_t>(size) + pieceSize > UINT32_MAX) {
      error = "section " + quoted() + " is too large.";
      return 0;
    }
    size += pieceSize;
  }
  if (type != *merged.type) {
    error =
        "section types for " + quoted() + " do not match across input files.";
    return 0;
  }
  if (Coff::isShared(hdr) != *merged.shared) {
    error = "section share types for " + quoted() +
            " do not match across input files.";
    return 0;
  }
  if (Coff::isAccess(hdr) != *merged.access) {
    error = "section access types for " + quoted() +
            " do not match across input files.";
    return 0;
  }
  if (!isOverlay && (Coff::isAbsolute(hdr) || isAbs)) {
    error = "section " + quoted() +
            " type is non-overlay and absolute but occurs in more than one "
            "input file.";
    return 0;
  }
  return 1;
}

namespace {

// The merged records of one section name while the walk runs, before they
// go into the record maps.
struct PendingRecords {
  std::string_view name; // held by the input of the first piece
  std::uint32_t size = 0;
  std::uint8_t type = 0;
  int absolute = 0;
  int shared = 0;
  int access = 0;
  int overlay = 0;
  bool complete = true; // false: only size and type were set
};

using RecordsByName = std::vector<const PendingRecords *>;

// Fills one record map, in name order, from the pending records.
template <class Value, class Get>
void fillInOrder(std::map<std::string, Value> &map, const RecordsByName &byName,
                 bool onlyComplete, Get get) {
  for (const PendingRecords *records : byName)
    if (!onlyComplete || records->complete)
      map.emplace_hint(map.end(), std::piecewise_construct,
                       std::forward_as_tuple(records->name),
                       std::forward_as_tuple(get(*records)));
}

// Records with a key of their name's first bytes: most names are told
// apart by the key, without reading them again.
struct KeyedRecords {
  TextSortKey key;
  const PendingRecords *records;
};

bool lessByName(const KeyedRecords &a, const KeyedRecords &b) {
  if (a.key.high != b.key.high)
    return a.key.high < b.key.high;
  if (a.key.low != b.key.low)
    return a.key.low < b.key.low;
  return a.records->name < b.records->name;
}

std::vector<KeyedRecords>
sortedByName(const std::deque<PendingRecords> &records) {
  std::vector<KeyedRecords> keyed;
  keyed.reserve(records.size());
  for (const PendingRecords &made : records)
    keyed.push_back(KeyedRecords{TextSortKey(made.name), &made});
  std::sort(keyed.begin(), keyed.end(), lessByName);
  return keyed;
}

// Runs sorted by name (their names distinct) merged into one list: the
// run whose next name comes first is kept at the top of a heap.
RecordsByName
mergedInOrder(const std::vector<std::vector<KeyedRecords>> &runs) {
  struct Head {
    const KeyedRecords *next;
    const KeyedRecords *end;
  };
  std::vector<Head> heads;
  std::size_t total = 0;
  for (const std::vector<KeyedRecords> &run : runs)
    if (!run.empty()) {
      heads.push_back(Head{run.data(), run.data() + run.size()});
      total += run.size();
    }
  // std::push_heap keeps the greatest on top: the later name is "less".
  auto later = [](const Head &a, const Head &b) {
    return lessByName(*b.next, *a.next);
  };
  std::make_heap(heads.begin(), heads.end(), later);
  RecordsByName byName;
  byName.reserve(total);
  while (!heads.empty()) {
    std::pop_heap(heads.begin(), heads.end(), later);
    Head &head = heads.back();
    byName.push_back(head.next->records);
    if (++head.next == head.end)
      heads.pop_back();
    else
      std::push_heap(heads.begin(), heads.end(), later);
  }
  return byName;
}

} // namespace

int Linker::mergeSections(std::string &error) {
  const std::string stackScnName =
      cStackDescSet ? cStackScnName : std::string();
  const std::vector<SectionRef> sections =
      sectionsInLinkOrder(cCoff, cInitScnName, stackScnName);
  if (!checkReservedNames(sections, cInitScnName, stackScnName, error))
    return 0;
  // The records of each name met, found by hashing the name rather than
  // by a search of every record map for every piece. Sized for a name in
  // every few pieces; grows when there are more.
  const std::size_t expectedNames = sections.size() / 4;
  const bool fresh = cScnSize.empty() && cScnType.empty() && cScnAbs.empty() &&
                     cScnShare.empty() && cScnAccess.empty() &&
                     cScnOverlay.empty();
  if (!fresh) {
    FlatNameIndex<MergedRecords> met(expectedNames);
    return forEachSection(sections, [&](const SectionRef &section) {
      const std::string &name = *section.name;
      const scnhdr hdr = section.header();
      if (const MergedRecords *known = met.find(name, section.hash))
        return mergeNextPiece(*known, name, hdr, error);
      const auto typed = cScnType.find(name);
      MergedRecords merged;
      if (typed == cScnType.end()) {
        if (!mergeFirstPiece(*section.coff, name, hdr, merged, error))
          return 0;
      } else {
        merged = mergedRecords(name);
        if (!mergeNextPiece(merged, name, hdr, error))
          return 0;
      }
      // Keyed by the name held in the record maps, which outlive the walk.
      met.add(cScnType.find(name)->first, section.hash, merged);
      return 1;
    });
  }

  // A link starts with no records: they are gathered first and entered
  // once, in name order, each map on its own thread, rather than searched
  // for and entered one by one. What the maps hold in the end, after a
  // failure too, is what entering them one by one would have left.
  auto enterInNameOrder = [&](const RecordsByName &byName) {
    forEachLargeInParallel(6, [&](std::size_t map) {
      switch (map) {
      case 0:
        return fillInOrder(cScnSize, byName, false,
                           [](const PendingRecords &r) { return r.size; });
      case 1:
        return fillInOrder(cScnType, byName, false,
                           [](const PendingRecords &r) { return r.type; });
      case 2:
        return fillInOrder(cScnAbs, byName, true,
                           [](const PendingRecords &r) { return r.absolute; });
      case 3:
        return fillInOrder(cScnShare, byName, true,
                           [](const PendingRecords &r) { return r.shared; });
      case 4:
        return fillInOrder(cScnAccess, byName, true,
                           [](const PendingRecords &r) { return r.access; });
      default:
        return fillInOrder(cScnOverlay, byName, true,
                           [](const PendingRecords &r) { return r.overlay; });
      }
    });
  };
  // Without absolute sections each name merges on its own: the names are
  // split by hash into shards, each walked in link order on a thread of
  // its own. A shard that meets a failure leaves the walk to be done again
  // in link order below, which stops at the failure met first.
  const bool anyAbsolute = std::any_of(
      sections.begin(), sections.end(), [](const SectionRef &section) {
        return section.hdr == nullptr || (section.flags & kScnAbsolute) != 0;
      });
  if (!anyAbsolute && !sections.empty()) {
    constexpr std::size_t kShards = 64;
    auto shardOf = [](std::size_t hash) {
      return static_cast<std::size_t>(static_cast<std::uint64_t>(hash) >> 58) %
             kShards;
    };
    std::vector<std::size_t> shardFirst(kShards + 1, 0);
    for (const SectionRef &section : sections)
      ++shardFirst[shardOf(section.hash) + 1];
    for (std::size_t shard = 0; shard < kShards; ++shard)
      shardFirst[shard + 1] += shardFirst[shard];
    std::vector<std::uint32_t> byShard(sections.size());
    std::vector<std::size_t> next(shardFirst.begin(), shardFirst.end() - 1);
    for (std::size_t at = 0; at < sections.size(); ++at)
      byShard[next[shardOf(sections[at].hash)]++] =
          static_cast<std::uint32_t>(at);
    std::vector<std::deque<PendingRecords>> shardPending(kShards);
    // Each shard's names in name order, made on its thread.
    std::vector<std::vector<KeyedRecords>> shardSorted(kShards);
    std::vector<char> shardFailed(kShards, 0);
    forEachLargeInParallel(kShards, [&](std::size_t shard) {
      const std::size_t count = shardFirst[shard + 1] - shardFirst[shard];
      FlatNameIndex<MergedRecords> shardMet(count / 2);
      std::deque<PendingRecords> &records = shardPending[shard];
      std::string text;
      for (std::size_t k = shardFirst[shard]; k < shardFirst[shard + 1]; ++k) {
        const SectionRef &section = sections[byShard[k]];
        const std::string &name = *section.name;
        const scnhdr hdr = section.header();
        if (const MergedRecords *known = shardMet.find(name, section.hash)) {
          if (!mergeNextPiece(*known, name, hdr, text)) {
            shardFailed[shard] = 1;
            return;
          }
          continue;
        }
        if (section.type == kScnTypeNone) {
          shardFailed[shard] = 1;
          return;
        }
        PendingRecords &made = records.emplace_back();
        made.name = name;
        made.type = section.type;
        made.size = pieceSizeInBytes(hdr, made.type);
        made.shared = Coff::isShared(hdr);
        made.access = Coff::isAccess(hdr);
        made.overlay = Coff::isOverlay(hdr);
        shardMet.add(name, section.hash,
                     MergedRecords{&made.size, &made.type, &made.absolute,
                                   &made.shared, &made.access, &made.overlay});
      }
      shardSorted[shard] = sortedByName(records);
    });
    if (std::find(shardFailed.begin(), shardFailed.end(), 1) ==
        shardFailed.end()) {
      enterInNameOrder(mergedInOrder(shardSorted));
      return 1;
    }
  }
  FlatNameIndex<MergedRecords> met(expectedNames);
  std::deque<PendingRecords> pending;
  const int merged = forEachSection(sections, [&](const SectionRef &section) {
    const std::string &name = *section.name;
    const scnhdr hdr = section.header();
    if (const MergedRecords *known = met.find(name, section.hash))
      return mergeNextPiece(*known, name, hdr, error);
    PendingRecords &records = pending.emplace_back();
    records.name = name;
    records.type = section.type;
    records.size = pieceSizeInBytes(hdr, records.type);
    if (records.type == kScnTypeNone) {
      records.complete = false;
      error = "unknown section type for '" + name + "' in file '" +
              section.coff->cFileName + "'.";
      return 0;
    }
    records.absolute = Coff::isAbsolute(hdr);
    records.shared = Coff::isShared(hdr);
    records.access = Coff::isAccess(hdr);
    if (Coff::isAbsolute(hdr)) {
      cScnAbsStart[name] = hdr.s_paddr;
      cScnAbsSize[name] = records.size;
    }
    records.overlay = Coff::isOverlay(hdr);
    met.add(name, section.hash,
            MergedRecords{&records.size, &records.type, &records.absolute,
                          &records.shared, &records.access, &records.overlay});
    return 1;
  });
  std::vector<std::vector<KeyedRecords>> sorted;
  sorted.push_back(sortedByName(pending));
  enterInNameOrder(mergedInOrder(sorted));
  return merged;
}
