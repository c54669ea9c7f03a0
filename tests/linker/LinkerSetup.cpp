#include "LinkerSetup.h"

#include <gtest/gtest.h>

void LinkerSetup::useProcessor(ProcessorId id) {
  linker.cProcessor = id;
  linker.cFamily = procFamily(id);
  linker.cRomWidthBits = static_cast<std::uint16_t>(addrUnitBits(id));
  linker.cRamWidthBits = 8;
}

Memory &LinkerSetup::codePage(const std::string &name, std::uint32_t startLoc,
                              std::uint32_t endLoc, const std::string &fill) {
  linker.cCodePage.emplace_back(name, startLoc, endLoc, kProgramMemory, 0,
                                fill.empty() ? 0 : 1, fill);
  linker.cCodePage.back().setWidthBits(linker.cRomWidthBits);
  return linker.cCodePage.back();
}

Memory &LinkerSetup::dataBank(const std::string &name, std::uint32_t startLoc,
                              std::uint32_t endLoc) {
  linker.cDataBanks.emplace_back(name, startLoc, endLoc, kDataMemory, 0, 0, "");
  linker.cDataBanks.back().setWidthBits(linker.cRamWidthBits);
  return linker.cDataBanks.back();
}

void LinkerSetup::declare(const std::string &name, std::uint8_t type,
                          std::uint32_t sizeInBytes, int isAbs, int isShared,
                          int isAccess) {
  linker.cScnSize[name] = sizeInBytes;
  linker.cScnType[name] = type;
  linker.cScnAbs[name] = isAbs;
  linker.cScnShare[name] = isShared;
  linker.cScnAccess[name] = isAccess;
  linker.cScnOverlay[name] = 0;
}

void LinkerSetup::place(Memory &memory, const std::string &name,
                        std::uint32_t sizeInBytes, int isOverlay) {
  ASSERT_TRUE(memory.canFit(sizeInBytes, 1));
  memory.allocate(name, sizeInBytes, isOverlay, 1);
  linker.cScnMem[name] = &memory;
}

void LinkerSetup::placeAt(Memory &memory, const std::string &name,
                          std::uint32_t startLoc, std::uint32_t sizeInBytes) {
  ASSERT_TRUE(memory.canFitAt(startLoc, sizeInBytes));
  memory.allocateAt(name, startLoc, sizeInBytes, 0);
  linker.cScnMem[name] = &memory;
}

void LinkerSetup::addInput(const CoffBuilder &builder,
                           const std::string &fileName) {
  auto coff = std::make_unique<Coff>(builder.build());
  coff->cFileName = fileName;
  linker.cCoff.push_back(std::move(coff));
}

void LinkerSetup::loadAll() {
  InputIndex input = 0;
  for (const auto &coff : linker.cCoff) {
    for (const auto &entry : coff->cScnNum) {
      const scnhdr &hdr = coff->cScnHdr.at(entry.second);
      Memory *memory = linker.cScnMem.at(entry.second);
      if (linker.cScnAbs[entry.second])
        memory->loadAbsolute(input, entry.second, hdr.s_paddr, hdr.s_size);
      else
        memory->load(input, entry.second, hdr.s_size);
    }
    ++input;
  }
}

void LinkerSetup::buildOutput() {
  std::string error;
  ASSERT_EQ(linker.buildOutputScnNum(error), 1);
  ASSERT_EQ(linker.buildOutputSymbolTbl(error), 1);
  ASSERT_EQ(linker.buildOutputRawData(error), 1);
  ASSERT_EQ(linker.buildOutputLineInfo(error), 1);
  ASSERT_EQ(linker.addInitSectionNames(error), 1);
  ASSERT_EQ(linker.buildOutputScnHdrs(error), 1);
  ASSERT_EQ(linker.buildOutputFileHdr(error), 1);
  ASSERT_EQ(linker.buildOutputHoles(error), 1);
  ASSERT_EQ(error, "");
}

const Data &LinkerSetup::outputData(const std::string &name) {
  return linker.cOutput.cRawData.at(name);
}

std::vector<std::uint8_t> LinkerSetup::outputBytes(const std::string &name) {
  return bytesOf(outputData(name));
}

std::vector<std::uint8_t> bytesOf(const Data &data) {
  return std::vector<std::uint8_t>(data.bytes(), data.bytes() + data.size());
}
