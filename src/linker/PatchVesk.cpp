// Relocation patching for the 12-bit family: 8-bit call targets (the lower
// half of a page, checked before any patching), 9-bit goto targets, 5-bit
// file registers. Banks are chosen with bits 5 and 6 of FSR, pages with the
// PA bits of STATUS.
#include "Linker.h"

#include "PatchBits.h"
#include "RelocTypes.h"
#include "mginst/InstructionSet.h"

namespace {

const char *const kPatcher = "Linker::doPatchVesk";
constexpr std::uint16_t kStatus = 3;
constexpr std::uint16_t kFsr = 4;

int pageSelect(ProcessorId processor, Data &raw, std::uint32_t at,
               std::uint32_t v, std::string &error) {
  const std::uint32_t pages = progPageCount(processor);
  if (pages < 2) {
    tracePatcher(kPatcher,
                 "RELOCT_PAGESEL encountered for a device with only one page!");
    return 1;
  }
  const std::uint16_t pa0 = bitSelectWord(Vesk, kStatus, 5, v, 0x200);
  if (pages == 2)
    return writeWords(raw, at, {pa0}, error);
  return writeWords(raw, at, {pa0, bitSelectWord(Vesk, kStatus, 6, v, 0x400)},
                    error);
}

} // namespace

int Linker::doPatchVesk(Data &raw, const reloc &rel,
                        const std::vector<syment> &symbols,
                        std::string &error) {
  const std::uint32_t v =
      relocValue(symbols[rel.r_symndx].n_value, rel.r_offset);
  const std::uint32_t at = rel.r_vaddr;
  switch (rel.r_type) {
  case RELOCT_CALL:
    patchBits(raw, at, v, 0, 0, 8);
    return 1;
  case RELOCT_GOTO:
    patchBits(raw, at, v, 0, 0, 9);
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
    patchBits(raw, at, v, 0, 0, 5);
    return 1;
  case RELOCT_TRIS:
    patchBits(raw, at, v, 0, 0, 3);
    return 1;
  case RELOCT_BANKSEL:
  case RELOCT_IBANKSEL:
    // Written on every processor, even one with a single bank.
    return writeWords(raw, at,
                      {bitSelectWord(Vesk, kFsr, 5, v, 0x20),
                       bitSelectWord(Vesk, kFsr, 6, v, 0x40)},
                      error);
  case RELOCT_PAGESEL:
  case RELOCT_PAGESEL_BITS:
    return pageSelect(cProcessor, raw, at, v, error);
  default:
    error = kUnsupportedRelocText;
    return 0;
  }
}
