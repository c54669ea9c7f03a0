// A Linker set up directly, as the loading and checking phases leave it:
// memories with their widths, per-section records, and inputs built with
// the test object builder.
#pragma once

#include "linker/Linker.h"

#include "CoffBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

constexpr std::uint8_t kTrellId = 1;   // 14-bit words
constexpr std::uint8_t kBraskId = 100; // 16-bit words
constexpr std::uint8_t kQuolmId = 140; // byte-addressed program memory

class LinkerFixture : public ::testing::Test {
public:
  void processor(std::uint8_t id, std::uint16_t romWidthBits) {
    link->cProcessor = id;
    link->cRomWidthBits = romWidthBits;
    link->cRamWidthBits = 8;
  }
  void page(const std::string &name, std::uint32_t start, std::uint32_t end,
            int isProtected = 0) {
    link->cCodePage.push_back(
        Memory(name, start, end, kProgramMemory, isProtected, 0, ""));
  }
  void bank(std::list<Memory> &list, const std::string &name,
            std::uint32_t start, std::uint32_t end, int isProtected = 0) {
    list.push_back(Memory(name, start, end, kDataMemory, isProtected, 0, ""));
  }
  void section(const std::string &name, std::uint8_t type,
               std::uint32_t sizeInBytes, std::uint32_t flags = 0) {
    link->cScnSize[name] = sizeInBytes;
    link->cScnType[name] = type;
    link->cScnAbs[name] = (flags & kScnAbsolute) != 0;
    link->cScnShare[name] = (flags & kScnShared) != 0;
    link->cScnAccess[name] = (flags & kScnAccess) != 0;
    link->cScnOverlay[name] = (flags & kScnOverlay) != 0;
  }
  void absolute(const std::string &name, std::uint8_t type,
                std::uint32_t startLoc, std::uint32_t sizeInBytes) {
    section(name, type, sizeInBytes, kScnAbsolute);
    link->cScnAbsStart[name] = startLoc;
    link->cScnAbsSize[name] = sizeInBytes;
  }
  void directive(const std::string &name, const std::string &rom,
                 const std::string &ram = "") {
    link->cSectionDesc.push_back(SectionDesc(name, rom, ram));
  }
  // What the processor check does before allocation.
  int map() {
    for (Memory &m : link->cCodePage)
      m.setWidthBits(link->cRomWidthBits);
    for (auto *list :
         {&link->cDataBanks, &link->cShareBanks, &link->cAccessBanks})
      for (Memory &m : *list)
        m.setWidthBits(8);
    error.clear();
    return link->mapSections(error);
  }
  // Adds an input and folds its sections into the per-section records the
  // way the section checks do.
  void input(const std::string &fileName, const CoffBuilder &builder) {
    input(fileName, builder.build());
  }
  void input(const std::string &fileName, const Coff &object) {
    auto coff = std::make_unique<Coff>(object);
    coff->cFileName = fileName;
    for (const auto &number : coff->cScnNum) {
      const std::string &name = number.second;
      const scnhdr &hdr = coff->cScnHdr.at(name);
      if (link->cScnType.count(name) == 0) {
        section(name, Coff::scnType(hdr), hdr.s_size, hdr.s_flags);
        if (Coff::isAbsolute(hdr)) {
          link->cScnAbsStart[name] = hdr.s_paddr;
          link->cScnAbsSize[name] = hdr.s_size;
        }
      } else if (Coff::isOverlay(hdr)) {
        std::uint32_t &size = link->cScnSize[name];
        size = std::max(size, hdr.s_size);
        if (Coff::isAbsolute(hdr))
          link->cScnAbsSize[name] = size;
      } else {
        link->cScnSize[name] += hdr.s_size;
      }
    }
    link->cCoff.push_back(std::move(coff));
  }
  // Allocation, loading and the initialisation table.
  int place() {
    return map() && link->loadSections(error) && link->buildInitTable(error);
  }
  // Relocation, string tables and externals, as the link run calls them.
  int resolve() {
    error.clear();
    if (!link->relocateSymbols(error) || !link->relocateLineInfo(error))
      return 0;
    link->mergeStringTbls(error);
    return link->buildExtSymDef(error) && link->resolveExternals(error);
  }
  const syment &symbolOf(InputIndex input, const std::string &name) {
    const Coff &coff = *link->cCoff.at(input);
    const std::vector<syment> &table = coff.cSymbolTbl;
    for (std::size_t i = 0; i < table.size(); i += 1 + table[i].n_numaux)
      if (Coff::getName(table[i], coff.cStringTbl) == name)
        return table[i];
    ADD_FAILURE() << "no symbol " << name;
    static const syment none;
    return none;
  }
  std::string memoryOf(const std::string &name) {
    auto it = link->cScnMem.find(name);
    return it == link->cScnMem.end() ? "" : it->second->getName();
  }
  std::uint32_t startOf(const std::string &name) {
    return link->cScnMem.at(name)->getSectionStart(name);
  }

  void reset() { link = std::make_unique<Linker>(); }

  std::unique_ptr<Linker> link = std::make_unique<Linker>();
  std::string error;
};
