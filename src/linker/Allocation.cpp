// Section allocation: every section of the link gets a place in one memory
// of the linker command file, in a fixed order. Absolute sections come
// first so that nothing relocatable takes their space; the rest go largest
// first, each into the memory whose largest free range is the smallest
// that can take it.
#include "Linker.h"

#include "ParallelWork.h"
#include "TextUtil.h"
#include "Trace.h"

#include <algorithm>
#include <deque>
#include <iostream>
#include <set>
#include <vector>

namespace {

template <class Value>
Value valueOf(const std::map<std::string, Value> &map, const std::string &key) {
  const auto it = map.find(key);
  return it == map.end() ? Value() : it->second;
}

// A section (or image) as traced, with the size it asks for.
struct Candidate {
  std::string name;
  std::uint32_t sizeInBytes = 0;
  bool isImage = false;
};

// A section (or image) that no directive places, with where it may go.
struct Unplaced {
  const std::string *name; // a key of the record maps, or an image's name
  std::list<Memory> *memories;
  std::uint32_t sizeInBytes;
  std::uint32_t alignment;
  int isOverlay;
  bool isImage;
};

// The value of key in a map walked in key order alongside another of the
// same names: the entry at it when it holds key (moving it on), else a
// lookup; the value type's default when the map lacks the key.
template <class Value>
Value alongside(const std::map<std::string, Value> &map,
                typename std::map<std::string, Value>::const_iterator &it,
                const std::string &key) {
  if (it != map.end() && it->first == key)
    return (it++)->second; // the usual case: the maps hold the same names
  while (it != map.end() && it->first < key)
    ++it;
  if (it != map.end() && it->first == key)
    return (it++)->second;
  return Value();
}

// Enters the memory that holds a section. Sections of one size are placed
// in name order, so a name usually goes after every name entered already.
void holdSection(std::map<std::string, Memory *> &held,
                 const std::string &secName, Memory *memory) {
  if (held.empty() || held.rbegin()->first < secName)
    held.emplace_hint(held.end(), secName, memory);
  else
    held[secName] = memory;
}

// The memory of memories that allocateRelUnassigned would choose: of the
// unprotected ones that can take the section, the one whose largest free
// range is smallest (the first of equals); null when none can.
Memory *bestMemory(std::list<Memory> &memories, std::uint32_t lengthInBytes,
                   std::uint32_t alignment) {
  Memory *best = nullptr;
  std::uint64_t bestHole = 0;
  for (Memory &memory : memories) {
    if (memory.isProtected())
      continue;
    const std::uint64_t hole = memory.largestHole();
    if (best != nullptr && hole >= bestHole)
      continue;
    if (memory.canFit(lengthInBytes, alignment)) {
      best = &memory;
      bestHole = hole;
    }
  }
  return best;
}

// Places the sections of unplaced in the order of bySize (positions in
// unplaced, which is in name order but for the images), as
// allocateRelUnassigned would one by one. The memories and cScnMem are
// told of the sections only once all are placed, each in name order; a
// section that fits nowhere is reported by allocateRelUnassigned.
int placeUnassigned(Linker &linker, const std::vector<Unplaced> &unplaced,
                    const std::vector<std::uint32_t> &bySize,
                    std::string &error) {
  if (traceLevel("Linker::allocateRelUnassigned") != 0) {
    for (std::uint32_t at : bySize) {
      const Unplaced &section = unplaced[at];
      if (!linker.allocateRelUnassigned(*section.memories, *section.name,
                                        section.sizeInBytes, section.isOverlay,
                                        section.alignment, error))
        return 0;
    }
    return 1;
  }
  // The sections in name order, and each one's place in it.
  std::vector<std::uint32_t> byName(unplaced.size());
  for (std::size_t at = 0; at < unplaced.size(); ++at)
    byName[at] = static_cast<std::uint32_t>(at);
  auto lessByName = [&](std::uint32_t a, std::uint32_t b) {
    return *unplaced[a].name < *unplaced[b].name;
  };
  if (!std::is_sorted(byName.begin(), byName.end(), lessByName))
    std::sort(byName.begin(), byName.end(), lessByName);
  std::vector<std::uint32_t> rank(unplaced.size());
  for (std::size_t at = 0; at < byName.size(); ++at)
    rank[byName[at]] = static_cast<std::uint32_t>(at);
  std::vector<Memory *> placedIn(unplaced.size(), nullptr);
  auto enter = [&] {
    std::vector<Memory *> memories;
    for (std::list<Memory> *list : {&linker.cCodePage, &linker.cDataBanks,
                                    &linker.cShareBanks, &linker.cAccessBanks})
      for (Memory &memory : *list)
        memories.push_back(&memory);
    // Each memory's ranges and cScnMem are filled side by side.
    forEachLargeInParallel(memories.size() + 1, [&](std::size_t task) {
      if (task < memories.size()) {
        memories[task]->enterPlaced();
        return;
      }
      std::map<std::string, Memory *> &held = linker.cScnMem;
      auto next = held.begin();
      for (std::uint32_t at : byName) {
        if (placedIn[at] == nullptr)
          continue;
        const std::string &name = *unplaced[at].name;
        while (next != held.end() && next->first < name)
          ++next;
        if (next != held.end() && next->first == name)
          next->second = placedIn[at];
        else
          next = held.emplace_hint(next, name, placedIn[at]);
        ++next;
      }
    });
  };
  for (std::uint32_t at : bySize) {
    const Unplaced &section = unplaced[at];
    Memory *memory =
        bestMemory(*section.memories, section.sizeInBytes, section.alignment);
    if (memory == nullptr ||
        !memory->placeLater(*section.name, section.sizeInBytes,
                            section.isOverlay, section.alignment, rank[at])) {
      enter();
      // Fails as it failed here, with its message.
      return linker.allocateRelUnassigned(
          *section.memories, *section.name, section.sizeInBytes,
          section.isOverlay, section.alignment, error);
    }
    placedIn[at] = memory;
  }
  enter();
  return 1;
}

void traceCandidates(const char *label, const std::vector<Candidate> &list) {
  std::cout << label << '\n';
  for (const Candidate &candidate : list)
    std::cout << "    section '" << candidate.name
              << "', size=" << candidate.sizeInBytes << '\n';
}

void traceFits(const char *allocator, const Memory &memory) {
  std::cout << allocator << ": memory '" << memory.getName()
            << "' can fit the section! Will allocate." << '\n'
            << '\n';
}

} // namespace

