// The link-setting operations the parser calls, with the checks between
// the memories, sections and files already declared.
#include "Linker.h"

namespace {

int hasMemoryNamed(const std::list<Memory> &memories, const std::string &name) {
  for (const Memory &memory : memories)
    if (memory.getName() == name)
      return 1;
  return 0;
}

int findOverlap(const std::list<Memory> &memories, const Memory &memory,
                std::string &error) {
  for (const Memory &old : memories) {
    if (memory.overlaps(old)) {
      error = "memory '" + memory.getName() + "' overlaps memory '" +
              old.getName() + "' ";
      return 1;
    }
  }
  return 0;
}

} // namespace

int Linker::setMinHeapSize(std::uint32_t size, std::string &error) {
  if (cMinHeapSizeSet) {
    error = "multiple min heap sizes declared: '" +
            std::to_string(cMinHeapSize) + "', '" + std::to_string(size) + "'";
    return 0;
  }
  cMinHeapSize = size;
  cMinHeapSizeSet = 1;
  return 1;
}

int Linker::setMapFile(const std::string &name, std::string &error) {
  if (!cMapFile.empty()) {
    error = "multiple map files declared: '" + cMapFile + "', '" + name + "'";
    return 0;
  }
  cMapFile = name;
  return 1;
}

int Linker::setOutputFile(const std::string &name, std::string &error) {
  if (!cOutputFile.empty()) {
    error =
        "multiple output files declared: '" + cOutputFile + "', '" + name + "'";
    return 0;
  }
  cOutputFile = name;
  return 1;
}

int Linker::addObjectFile(const std::string &name, std::string &error) {
  if (!cObjectFileNames.insert(name).second) {
    error = "mutliple inclusion of object file '" + name + "' ";
    return 0;
  }
  cObjectFile.push_back(name);
  return 1;
}

int Linker::addLibraryFile(const std::string &name, std::string &error) {
  if (!cLibraryFileNames.insert(name).second) {
    error = "mutliple inclusion of library file '" + name + "' ";
    return 0;
  }
  cLibraryFile.push_back(name);
  return 1;
}

int Linker::checkDuplicateMemory(const std::string &name, int isShareBank,
                                 std::string &error) const {
  // A SHAREBANK may be declared several times under one name; no other
  // memory may reuse a name.
  if (hasMemoryNamed(cCodePage, name) || hasMemoryNamed(cDataBanks, name) ||
      hasMemoryNamed(cAccessBanks, name) ||
      (!isShareBank && hasMemoryNamed(cShareBanks, name))) {
    error = "duplicate definition of memory '" + name + "' ";
    return 0;
  }
  return 1;
}

int Linker::checkCodePageOverlap(const Memory &memory,
                                 std::string &error) const {
  return findOverlap(cCodePage, memory, error) ? 0 : 1;
}

int Linker::checkBankOverlap(const Memory &memory, std::string &error) const {
  // Banks are compared with banks only: program and data memory are
  // separate address spaces.
  if (findOverlap(cDataBanks, memory, error) ||
      findOverlap(cShareBanks, memory, error) ||
      findOverlap(cAccessBanks, memory, error))
    return 0;
  return 1;
}

int Linker::addCodePage(const Memory &memory, std::string &error) {
  if (!checkDuplicateMemory(memory.getName(), 0, error) ||
      !checkCodePageOverlap(memory, error))
    return 0;
  cCodePage.push_back(memory);
  return 1;
}

int Linker::addDataBank(const Memory &memory, std::string &error) {
  if (!checkDuplicateMemory(memory.getName(), 0, error) ||
      !checkBankOverlap(memory, error))
    return 0;
  cDataBanks.push_back(memory);
  return 1;
}

int Linker::addShareBank(const Memory &memory, std::string &error) {
  if (!checkDuplicateMemory(memory.getName(), 1, error) ||
      !checkBankOverlap(memory, error))
    return 0;
  // Every declaration of one shared bank mirrors the same bytes, so all
  // must be equally long.
  for (const Memory &old : cShareBanks) {
    if (old.getName() == memory.getName() && old.size() != memory.size()) {
      error = "inconsistent length definitions of SHAREBANK '" +
              memory.getName() + "' ";
      return 0;
    }
  }
  cShareBanks.push_back(memory);
  return 1;
}

int Linker::addAccessBank(const Memory &memory, std::string &error) {
  if (!checkDuplicateMemory(memory.getName(), 0, error) ||
      !checkBankOverlap(memory, error))
    return 0;
  cAccessBanks.push_back(memory);
  return 1;
}

namespace {

int isDataMemoryName(const Linker &linker, const std::string &name) {
  return hasMemoryNamed(linker.cDataBanks, name) ||
                 hasMemoryNamed(linker.cShareBanks, name) ||
                 hasMemoryNamed(linker.cAccessBanks, name)
             ? 1
             : 0;
}

} // namespace

int Linker::addSection(const SectionDesc &section, std::string &error) {
  const std::string name = section.getName();
  if (cSectionNames.count(name) != 0) {
    error = "duplicate definitions of SECTION '" + name + "' ";
    return 0;
  }
  const std::string rom = section.getLoadMemory();
  if (!rom.empty() && !hasMemoryNamed(cCodePage, rom)) {
    error = "undefined CODEPAGE '" + rom + "' for SECTION '" + name + "' ";
    return 0;
  }
  const std::string ram = section.getRunMemory();
  if (!ram.empty() && !isDataMemoryName(*this, ram)) {
    error = "undefined DATABANK/SHAREBANK '" + ram + "' for SECTION '" + name +
            "' ";
    return 0;
  }
  cSectionDesc.push_back(section);
  cSectionNames.insert(name);
  return 1;
}

int Linker::setStack(const StackDesc &stack, std::string &error) {
  if (cStackDescSet) {
    error = "multiple STACK definitions ";
    return 0;
  }
  const std::string ram = stack.getRunMemory();
  if (!ram.empty() && !isDataMemoryName(*this, ram)) {
    error = "undefined DATABANK/SHAREBANK '" + ram + "' for STACK. ";
    return 0;
  }
  cStackDesc = stack;
  cStackDescSet = 1;
  return 1;
}

int Linker::addLibPath(const std::string &dir, std::string & /*error*/) {
  cLibPath.push_back(dir);
  return 1;
}

int Linker::setStrip(int strip, std::string & /*error*/) {
  cStrip = strip;
  return 1;
}
