// Relocation patching for the 14-bit family. Call and goto hold 11 bits of
// the target; the page bits above them come from the PAGESEL relocations,
// which either load PCLATH through W or set its bits one by one. Banks are
// chosen with the RP bits of STATUS.
#include "Linker.h"

#include "PatchBits.h"
#include "RelocTypes.h"
#include "mginst/InstructionSet.h"

namespace {

const char *const kPatcher = "Linker::doPatchTrell";
constexpr std::uint16_t kStatus = 3;
constexpr std::uint16_t kPclath = 10;

// RP0 (bit 5) and, with more than two banks, RP1 (bit 6) of STATUS.
int bankSelect(ProcessorId processor, Data &raw, std::uint32_t at,
               std::uint32_t v, std::string &error) {
  const std::uint32_t banks = dataBankCount(processor);
  if (banks < 2) {
    tracePatcher(kPatcher,
                 "RELOCT_BANKSEL encountered for a device with only one bank!");
    return 1;
  }
  const std::uint16_t rp0 = bitSelectWord(Trell, kStatus, 5, v, 0x80);
  if (banks == 2)
    return writeWords(raw, at, {rp0}, error);
  return writeWords(raw, at, {rp0, bitSelectWord(Trell, kStatus, 6, v, 0x100)},
                    error);
}

// IRP (bit 7 of STATUS) matters only where indirect addressing can reach
// the upper two banks.
int indirectBankSelect(ProcessorId processor, Data &raw, std::uint32_t at,
                       std::uint32_t v, std::string &error) {
  if (dataBankCount(processor) < 3) {
    tracePatcher(
        kPatcher,
        "RELOCT_IBANKSEL encountered for a device with one or two banks!");
    return 1;
  }
  return writeWords(raw, at, {bitSelectWord(Trell, kStatus, 7, v, 0x100)},
                    error);
}

int pageSelectBits(ProcessorId processor, Data &raw, std::uint32_t at,
                   std::uint32_t v, std::string &error) {
  const std::uint32_t pages = progPageCount(processor);
  if (pages < 2) {
    tracePatcher(
        kPatcher,
        "RELOCT_PAGESEL_BITS encountered for a device with only one page!");
    return 1;
  }
  const std::uint16_t low = bitSelectWord(Trell, kPclath, 3, v, 0x800);
  if (pages == 2)
    return writeWords(raw, at, {low}, error);
  return writeWords(raw, at, {low, bitSelectWord(Trell, kPclath, 4, v, 0x1000)},
                    error);
}

} // namespace

int Linker::doPatchTrell(Data &raw, const reloc &rel,
                         const std::vector<syment> &symbols,
                         std::string &error) {
  const std::uint32_t v =
      relocValue(symbols[rel.r_symndx].n_value, rel.r_offset);
  const std::uint32_t at = rel.r_vaddr;
  switch (rel.r_type) {
  case RELOCT_CALL:
  case RELOCT_GOTO:
    patchBits(raw, at, v, 0, 0, 11);
    return 1;
  case RELOCT_HIGH:
    patchBits(raw, at, v, 8, 0, 8);
    return 1;
  case RELOCT_LOW:
    patchBits(raw, at, v, 0, 0, 8);
    return 1;
  case RELOCT_ALL:
    patchBits(raw, at, v, 0, 0, 16);
    return 1;
  case RELOCT_F:
    patchBits(raw, at, v, 0, 0, 7);
    return 1;
  case RELOCT_BANKSEL:
    return bankSelect(cProcessor, raw, at, v, error);
  case RELOCT_IBANKSEL:
    return indirectBankSelect(cProcessor, raw, at, v, error);
  case RELOCT_PAGESEL:
  case RELOCT_PAGESEL_WREG:
    return writeWords(raw, at,
                      {oneOperandWord(Trell, Mnem::MOVLW, (v >> 8) & 0xFF),
                       oneOperandWord(Trell, Mnem::MOVWF, kPclath)},
                      error);
  case RELOCT_PAGESEL_BITS:
    return pageSelectBits(cProcessor, raw, at, v, error);
  default:
    error = kUnsupportedRelocText;
    return 0;
  }
}