std::string initSectionName(const std::string &secName) {
  return secName + "_i";
}

std::string baseSectionName(const std::string &name) {
  if (name.size() > 2 && name.compare(name.size() - 2, 2, "_i") == 0)
    return name.substr(0, name.size() - 2);
  return name;
}

std::uint32_t Linker::romImageSize(std::uint32_t sizeInBytes) const {
  // One program word (two bytes) per data byte where words are not whole
  // bytes. Saturate rather than wrap: a wrapped size would seem to fit.
  if (cRomWidthBits % 8 == 0)
    return sizeInBytes;
  const std::uint64_t doubled = 2 * static_cast<std::uint64_t>(sizeInBytes);
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(doubled, 0xFFFFFFFF));
}

const SectionDesc *Linker::findDirective(const std::string &name) {
  // Directives never change once the link runs; index them once so that
  // lookups inside the per-section loops stay logarithmic.
  if (cIndexedDirectives != cSectionDesc.size()) {
    cDirectiveIndex.clear();
    for (const SectionDesc &desc : cSectionDesc)
      cDirectiveIndex.emplace(desc.getName(), &desc);
    cIndexedDirectives = cSectionDesc.size();
  }
  const auto it = cDirectiveIndex.find(name);
  return it == cDirectiveIndex.end() ? nullptr : it->second;
}

std::list<Memory> &Linker::memoriesFor(const std::string &secName) {
  const std::uint8_t type = valueOf(cScnType, secName);
  if (type == kScnTypeCode || type == kScnTypeRomdata)
    return cCodePage;
  if (valueOf(cScnShare, secName))
    return cShareBanks;
  if (valueOf(cScnAccess, secName))
    return cAccessBanks;
  return cDataBanks;
}

