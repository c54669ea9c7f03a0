// Checks that the loaded inputs can be linked together: one processor for
// all of them, and SECTION directives whose memories suit the sections.
#include "Linker.h"

#include "mgproc/Processor.h"

namespace {

std::uint16_t deviceCode(const Coff &coff) {
  return static_cast<std::uint16_t>(coff.cOptHdr.proc_type & 0xFFFF);
}

bool isFamilyGeneric(const Coff &coff) {
  return (coff.cFileHdr.f_flags & kFileFamilyGeneric) != 0;
}

// The device code must be tested before it is mapped: the processor
// queries stop the program on a code outside their table. The inputs of a
// link nearly all carry one code, so the last code found is kept rather
// than searched for in the table again.
class ProcessorLookup {
public:
  int known(const Coff &coff, ProcessorId &id, std::string &error) {
    const std::uint16_t code = deviceCode(coff);
    if (cFound && code == cCode) {
      id = cId;
      return 1;
    }
    if (!isKnownProcCode(code)) {
      error = "Unsupported processor type in file '" + coff.cFileName + "'";
      return 0;
    }
    cId = id = procFromCode(code);
    cCode = code;
    cFound = true;
    return 1;
  }

private:
  bool cFound = false;
  std::uint16_t cCode = 0;
  ProcessorId cId = 0;
};

void setWidths(std::list<Memory> &memories, std::uint16_t bits) {
  for (Memory &memory : memories)
    memory.setWidthBits(bits);
}

} // namespace

int Linker::checkProcessor(std::string &error) {
  if (cCoff.empty()) {
    error = "no input object files specified.";
    return 0;
  }
  // The first input without the family-generic flag names the processor;
  // when every input carries the flag, the first input does.
  bool chosen = false;
  ProcessorLookup lookup;
  for (const std::unique_ptr<Coff> &coff : cCoff) {
    ProcessorId id = 0;
    if (!lookup.known(*coff, id, error))
      return 0;
    if (!chosen || !isFamilyGeneric(*coff)) {
      cProcessor = id;
      cFamily = procFamily(id);
      cRomWidthBits = static_cast<std::uint16_t>(addrUnitBits(id));
      cRamWidthBits = static_cast<std::uint16_t>(dataWidthBits(id));
    }
    chosen = true;
    if (!isFamilyGeneric(*coff))
      break;
  }

  for (const std::unique_ptr<Coff> &coff : cCoff) {
    ProcessorId id = 0;
    if (!lookup.known(*coff, id, error))
      return 0;
    const bool agrees =
        isFamilyGeneric(*coff) ? procFamily(id) == cFamily : id == cProcessor;
    if (!agrees) {
      error = "processor types do not agree across all input files.";
      return 0;
    }
  }

  setWidths(cCodePage, cRomWidthBits);
  setWidths(cDataBanks, cRamWidthBits);
  setWidths(cShareBanks, cRamWidthBits);
  setWidths(cAccessBanks, cRamWidthBits);
  return 1;
}

namespace {

// The error text for a section of this kind given a memory of the wrong
// kind, or "" when the directive is acceptable.
std::string attributeError(const SectionDesc &desc, std::uint8_t type) {
  const std::string name = desc.getName();
  const bool hasRom = !desc.getLoadMemory().empty();
  const bool hasRam = !desc.getRunMemory().empty();
  switch (type) {
  case kScnTypeCode:
    if (hasRam)
      return "section '" + name +
             "' contains code and can not have a 'RAM' memory attribute "
             "specified in the linker command file.";
    break;
  case kScnTypeIdata:
    if (hasRom)
      return "section '" + name +
             "' contains initialized data and can not have a 'ROM' memory "
             "attribute specified in the linker command file.";
    break;
  case kScnTypeUdata:
    if (hasRom)
      return "section '" + name +
             "' contains uninitialized data and can not have a 'ROM' memory "
             "attribute specified in the linker command file.";
    break;
  case kScnTypeRomdata:
    if (hasRam)
      return "section '" + name +
             "' contains initialized rom data and can not have a 'RAM' "
             "memory attribute specified in the linker command file.";
    break;
  default:
    break;
  }
  return "";
}

} // namespace

int Linker::checkSectionAttributes(std::string &error) {
  for (const SectionDesc &desc : cSectionDesc) {
    const auto type = cScnType.find(desc.getName());
    // A directive for a section no input has is no error.
    if (type == cScnType.end())
      continue;
    const std::string text = attributeError(desc, type->second);
    if (!text.empty()) {
      error = text;
      return 0;
    }
  }
  return 1;
}
