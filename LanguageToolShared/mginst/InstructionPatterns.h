// The instruction patterns of the four families, with opcode masks and
// operand fields derived from the pattern text when the tables are compiled.
// Internal to the instruction-set module.
#pragma once

#include "mginst/Mnemonic.h"

#include <cstddef>
#include <cstdint>

// One pattern, written from the most significant bit down: 0 and 1 are opcode
// bits, A, B and E the bits of operands 0, 1 and 2, x an ignored bit; blanks
// only group the digits.
struct InstructionPattern {
  MnemonicCode cCode;
  const char *cText;
  uint16_t cMask;     // opcode bits
  uint16_t cValue;    // their value
  uint16_t cField[3]; // bits of operands 0, 1 and 2
  uint8_t cShift[3];  // lowest bit of each field
  uint8_t cWidthBits; // number of bit characters
  bool cWellFormed;   // only 0 1 A B E x and blanks; contiguous fields
};

constexpr uint16_t bitAt(int bit) { return uint16_t(1u << bit); }

constexpr uint8_t lowestBit(uint16_t bits) {
  uint8_t shift = 0;
  while (bits != 0 && (bits & 1u) == 0) {
    bits = uint16_t(bits >> 1);
    ++shift;
  }
  return shift;
}

// A field's bits must be one run so that reading is a shift and a mask.
constexpr bool isContiguous(uint16_t bits) {
  uint16_t low = uint16_t(bits >> lowestBit(bits));
  return (low & uint16_t(low + 1)) == 0;
}

constexpr InstructionPattern makePattern(MnemonicCode code, const char *text) {
  InstructionPattern p{code, text, 0, 0, {0, 0, 0}, {0, 0, 0}, 0, true};
  int bits = 0;
  for (const char *c = text; *c; ++c)
    if (*c != ' ')
      ++bits;
  p.cWidthBits = uint8_t(bits);
  int bit = bits;
  for (const char *c = text; *c; ++c) {
    if (*c == ' ')
      continue;
    --bit;
    if (bit > 15) {
      p.cWellFormed = false;
      continue;
    }
    switch (*c) {
    case '1':
      p.cValue |= bitAt(bit);
      p.cMask |= bitAt(bit);
      break;
    case '0':
      p.cMask |= bitAt(bit);
      break;
    case 'A':
      p.cField[0] |= bitAt(bit);
      break;
    case 'B':
      p.cField[1] |= bitAt(bit);
      break;
    case 'E':
      p.cField[2] |= bitAt(bit);
      break;
    case 'x':
      break;
    default:
      p.cWellFormed = false;
    }
  }
  for (int i = 0; i < 3; ++i) {
    p.cShift[i] = lowestBit(p.cField[i]);
    if (!isContiguous(p.cField[i]))
      p.cWellFormed = false;
  }
  return p;
}

// The patterns of one family in decoding order, and where each of the 99
// codes sits among them (-1: not a mnemonic of the family).
struct FamilyPatterns {
  const InstructionPattern *cRows;
  size_t cCount;
  const int8_t *cIndexByCode;
};

// Stops the program for a family outside 1-4.
const FamilyPatterns &familyPatterns(ProcessorFamily family);

// First pattern the word matches, or null.
const InstructionPattern *matchPattern(const FamilyPatterns &family,
                                       uint16_t word);

// The pattern of a code, or null when the family lacks the mnemonic.
const InstructionPattern *findPattern(const FamilyPatterns &family,
                                      MnemonicCode code);

// As findPattern, but a code outside the family stops the program.
const InstructionPattern &patternOf(const FamilyPatterns &family,
                                    MnemonicCode code);

// The pattern the word decodes to; a word that is no instruction stops the
// program.
const InstructionPattern &decodedPattern(const FamilyPatterns &family,
                                         uint16_t word);

inline uint16_t fieldValue(const InstructionPattern &p, unsigned index,
                           uint16_t word) {
  return uint16_t((word & p.cField[index]) >> p.cShift[index]);
}