std::string Linker::memoryNameFor(const std::string &secName) {
  const SectionDesc *desc = findDirective(secName);
  if (desc == nullptr)
    return std::string();
  const std::uint8_t type = valueOf(cScnType, secName);
  if (type == kScnTypeCode || type == kScnTypeRomdata)
    return desc->getLoadMemory();
  return desc->getRunMemory();
}

std::uint32_t Linker::alignmentFor(const std::string &secName) const {
  // Byte-addressed program memory: instructions start on even addresses.
  if (cRomWidthBits == 8 && valueOf(cScnType, secName) == kScnTypeCode)
    return 2;
  return 1;
}

namespace {

std::string absoluteTail(const std::string &secName, std::uint32_t startLoc,
                         std::uint32_t lengthInBytes) {
  return "Section '" + secName + "' start=" + hexText(startLoc, 4) +
         ", length=" + hexText(lengthInBytes, 4);
}

std::string missingMemory(const std::string &secName,
                          const std::string &memName) {
  return "section '" + secName + "' has a memory '" + memName +
         "' which is not defined in the linker command file.";
}

} // namespace

int Linker::allocateAbsAssigned(std::list<Memory> &memories,
                                const std::string &memName,
                                const std::string &secName,
                                std::uint32_t startLoc,
                                std::uint32_t lengthInBytes, int isOverlay,
                                std::string &error) {
  if (traceLevel("Linker::allocateAbsAssigned"))
    std::cout << "Linker::allocateAbsAssigned(): trying to allocate section '"
              << secName << "' with start=" << hexText(startLoc, 4)
              << ", length=" << hexText(lengthInBytes, 4) << " into Memory '"
              << memName << "'." << '\n';
  if (alignmentFor(secName) == 2 && startLoc % 2 != 0) {
    error = "Absolute code section '" + secName +
            "' must start at a word-aligned address.";
    return 0;
  }
  std::list<Memory>::iterator memory;
  if (!findByName(memories, memory, memName)) {
    error = missingMemory(secName, memName);
    return 0;
  }
  if (!memory->canFitAt(startLoc, lengthInBytes)) {
    error = "section '" + secName + "' has a memory '" + memName +
            "' which can not fit the absolute section. " +
            absoluteTail(secName, startLoc, lengthInBytes) + ".";
    return 0;
  }
  if (traceLevel("Linker::allocateAbsAssigned"))
    traceFits("Linker::allocateAbsAssigned()", *memory);
  memory->allocateAt(secName, startLoc, lengthInBytes, isOverlay);
  holdSection(cScnMem, secName, &*memory);
  return 1;
}

int Linker::allocateAbsUnassigned(std::list<Memory> &memories,
                                  const std::string &secName,
                                  std::uint32_t startLoc,
                                  std::uint32_t lengthInBytes, int isOverlay,
                                  std::string &error) {
  if (traceLevel("Linker::allocateAbsUnassigned"))
    std::cout
        << "Linker::allocateAbsUnassigned(): looking for a Memory for section '"
        << secName << "' with start=" << hexText(startLoc, 4)
        << ", length=" << hexText(lengthInBytes, 4) << '\n';
  if (alignmentFor(secName) == 2 && startLoc % 2 != 0) {
    error = "Absolute code section '" + secName +
            "' must start at a word-aligned address.";
    return 0;
  }
  // Protected memories too: an absolute section names its own address.
  for (Memory &memory : memories) {
    if (!memory.canFitAt(startLoc, lengthInBytes))
      continue;
    if (traceLevel("Linker::allocateAbsUnassigned"))
      traceFits("Linker::allocateAbsUnassigned()", memory);
    memory.allocateAt(secName, startLoc, lengthInBytes, isOverlay);
    holdSection(cScnMem, secName, &memory);
    return 1;
  }
  error = "section '" + secName + "' can not fit the absolute section. " +
          absoluteTail(secName, startLoc, lengthInBytes);
  return 0;
}

