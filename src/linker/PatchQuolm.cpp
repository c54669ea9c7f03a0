// Relocation patching for the newer 16-bit family, whose program memory is
// byte-addressed: call and goto targets are word addresses split over two
// words (each with its own relocation), relative branches count words from
// the next instruction, and data addresses select banks in 256-byte steps.
#include "Linker.h"

#include "PatchBits.h"
#include "RelocTypes.h"

#include <string_view>

namespace {

std::string notWordAlignedText(std::string_view name) {
  return "Symbol '" + std::string(name) + "' is not word-aligned.\n" +
         "It cannot be used as the target of a call or goto instruction.";
}

// Stack and program-counter registers that MOVFF must not write.
const char *protectedDestination(std::uint32_t address) {
  switch (address) {
  case 0xFFF:
    return "TOSU";
  case 0xFFE:
    return "TOSH";
  case 0xFFD:
    return "TOSL";
  case 0xFF9:
    return "PCL";
  default:
    return nullptr;
  }
}

// A branch field of widthBits words, reaching reachInBytes back and
// reachInBytes - 2 forward from the next instruction. The range is tested
// before the parity, so an odd target out of range reports the range.
int patchBranch(Data &raw, std::uint32_t at, std::uint32_t branchLoc,
                std::uint32_t v, std::int32_t reachInBytes,
                std::uint16_t widthBits, std::string_view name,
                std::string &error) {
  std::int32_t offset = std::int32_t(v - (branchLoc + 2));
  if (offset < -reachInBytes || offset > reachInBytes - 2) {
    error = "Symbol '" + std::string(name) +
            "' out of range of relative branch instruction.";
    return 0;
  }
  // Backward offsets become the two's complement of the field.
  if (offset <= 0)
    offset += 2 * reachInBytes;
  if (offset & 1) {
    error = notWordAlignedText(name);
    return 0;
  }
  patchBits(raw, at, std::uint32_t(offset), 1, 0, widthBits);
  return 1;
}

// Field of a section-size or section-end relocation: source bit and width.
struct ScnField {
  bool isEnd;
  std::uint16_t srcBegin;
  std::uint16_t width;
};

ScnField scnField(std::uint16_t type) {
  switch (type) {
  case RELOCT_SCNSZ_LOW:
    return {false, 0, 8};
  case RELOCT_SCNSZ_HIGH:
    return {false, 8, 8};
  case RELOCT_SCNSZ_UPPER:
    return {false, 16, 8};
  case RELOCT_SCNEND_LOW:
    return {true, 0, 8};
  case RELOCT_SCNEND_HIGH:
    return {true, 8, 8};
  case RELOCT_SCNEND_UPPER:
    return {true, 16, 8};
  case RELOCT_SCNEND_LFSR1:
    return {true, 8, 4};
  default: // RELOCT_SCNEND_LFSR2
    return {true, 0, 8};
  }
}

// Size or last byte of the section a section reference names. Only a
// section reference has one; a section the link does not know would
// otherwise be invented with size 0.
int patchSectionValue(Data &raw, const reloc &rel, const syment &sym,
                      bool isScn, const std::string &name,
                      const std::map<std::string, std::uint32_t> &scnSize,
                      std::string &error) {
  const auto size = scnSize.find(name);
  if (!isScn || size == scnSize.end()) {
    error = "Symbol '" + name + "' is not a section.";
    return 0;
  }
  const ScnField field = scnField(rel.r_type);
  std::uint32_t value = relocValue(size->second, rel.r_offset);
  if (field.isEnd)
    value += sym.n_value - 1;
  patchBits(raw, rel.r_vaddr, value, field.srcBegin, 0, field.width);
  return 1;
}

} // namespace

int Linker::doPatchQuolm(std::uint32_t loadStart, Data &raw, const reloc &rel,
                         const std::vector<syment> &symbols,
                         const std::map<int, std::string> &strings,
                         std::string &error) {
  const syment &sym = symbols[rel.r_symndx];
  // A reference to a section is its name behind a dot; messages quote the
  // section's own name. A view: most relocations never quote it.
  std::string_view name;
  if (!Coff::findName(sym, strings, name))
    Coff::getName(sym, strings); // reports, ends the run
  const bool isScn = !name.empty() && name[0] == '.';
  if (isScn)
    name.remove_prefix(1);
  const std::uint32_t v = relocValue(sym.n_value, rel.r_offset);
  const std::uint32_t at = rel.r_vaddr;
  switch (rel.r_type) {
  case RELOCT_CALL:
  case RELOCT_GOTO:
    if (v & 1) {
      error = notWordAlignedText(name);
      return 0;
    }
    patchBits(raw, at, v, 1, 0, 8);
    return 1;
  case RELOCT_CALL2:
    patchBits(raw, at, v, 9, 0, 12);
    return 1;
  case RELOCT_HIGH:
  case RELOCT_BANKSEL:
  case RELOCT_IBANKSEL:
  case RELOCT_MOVLB:
    patchBits(raw, at, v, 8, 0, 8);
    return 1;
  case RELOCT_LOW:
  case RELOCT_F:
  case RELOCT_LFSR2:
    patchBits(raw, at, v, 0, 0, 8);
    return 1;
  case RELOCT_ALL:
    patchBits(raw, at, v, 0, 0, 16);
    return 1;
  case RELOCT_UPPER:
    patchBits(raw, at, v, 16, 0, 8);
    return 1;
  case RELOCT_LFSR1:
    patchBits(raw, at, v, 8, 0, 4);
    return 1;
  case RELOCT_FF1:
    patchBits(raw, at, v, 0, 0, 12);
    return 1;
  case RELOCT_FF2:
    if (const char *reg = protectedDestination(v)) {
      error = std::string(reg) +
              " cannot be used as the destination of a MOVFF instruction.";
      return 0;
    }
    patchBits(raw, at, v, 0, 0, 12);
    return 1;
  case RELOCT_BRA:
    return patchBranch(raw, at, loadStart + at, v, 2048, 11, name, error);
  case RELOCT_CONDBRA:
    return patchBranch(raw, at, loadStart + at, v, 256, 8, name, error);
  case RELOCT_ACCESS: {
    // 0 selects the access bank, 1 the bank in BSR.
    std::uint32_t banked = 1;
    for (auto mem = cAccessBanks.begin(); banked && mem != cAccessBanks.end();
         ++mem)
      if (mem->getStart() <= v && v <= mem->getEnd())
        banked = 0;
    patchBits(raw, at, banked, 0, 8, 1);
    return 1;
  }
  case RELOCT_SCNSZ_LOW:
  case RELOCT_SCNSZ_HIGH:
  case RELOCT_SCNSZ_UPPER:
  case RELOCT_SCNEND_LOW:
  case RELOCT_SCNEND_HIGH:
  case RELOCT_SCNEND_UPPER:
  case RELOCT_SCNEND_LFSR1:
  case RELOCT_SCNEND_LFSR2:
    return patchSectionValue(raw, rel, sym, isScn, std::string(name), cScnSize,
                             error);
  default:
    error = kUnsupportedRelocText;
    return 0;
  }
}
