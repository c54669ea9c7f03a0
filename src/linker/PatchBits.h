// Writing relocated values into section contents: bit fields of the 16-bit
// little-endian instruction words, whole built instructions, and the texts
// that the family patchers share.
#pragma once

#include "Data.h"
#include "mgproc/Processor.h"

#include <cstdint>
#include <initializer_list>
#include <string>

// Sets (on != 0) or clears bit bitPos of the data: bit (bitPos mod 8) of
// byte bitPos / 8. The bit must lie inside the data.
void setBit(Data &data, std::uint64_t bitPos, int on);

// Copies width bits of value, from bit srcBegin on, into the word at byte
// rawOffset from its bit dstBegin on. Value bits above the field are dropped
// without a word: a target too large for its field keeps its low bits.
void patchBits(Data &data, std::uint32_t rawOffset, std::uint32_t value,
               std::uint16_t srcBegin, std::uint16_t dstBegin,
               std::uint16_t width);

// Whether count whole words starting at byte offset lie inside the data.
bool wordsFit(const Data &data, std::uint32_t offset, std::uint32_t count);

// A selection instruction of the family: BSF of bit `bit` of file register
// `reg` when value AND mask is not 0, else BCF.
std::uint16_t bitSelectWord(ProcessorFamily family, std::uint16_t reg,
                            std::uint16_t bit, std::uint32_t value,
                            std::uint32_t mask);
// An instruction of the family with one operand (MOVLW k, MOVWF f, MOVLB k).
std::uint16_t oneOperandWord(ProcessorFamily family, std::uint8_t mnemonic,
                             std::uint16_t operand);
// Writes whole instruction words from byte offset on: 1, or 0 with the
// error text set and nothing written when they do not all fit the data.
int writeWords(Data &data, std::uint32_t offset,
               std::initializer_list<std::uint16_t> words, std::string &error);

// The target value of a relocation: the symbol's value plus the signed
// addend, in 32 bits.
std::uint32_t relocValue(std::uint32_t symbolValue, std::int16_t addend);

// One trace line "<patcher>() - <text>" when the patcher's trace switch
// ("Linker::doPatchTrell", ...) is on.
void tracePatcher(const char *patcher, const char *text);
// Whether any patcher's trace switch is on.
bool anyPatcherTraced();

extern const char *const kUnsupportedRelocText;
extern const char *const kOutsideSectionText;