int Linker::allocateRelAssigned(std::list<Memory> &memories,
                                const std::string &memName,
                                const std::string &secName,
                                std::uint32_t lengthInBytes, int isOverlay,
                                std::string &error) {
  if (traceLevel("Linker::allocateRelAssigned"))
    std::cout << "Linker::allocateRelAssigned(): trying to allocate section '"
              << secName << "' with length=" << hexText(lengthInBytes, 4)
              << " into Memory '" << memName << "'." << '\n';
  std::list<Memory>::iterator memory;
  if (!findByName(memories, memory, memName)) {
    error = missingMemory(secName, memName);
    return 0;
  }
  // A protected memory takes the sections that name it.
  const std::uint32_t alignment = alignmentFor(secName);
  if (!memory->canFit(lengthInBytes, alignment)) {
    error = "section '" + secName + "' has a memory '" + memName +
            "' which can not fit the section. " + "Section '" + secName +
            "' length=" + hexText(lengthInBytes, 4) + ".";
    return 0;
  }
  if (traceLevel("Linker::allocateRelAssigned"))
    traceFits("Linker::allocateRelAssigned()", *memory);
  memory->allocate(secName, lengthInBytes, isOverlay, alignment);
  holdSection(cScnMem, secName, &*memory);
  return 1;
}

int Linker::allocateRelUnassigned(std::list<Memory> &memories,
                                  const std::string &secName,
                                  std::uint32_t lengthInBytes, int isOverlay,
                                  std::string &error) {
  return allocateRelUnassigned(memories, secName, lengthInBytes, isOverlay,
                               alignmentFor(secName), error);
}

int Linker::allocateRelUnassigned(std::list<Memory> &memories,
                                  const std::string &secName,
                                  std::uint32_t lengthInBytes, int isOverlay,
                                  std::uint32_t alignment, std::string &error) {
  const bool tracing = traceLevel("Linker::allocateRelUnassigned") != 0;
  if (tracing)
    std::cout
        << "Linker::allocateRelUnassigned(): looking for a Memory for section '"
        << secName << "' with length=" << hexText(lengthInBytes, 4) << '\n';
  std::vector<MemSize> candidates;
  for (Memory &memory : memories)
    if (!memory.isProtected())
      candidates.push_back(MemSize{&memory, memory.largestHole()});
  // Equal largest holes keep their declaration order.
  std::stable_sort(candidates.begin(), candidates.end(), lessBySize);
  if (tracing) {
    std::cout << "Linker::allocateRelUnassigned():" << '\n'
              << "  ********** " << '\n'
              << "  dumping memory's sorted by increasing largest hole size: "
              << '\n';
    for (const MemSize &candidate : candidates) {
      std::cout << "    ";
      candidate.memory->print(std::cout);
    }
    std::cout << "  ********** " << '\n';
  }
  for (const MemSize &candidate : candidates) {
    if (!candidate.memory->canFit(lengthInBytes, alignment))
      continue;
    if (tracing)
      traceFits("Linker::allocateRelUnassigned()", *candidate.memory);
    candidate.memory->allocate(secName, lengthInBytes, isOverlay, alignment);
    holdSection(cScnMem, secName, candidate.memory);
    return 1;
  }
  error = "section '" + secName + "' can not fit the section. " + "Section '" +
          secName + "' length=" + hexText(lengthInBytes, 4);
  return 0;
}

int Linker::allocateInitSection(const std::string &imageName,
                                std::string &error) {
  const std::string base = baseSectionName(imageName);
  const std::uint32_t length = romImageSize(valueOf(cScnSize, base));
  const std::string image = initSectionName(base);
  if (const SectionDesc *desc = findDirective(image)) {
    if (!desc->getRunMemory().empty()) {
      error = "section '" + image +
              "' can not have a 'RAM' memory attribute specified in the "
              "linker command file.";
      return 0;
    }
    return allocateRelAssigned(cCodePage, desc->getLoadMemory(), image, length,
                               0, error);
  }
  return allocateRelUnassigned(cCodePage, image, length, 0, error);
}

