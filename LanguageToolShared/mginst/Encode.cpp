// Writing opcode bits and operand fields, and the valid-word test.
#include "mginst/Encode.h"

#include "Assert.h"
#include "mginst/InstructionPatterns.h"

namespace {

void writeOperand(uint16_t *word, uint16_t value, ProcessorFamily family,
                  unsigned index) {
  ORV_ASSERT(word != nullptr, "mginst");
  const InstructionPattern &p = decodedPattern(familyPatterns(family), *word);
  uint16_t field = p.cField[index];
  *word = uint16_t((*word & ~field) |
                   ((uint32_t(value) << p.cShift[index]) & field));
}

} // namespace

void setOpcode(uint16_t *word, MnemonicCode code, ProcessorFamily family) {
  ORV_ASSERT(word != nullptr, "mginst");
  const InstructionPattern &p = patternOf(familyPatterns(family), code);
  *word = uint16_t((*word & ~p.cMask) | p.cValue);
}

void setOperand0(uint16_t *word, uint16_t value, ProcessorFamily family) {
  writeOperand(word, value, family, 0);
}
void setOperand1(uint16_t *word, uint16_t value, ProcessorFamily family) {
  writeOperand(word, value, family, 1);
}
void setOperand2(uint16_t *word, uint16_t value, ProcessorFamily family) {
  writeOperand(word, value, family, 2);
}

bool isValidWord(uint16_t word, ProcessorFamily family) {
  return matchPattern(familyPatterns(family), word) != nullptr;
}

void setOpcodeTrell(uint16_t *word, MnemonicCode code) {
  setOpcode(word, code, Trell);
}
void setOperand0Trell(uint16_t *word, uint16_t value) {
  setOperand0(word, value, Trell);
}
void setOperand1Trell(uint16_t *word, uint16_t value) {
  setOperand1(word, value, Trell);
}
void setOperand2Trell(uint16_t *word, uint16_t value) {
  setOperand2(word, value, Trell);
}
bool isValidWordTrell(uint16_t word) { return isValidWord(word, Trell); }

void setOpcodeBrask(uint16_t *word, MnemonicCode code) {
  setOpcode(word, code, Brask);
}
void setOperand0Brask(uint16_t *word, uint16_t value) {
  setOperand0(word, value, Brask);
}
void setOperand1Brask(uint16_t *word, uint16_t value) {
  setOperand1(word, value, Brask);
}
void setOperand2Brask(uint16_t *word, uint16_t value) {
  setOperand2(word, value, Brask);
}
bool isValidWordBrask(uint16_t word) { return isValidWord(word, Brask); }

void setOpcodeVesk(uint16_t *word, MnemonicCode code) {
  setOpcode(word, code, Vesk);
}
void setOperand0Vesk(uint16_t *word, uint16_t value) {
  setOperand0(word, value, Vesk);
}
void setOperand1Vesk(uint16_t *word, uint16_t value) {
  setOperand1(word, value, Vesk);
}
void setOperand2Vesk(uint16_t *word, uint16_t value) {
  setOperand2(word, value, Vesk);
}
bool isValidWordVesk(uint16_t word) { return isValidWord(word, Vesk); }

void setOpcodeQuolm(uint16_t *word, MnemonicCode code) {
  setOpcode(word, code, Quolm);
}
void setOperand0Quolm(uint16_t *word, uint16_t value) {
  setOperand0(word, value, Quolm);
}
void setOperand1Quolm(uint16_t *word, uint16_t value) {
  setOperand1(word, value, Quolm);
}
void setOperand2Quolm(uint16_t *word, uint16_t value) {
  setOperand2(word, value, Quolm);
}
bool isValidWordQuolm(uint16_t word) { return isValidWord(word, Quolm); }
