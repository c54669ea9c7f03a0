// The stack section and the initialisation table ".cinit": the table lists,
// for every initialised-data section, where its image of initial values
// lies in program memory, where the section lies in data memory and how
// many bytes it has, for the start-up code that copies each image.
#include "Linker.h"

#include "ByteOrder.h"
#include "ParallelWork.h"
#include "mgproc/Processor.h"

#include <algorithm>
#include <vector>

namespace {

// Narrow entries hold three u16 fields, wide entries three u32 fields.
constexpr std::uint32_t kNarrowEntryInBytes = 6;
constexpr std::uint32_t kWideEntryInBytes = 12;
constexpr std::uint32_t kCountInBytes = 2;

} // namespace

int Linker::isStackAssigned() const {
  return cStackDescSet && !cStackDesc.getRunMemory().empty() ? 1 : 0;
}

int Linker::allocateStack(std::string &error) {
  if (!cStackDescSet)
    return 1;
  const std::string memName = cStackDesc.getRunMemory();
  const std::uint32_t length = cStackDesc.getSize();
  if (memName.empty())
    // Only an ordinary, unprotected data bank takes an unassigned stack.
    return allocateRelUnassigned(cDataBanks, cStackScnName, length, 0, error);
  for (std::list<Memory> *memories :
       {&cDataBanks, &cShareBanks, &cAccessBanks}) {
    std::list<Memory>::iterator memory;
    if (findByName(*memories, memory, memName))
      return allocateRelAssigned(*memories, memName, cStackScnName, length, 0,
                                 error);
  }
  // Reports the bank as missing.
  return allocateRelAssigned(cDataBanks, memName, cStackScnName, length, 0,
                             error);
}

int Linker::isInitTableAssigned() const {
  for (const SectionDesc &desc : cSectionDesc)
    if (desc.getName() == cInitScnName)
      return 1;
  return 0;
}

namespace {

bool wideInitEntries(std::uint8_t processor) {
  return progAddrMask(processor) > 0xFFFF || dataAddrMask(processor) >= 0x10000;
}

} // namespace

std::uint32_t Linker::initTableSize() const {
  std::uint64_t idataCount = 0;
  for (const auto &entry : cScnType)
    if (entry.second == kScnTypeIdata)
      ++idataCount;
  const std::uint64_t entryInBytes =
      wideInitEntries(cProcessor) ? kWideEntryInBytes : kNarrowEntryInBytes;
  const std::uint64_t sizeInBytes = kCountInBytes + idataCount * entryInBytes;
  return romImageSize(static_cast<std::uint32_t>(
      std::min<std::uint64_t>(sizeInBytes, 0xFFFFFFFF)));
}

int Linker::allocateInitTable(std::string &error) {
  cInitSym = syment();
  Coff::setName(cInitSym, cOutput.cStringTbl, "_cinit");
  cInitSym.n_scnum = kScnNumUndefined;
  cInitSym.n_type = 0;
  cInitSym.n_sclass = kClassExternal;
  cInitSym.n_numaux = 0;

  const std::uint32_t length = initTableSize();
  int placed = 0;
  if (const SectionDesc *desc = findDirective(cInitScnName)) {
    if (!desc->getRunMemory().empty()) {
      error = "section '" + cInitScnName +
              "' contains initialized rom data and can not have a 'RAM' "
              "memory attribute specified in the linker command file.";
      return 0;
    }
    placed = allocateRelAssigned(cCodePage, desc->getLoadMemory(), cInitScnName,
                                 length, 0, error);
  } else {
    placed = allocateRelUnassigned(cCodePage, cInitScnName, length, 0, error);
  }
  if (!placed)
    return 0;
  cInitSym.n_value =
      cScnMem.find(cInitScnName)->second->getSectionStart(cInitScnName);
  return 1;
}

int Linker::buildInitTable(std::string & /*error*/) {
  const bool wide = wideInitEntries(cProcessor);
  const std::shared_ptr<const PlaceIndex> held = placeIndex();
  const PlaceIndex &places = *held;
  // The range of an allocated section, found by hashing its name.
  auto rangeOf = [&](const Place &place,
                     const std::string &name) -> const Range & {
    return place.range != nullptr ? *place.range
                                  : place.memory->sectionRange(name);
  };
  // The idata sections in name order, their entries found on all threads.
  std::vector<const std::string *> idata;
  for (const auto &entry : cScnType)
    if (entry.second == kScnTypeIdata)
      idata.push_back(&entry.first);
  struct Entry {
    bool listed = false;
    std::uint32_t fields[3] = {};
  };
  std::vector<Entry> entries(idata.size());
  constexpr std::size_t kRuns = 32;
  forEachLargeInParallel(kRuns, [&](std::size_t run) {
    for (std::size_t at = idata.size() * run / kRuns;
         at < idata.size() * (run + 1) / kRuns; ++at) {
      const std::string &name = *idata[at];
      const std::string image = initSectionName(name);
      const Place *ram = places.find(name);
      const Place *rom = places.find(image);
      if (ram == nullptr || rom == nullptr)
        continue; // allocation places both, or the link stopped before
      const Range &ramRange = rangeOf(*ram, name);
      const std::uint64_t sizeInBytes = ramRange.sizeInBytes();
      if (sizeInBytes == 0)
        continue;
      entries[at] = Entry{true,
                          {rangeOf(*rom, image).getStart(), ramRange.getStart(),
                           static_cast<std::uint32_t>(sizeInBytes)}};
    }
  });
  const std::size_t fieldBytes = wide ? 4 : 2;
  std::vector<std::uint8_t> table(kCountInBytes, 0);
  table.reserve(kCountInBytes + 3 * fieldBytes * idata.size());
  std::uint16_t count = 0;
  for (const Entry &entry : entries) {
    if (!entry.listed)
      continue;
    for (std::uint32_t field : entry.fields) {
      const std::size_t at = table.size();
      table.resize(at + fieldBytes);
      if (wide)
        writeLE32(&table[at], field);
      else
        writeLE16(&table[at], static_cast<std::uint16_t>(field));
    }
    ++count;
  }
  writeLE16(table.data(), count);
  cInitTable = Data(static_cast<std::uint32_t>(table.size()), table.data());
  return 1;
}