// Places one section of the inputs that is not absolute; assigned tells
// whether a SECTION directive names its memory.
int Linker::allocateSection(const std::string &secName, int assigned,
                            std::string &error) {
  const std::uint32_t length = valueOf(cScnSize, secName);
  const int isOverlay = valueOf(cScnOverlay, secName);
  if (assigned)
    return allocateRelAssigned(memoriesFor(secName), memoryNameFor(secName),
                               secName, length, isOverlay, error);
  return allocateRelUnassigned(memoriesFor(secName), secName, length, isOverlay,
                               error);
}

int Linker::mapSections(std::string &error) {
  const bool tracing = traceLevel("Linker::mapSections") != 0;
  std::vector<Candidate> absolute, assigned;

  // Absolute sections, in name order.
  for (const auto &entry : cScnAbs) {
    if (!entry.second)
      continue;
    const std::string &name = entry.first;
    const std::uint32_t startLoc = valueOf(cScnAbsStart, name);
    const std::uint32_t length = valueOf(cScnAbsSize, name);
    const int isOverlay = valueOf(cScnOverlay, name);
    absolute.push_back(Candidate{name, length, false});
    const SectionDesc *desc = findDirective(name);
    if (desc != nullptr && tracing) {
      std::cout << "Linker::mapSections() - absolute section '" << name
                << "' has the following SECTION:" << '\n'
                << "   ";
      desc->print(std::cout);
      std::cout << '\n';
    }
    const int placed =
        desc != nullptr
            ? allocateAbsAssigned(memoriesFor(name), memoryNameFor(name), name,
                                  startLoc, length, isOverlay, error)
            : allocateAbsUnassigned(memoriesFor(name), name, startLoc, length,
                                    isOverlay, error);
    if (!placed)
      return 0;
  }

  if (isStackAssigned() && !allocateStack(error))
    return 0;
  if (isInitTableAssigned() && !allocateInitTable(error))
    return 0;

  // Sections and images named by a SECTION directive, in directive order.
  std::set<std::string> imageNames;
  if (!cSectionDesc.empty())
    for (const auto &entry : cScnType)
      if (entry.second == kScnTypeIdata)
        imageNames.insert(initSectionName(entry.first));
  for (const SectionDesc &desc : cSectionDesc) {
    const std::string name = desc.getName();
    const bool isImage = imageNames.count(name) != 0;
    const bool isRelocatable =
        cScnType.count(name) != 0 && !valueOf(cScnAbs, name);
    // A repeated directive must not place a section twice.
    if ((!isImage && !isRelocatable) || cScnMem.count(name) != 0)
      continue;
    if (tracing) {
      std::cout << "Linker::mapSections() - relocatable section '" << name
                << "' has the following SECTION:" << '\n'
                << "   ";
      desc.print(std::cout);
      std::cout << '\n';
    }
    if (isImage) {
      assigned.push_back(Candidate{
          name, romImageSize(valueOf(cScnSize, baseSectionName(name))), true});
      if (!allocateInitSection(name, error))
        return 0;
    } else {
      assigned.push_back(Candidate{name, valueOf(cScnSize, name), false});
      if (!allocateSection(name, 1, error))
        return 0;
    }
  }

  if (!isStackAssigned() && !allocateStack(error))
    return 0;
  if (!isInitTableAssigned() && !allocateInitTable(error))
    return 0;

  // Each section, and the image of each idata section, in runs of
  // neighbouring names made on all threads.
  const bool anyDirective = !cSectionDesc.empty();
  if (anyDirective)
    findDirective(std::string()); // indexed before the threads look
  using TypedAt = std::map<std::string, std::uint8_t>::const_iterator;
  constexpr std::size_t kRunNames = 512;
  std::vector<TypedAt> runStart;
  std::size_t count = 0;
  for (auto entry = cScnType.cbegin(); entry != cScnType.cend(); ++entry)
    if (count++ % kRunNames == 0)
      runStart.push_back(entry);
  runStart.push_back(cScnType.cend());
  struct Run {
    std::vector<Unplaced> unplaced;
    std::deque<std::string> images; // the names of its images
  };
  std::vector<Run> runs(runStart.size() - 1);
  forEachLargeInParallel(runs.size(), [&](std::size_t at) {
    Run &run = runs[at];
    const TypedAt last = runStart[at + 1];
    // The record maps all hold the same names in the same order, so they
    // are walked side by side instead of searched per section.
    const std::string &firstName = runStart[at]->first;
    auto from = [&](const auto &map) { return map.lower_bound(firstName); };
    auto size = from(cScnSize);
    auto abs = from(cScnAbs);
    auto overlay = from(cScnOverlay);
    auto share = from(cScnShare);
    auto access = from(cScnAccess);
    for (auto entry = runStart[at]; entry != last; ++entry) {
      const std::string &name = entry->first;
      const std::uint32_t sizeInBytes = alongside(cScnSize, size, name);
      const int isAbsolute = alongside(cScnAbs, abs, name);
      const int isOverlay = alongside(cScnOverlay, overlay, name);
      const int isShared = alongside(cScnShare, share, name);
      const int isAccess = alongside(cScnAccess, access, name);
      const std::uint8_t type = entry->second;
      if (!isAbsolute && (!anyDirective || findDirective(name) == nullptr)) {
        // As memoriesFor and alignmentFor choose.
        const bool inProgram = type == kScnTypeCode || type == kScnTypeRomdata;
        std::list<Memory> *memories = inProgram  ? &cCodePage
                                      : isShared ? &cShareBanks
                                      : isAccess ? &cAccessBanks
                                                 : &cDataBanks;
        const std::uint32_t alignment =
            cRomWidthBits == 8 && type == kScnTypeCode ? 2 : 1;
        run.unplaced.push_back(Unplaced{&name, memories, sizeInBytes, alignment,
                                        isOverlay, false});
      }
      if (type != kScnTypeIdata)
        continue;
      // As allocateInitSection places an image no directive names.
      std::string image = initSectionName(name);
      if (anyDirective && findDirective(image) != nullptr)
        continue;
      // As alignmentFor chooses. An image name sorts after its section's
      // name, and nearly always before the next one: then it has no
      // record.
      std::uint32_t alignment = 1;
      if (cRomWidthBits == 8) {
        const auto next = std::next(entry);
        if (next != cScnType.cend() && !(image < next->first) &&
            valueOf(cScnType, image) == kScnTypeCode)
          alignment = 2;
      }
      run.images.push_back(std::move(image));
      run.unplaced.push_back(Unplaced{&run.images.back(), &cCodePage,
                                      romImageSize(sizeInBytes), alignment, 0,
                                      true});
    }
  });
  // The rest, largest first; equal sizes keep name order.
  std::vector<Unplaced> unplaced;
  unplaced.reserve(count + count / 2);
  for (const Run &run : runs)
    unplaced.insert(unplaced.end(), run.unplaced.begin(), run.unplaced.end());
  std::vector<std::uint32_t> bySize(unplaced.size());
  for (std::size_t at = 0; at < unplaced.size(); ++at)
    bySize[at] = static_cast<std::uint32_t>(at);
  std::stable_sort(bySize.begin(), bySize.end(),
                   [&](std::uint32_t a, std::uint32_t b) {
                     return unplaced[a].sizeInBytes > unplaced[b].sizeInBytes;
                   });
  if (!placeUnassigned(*this, unplaced, bySize, error))
    return 0;

  if (tracing) {
    std::vector<Candidate> placed;
    for (std::uint32_t at : bySize)
      placed.push_back(Candidate{*unplaced[at].name, unplaced[at].sizeInBytes,
                                 unplaced[at].isImage});
    std::cout << "Linker::mapSections():" << '\n';
    traceCandidates("  absolute dump: ", absolute);
    traceCandidates("  relocatable assigned dump: ", assigned);
    traceCandidates("  relocatable unassigned dump: ", placed);
  }
  return 1;
}
