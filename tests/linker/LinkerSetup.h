// A Linker put directly into the state the output phases start from:
// processor, memories with their sections placed and loaded, and inputs.
#pragma once

#include "CoffBuilder.h"
#include "linker/Linker.h"
#include "mgproc/Processor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class LinkerSetup {
public:
  // Processor ids of one member of each family.
  static constexpr ProcessorId kTrellId = 1;   // 14-bit words
  static constexpr ProcessorId kBraskId = 95;  // 16-bit words
  static constexpr ProcessorId kVeskId = 106;  // 12-bit words
  static constexpr ProcessorId kQuolmId = 140; // bytes

  void useProcessor(ProcessorId id);

  Memory &codePage(const std::string &name, std::uint32_t startLoc,
                   std::uint32_t endLoc, const std::string &fill = "");
  Memory &dataBank(const std::string &name, std::uint32_t startLoc,
                   std::uint32_t endLoc);

  // Declares a merged section as the input checks would.
  void declare(const std::string &name, std::uint8_t type,
               std::uint32_t sizeInBytes, int isAbs = 0, int isShared = 0,
               int isAccess = 0);
  // Places a declared section (or image, ".cinit", ".stack") in memory.
  void place(Memory &memory, const std::string &name, std::uint32_t sizeInBytes,
             int isOverlay = 0);
  void placeAt(Memory &memory, const std::string &name, std::uint32_t startLoc,
               std::uint32_t sizeInBytes);

  void addInput(const CoffBuilder &builder, const std::string &fileName);
  // Records every input's pieces as the section loader does.
  void loadAll();
  // The output phases in the order of the link run.
  void buildOutput();

  const Data &outputData(const std::string &name);
  std::vector<std::uint8_t> outputBytes(const std::string &name);

  Linker linker;
};

std::vector<std::uint8_t> bytesOf(const Data &data);
