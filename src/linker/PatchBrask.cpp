// Relocation patching for the older 16-bit family: 13-bit call and goto
// targets, 8-bit file registers, banks chosen with MOVLR (general-purpose
// registers) or MOVLB (special function registers), pages by loading
// PCLATH through W.
#include "Linker.h"

#include "PatchBits.h"
#include "RelocTypes.h"
#include "mginst/InstructionSet.h"

namespace {

constexpr std::uint16_t kPclath = 3;

} // namespace

int Linker::doPatchBrask(Data &raw, const reloc &rel,
                         const std::vector<syment> &symbols,
                         std::string &error) {
  const std::uint32_t v =
      relocValue(symbols[rel.r_symndx].n_value, rel.r_offset);
  const std::uint32_t at = rel.r_vaddr;
  switch (rel.r_type) {
  case RELOCT_CALL:
  case RELOCT_GOTO:
    patchBits(raw, at, v, 0, 0, 13);
    return 1;
  case RELOCT_HIGH:
    patchBits(raw, at, v, 8, 0, 8);
    return 1;
  case RELOCT_LOW:
    patchBits(raw, at, v, 0, 0, 8);
    return 1;
  case RELOCT_P:
    patchBits(raw, at, v, 0, 8, 5);
    return 1;
  case RELOCT_ALL:
    patchBits(raw, at, v, 0, 0, 16);
    return 1;
  case RELOCT_F:
    patchBits(raw, at, v, 0, 0, 8);
    return 1;
  case RELOCT_MOVLR:
    patchBits(raw, at, bankOf(cProcessor, v), 0, 4, 4);
    return 1;
  case RELOCT_MOVLB:
    patchBits(raw, at, bankOf(cProcessor, v), 0, 0, 4);
    return 1;
  case RELOCT_BANKSEL:
  case RELOCT_IBANKSEL: {
    const MnemonicCode select =
        isGpr(cProcessor, v) ? Mnem::MOVLR : Mnem::MOVLB;
    const auto bank = std::uint16_t(bankOf(cProcessor, v));
    return writeWords(raw, at, {oneOperandWord(Brask, select, bank)}, error);
  }
  case RELOCT_PAGESEL:
  case RELOCT_PAGESEL_WREG:
    return writeWords(raw, at,
                      {oneOperandWord(Brask, Mnem::MOVLW, (v >> 8) & 0xFF),
                       oneOperandWord(Brask, Mnem::MOVWF, kPclath)},
                      error);
  default:
    error = kUnsupportedRelocText;
    return 0;
  }
}
