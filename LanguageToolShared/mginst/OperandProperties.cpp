// Operand presence, two-word instructions and relocation types per mnemonic.
#include "mginst/OperandProperties.h"

#include "Assert.h"
#include "mginst/InstructionPatterns.h"

namespace {

// Relocation types the linker patches into these fields.
constexpr int noReloc = -1;
constexpr int relocCall = 1;
constexpr int relocGoto = 2;
constexpr int relocF = 10;
constexpr int relocMovlb = 13;
constexpr int relocCall2 = 14;
constexpr int relocFF1 = 15;
constexpr int relocFF2 = 16;
constexpr int relocLfsr1 = 17;
constexpr int relocLfsr2 = 18;
constexpr int relocBra = 19;
constexpr int relocCondBra = 20;

// Every query first checks that the family has the mnemonic.
const InstructionPattern &checkedPattern(MnemonicCode code,
                                         ProcessorFamily family) {
  return patternOf(familyPatterns(family), code);
}

void checkIndex(unsigned index) {
  if (index > 2)
    ORV_FAIL("mginst");
}

bool isConditionalBranch(MnemonicCode code) {
  switch (code) {
  case Mnem::BC:
  case Mnem::BN:
  case Mnem::BNC:
  case Mnem::BNN:
  case Mnem::BNOV:
  case Mnem::BNZ:
  case Mnem::BOV:
  case Mnem::BZ:
    return true;
  default:
    return false;
  }
}

int quolmOperand0RelocType(const InstructionPattern &p) {
  switch (p.cCode) {
  case Mnem::CALL:
    return relocCall;
  case Mnem::GOTO:
    return relocGoto;
  case Mnem::MOVLB:
    return relocMovlb;
  case Mnem::MOVFF:
    return relocFF1;
  case Mnem::BRA:
  case Mnem::RCALL:
    return relocBra;
  default:
    break;
  }
  if (isConditionalBranch(p.cCode))
    return relocCondBra;
  // The remaining byte-wide operand 0 fields are file registers and literals.
  return p.cField[0] == 0x00FF ? relocF : noReloc;
}

} // namespace

bool hasOperand(MnemonicCode code, ProcessorFamily family, unsigned index) {
  checkIndex(index);
  const InstructionPattern &p = checkedPattern(code, family);
  // MOVFF's destination lives in its second word.
  if (family == Quolm && code == Mnem::MOVFF && index == 1)
    return true;
  return p.cField[index] != 0;
}

bool hasOperand0(MnemonicCode code, ProcessorFamily family) {
  return hasOperand(code, family, 0);
}
bool hasOperand1(MnemonicCode code, ProcessorFamily family) {
  return hasOperand(code, family, 1);
}
bool hasOperand2(MnemonicCode code, ProcessorFamily family) {
  return hasOperand(code, family, 2);
}

bool isTwoWord(MnemonicCode code, ProcessorFamily family) {
  checkedPattern(code, family);
  return family == Quolm && (code == Mnem::CALL || code == Mnem::GOTO ||
                             code == Mnem::LFSR || code == Mnem::MOVFF);
}

int operandRelocType(MnemonicCode code, ProcessorFamily family,
                     unsigned index) {
  checkIndex(index);
  const InstructionPattern &p = checkedPattern(code, family);
  if (family != Quolm)
    return noReloc;
  if (index == 0)
    return quolmOperand0RelocType(p);
  if (index == 1 && code == Mnem::LFSR)
    return relocLfsr1;
  return noReloc;
}

int operand0RelocType(MnemonicCode code, ProcessorFamily family) {
  return operandRelocType(code, family, 0);
}
int operand1RelocType(MnemonicCode code, ProcessorFamily family) {
  return operandRelocType(code, family, 1);
}
int operand2RelocType(MnemonicCode code, ProcessorFamily family) {
  return operandRelocType(code, family, 2);
}

int secondWordRelocType(MnemonicCode code, ProcessorFamily family) {
  checkedPattern(code, family);
  if (family != Quolm)
    return noReloc;
  switch (code) {
  case Mnem::CALL:
  case Mnem::GOTO:
    return relocCall2;
  case Mnem::MOVFF:
    return relocFF2;
  case Mnem::LFSR:
    return relocLfsr2;
  default:
    return noReloc;
  }
}

bool hasOperand0Trell(MnemonicCode code) { return hasOperand0(code, Trell); }
bool hasOperand1Trell(MnemonicCode code) { return hasOperand1(code, Trell); }
bool hasOperand2Trell(MnemonicCode code) { return hasOperand2(code, Trell); }
bool isTwoWordTrell(MnemonicCode code) { return isTwoWord(code, Trell); }
int operand0RelocTypeTrell(MnemonicCode code) {
  return operand0RelocType(code, Trell);
}
int operand1RelocTypeTrell(MnemonicCode code) {
  return operand1RelocType(code, Trell);
}
int operand2RelocTypeTrell(MnemonicCode code) {
  return operand2RelocType(code, Trell);
}
int secondWordRelocTypeTrell(MnemonicCode code) {
  return secondWordRelocType(code, Trell);
}
bool hasOperand0Brask(MnemonicCode code) { return hasOperand0(code, Brask); }
bool hasOperand1Brask(MnemonicCode code) { return hasOperand1(code, Brask); }
bool hasOperand2Brask(MnemonicCode code) { return hasOperand2(code, Brask); }
bool isTwoWordBrask(MnemonicCode code) { return isTwoWord(code, Brask); }
int operand0RelocTypeBrask(MnemonicCode code) {
  return operand0RelocType(code, Brask);
}
int operand1RelocTypeBrask(MnemonicCode code) {
  return operand1RelocType(code, Brask);
}
int operand2RelocTypeBrask(MnemonicCode code) {
  return operand2RelocType(code, Brask);
}
int secondWordRelocTypeBrask(MnemonicCode code) {
  return secondWordRelocType(code, Brask);
}
bool hasOperand0Vesk(MnemonicCode code) { return hasOperand0(code, Vesk); }
bool hasOperand1Vesk(MnemonicCode code) { return hasOperand1(code, Vesk); }
bool hasOperand2Vesk(MnemonicCode code) { return hasOperand2(code, Vesk); }
bool isTwoWordVesk(MnemonicCode code) { return isTwoWord(code, Vesk); }
int operand0RelocTypeVesk(MnemonicCode code) {
  return operand0RelocType(code, Vesk);
}
int operand1RelocTypeVesk(MnemonicCode code) {
  return operand1RelocType(code, Vesk);
}
int operand2RelocTypeVesk(MnemonicCode code) {
  return operand2RelocType(code, Vesk);
}
int secondWordRelocTypeVesk(MnemonicCode code) {
  return secondWordRelocType(code, Vesk);
}
bool hasOperand0Quolm(MnemonicCode code) { return hasOperand0(code, Quolm); }
bool hasOperand1Quolm(MnemonicCode code) { return hasOperand1(code, Quolm); }
bool hasOperand2Quolm(MnemonicCode code) { return hasOperand2(code, Quolm); }
bool isTwoWordQuolm(MnemonicCode code) { return isTwoWord(code, Quolm); }
int operand0RelocTypeQuolm(MnemonicCode code) {
  return operand0RelocType(code, Quolm);
}
int operand1RelocTypeQuolm(MnemonicCode code) {
  return operand1RelocType(code, Quolm);
}
int operand2RelocTypeQuolm(MnemonicCode code) {
  return operand2RelocType(code, Quolm);
}
int secondWordRelocTypeQuolm(MnemonicCode code) {
  return secondWordRelocType(code, Quolm);
}
