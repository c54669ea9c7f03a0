#include "PatchBits.h"

#include "Assert.h"
#include "Trace.h"
#include "mginst/InstructionSet.h"

#include <iostream>

namespace {
const char *const kModule = "linker";
} // namespace

const char *const kUnsupportedRelocText = "unsupported relocation type.";
const char *const kOutsideSectionText = "relocation outside the section data.";

void setBit(Data &data, std::uint64_t bitPos, int on) {
  ORV_ASSERT(bitPos < 8 * std::uint64_t(data.size()), kModule);
  std::uint8_t &byte = data.bytes()[bitPos / 8];
  const std::uint8_t mask = std::uint8_t(1u << (bitPos % 8));
  if (on)
    byte = std::uint8_t(byte | mask);
  else
    byte = std::uint8_t(byte & ~mask);
}

void patchBits(Data &data, std::uint32_t rawOffset, std::uint32_t value,
               std::uint16_t srcBegin, std::uint16_t dstBegin,
               std::uint16_t width) {
  ORV_ASSERT(width <= 16, kModule);
  ORV_ASSERT(srcBegin < 32, kModule);
  ORV_ASSERT(dstBegin < 16, kModule);
  ORV_ASSERT((srcBegin + width) < 32, kModule);
  ORV_ASSERT(rawOffset <= data.size(), kModule);
  // 64 bits: sections of half a gigabyte and more have offsets past 2^32 bits.
  std::uint64_t bitPos = std::uint64_t(rawOffset) * 8 + dstBegin;
  std::uint32_t mask = 1u << srcBegin;
  for (std::uint16_t i = 0; i < width; ++i) {
    setBit(data, bitPos, (value & mask) != 0 ? 1 : 0);
    mask <<= 1;
    ++bitPos;
  }
}

bool wordsFit(const Data &data, std::uint32_t offset, std::uint32_t count) {
  return std::uint64_t(offset) + 2 * std::uint64_t(count) <= data.size();
}

std::uint16_t bitSelectWord(ProcessorFamily family, std::uint16_t reg,
                            std::uint16_t bit, std::uint32_t value,
                            std::uint32_t mask) {
  // The operand writers decode the word as it stands, so the opcode goes
  // into a clean word first.
  std::uint16_t word = 0;
  setOpcode(&word, (value & mask) != 0 ? Mnem::BSF : Mnem::BCF, family);
  setOperand0(&word, reg, family);
  setOperand1(&word, bit, family);
  return word;
}

std::uint16_t oneOperandWord(ProcessorFamily family, std::uint8_t mnemonic,
                             std::uint16_t operand) {
  std::uint16_t word = 0;
  setOpcode(&word, mnemonic, family);
  setOperand0(&word, operand, family);
  return word;
}

int writeWords(Data &data, std::uint32_t offset,
               std::initializer_list<std::uint16_t> words, std::string &error) {
  if (!wordsFit(data, offset, std::uint32_t(words.size()))) {
    error = kOutsideSectionText;
    return 0;
  }
  for (std::uint16_t word : words) {
    patchBits(data, offset, word, 0, 0, 16);
    offset += 2;
  }
  return 1;
}

std::uint32_t relocValue(std::uint32_t symbolValue, std::int16_t addend) {
  return symbolValue + std::uint32_t(std::int32_t(addend));
}

void tracePatcher(const char *patcher, const char *text) {
  if (traceLevel(patcher) != 0)
    std::cout << patcher << "() - " << text << '\n';
}

bool anyPatcherTraced() {
  // The patchers that trace: doPatchTrell and doPatchVesk.
  return traceLevel("Linker::doPatchTrell") != 0 ||
         traceLevel("Linker::doPatchVesk") != 0;
}
