// Mnemonic names, decoding and the operand readers.
#include "mginst/Mnemonic.h"

#include "Assert.h"
#include "mginst/InstructionPatterns.h"

namespace {

const char *const mnemonicNames[Mnem::PAGESEL + 1] = {
    nullptr,        "ADDLW",        "ADDWF",        "ADDWFC",      "ANDLW",
    "ANDWF",        "BC",           "BCF",          "BN",          "BNC",
    "BNN",          "BNOV",         "BNZ",          "BOV",         "BRA",
    "BSF",          "BTFSC",        "BTFSS",        "BTG",         "BZ",
    "CALL",         "CLRF",         "CLRW",         "CLRWDT",      "COMF",
    "CPFSEQ",       "CPFSGT",       "CPFSLT",       "DAW",         "DCFSNZ",
    "DECF",         "DECFSZ",       "GOTO",         "HALT",        "INCF",
    "INCFSZ",       "INFSNZ",       "IORLW",        "IORWF",       "LCALL",
    "LFSR",         "LOG",          "MOVF",         "MOVFF",       "MOVFP",
    "MOVLB",        "MOVLR",        "MOVLW",        "MOVPF",       "MOVWF",
    "MULLW",        "MULWF",        "NEGF",         "NEGW",        "NOP",
    "OPTION",       "PAUSE",        "POP",          "PUSH",        "RCALL",
    "RESET",        "RETFIE",       "RETLW",        "RETURN",      "RLCF",
    "RLF",          "RLNCF",        "RRCF",         "RRF",         "RRNCF",
    "SETF",         "SLEEP",        "STOP",         "SUBFWB",      "SUBLW",
    "SUBWF",        "SUBWFB",       "SWAPF",        "TABLRD",      "TABLWT",
    "TBLRD",        "TBLRDPOSTDEC", "TBLRDPOSTINC", "TBLRDPREINC", "TBLWT",
    "TBLWTPOSTDEC", "TBLWTPOSTINC", "TBLWTPREINC",  "TLRD",        "TLWT",
    "TRAP",         "TRET",         "TRIS",         "TSTFSZ",      "WORD2",
    "XORLW",        "XORWF",        "BANKSEL",      "PAGESEL",
};

uint16_t operandOf(uint16_t word, ProcessorFamily family, unsigned index) {
  const InstructionPattern &p = decodedPattern(familyPatterns(family), word);
  return fieldValue(p, index, word);
}

} // namespace

const char *mnemonicName(MnemonicCode code) {
  if (code == Mnem::NONE || code > Mnem::PAGESEL)
    ORV_FAIL("mginst");
  return mnemonicNames[code];
}

MnemonicCode decodeOpcode(uint16_t word, ProcessorFamily family) {
  return decodedPattern(familyPatterns(family), word).cCode;
}

MnemonicCode decodeOpcodeTrell(uint16_t word) {
  return decodeOpcode(word, Trell);
}
MnemonicCode decodeOpcodeBrask(uint16_t word) {
  return decodeOpcode(word, Brask);
}
MnemonicCode decodeOpcodeVesk(uint16_t word) {
  return decodeOpcode(word, Vesk);
}
MnemonicCode decodeOpcodeQuolm(uint16_t word) {
  return decodeOpcode(word, Quolm);
}

uint16_t getOperand0(uint16_t word, ProcessorFamily family) {
  return operandOf(word, family, 0);
}
uint16_t getOperand1(uint16_t word, ProcessorFamily family) {
  return operandOf(word, family, 1);
}
uint16_t getOperand2(uint16_t word, ProcessorFamily family) {
  return operandOf(word, family, 2);
}

uint16_t getOperand(uint16_t word, ProcessorFamily family, unsigned index) {
  if (index > 2)
    ORV_FAIL("mginst");
  return operandOf(word, family, index);
}

uint16_t getOperand0Trell(uint16_t word) { return getOperand0(word, Trell); }
uint16_t getOperand1Trell(uint16_t word) { return getOperand1(word, Trell); }
uint16_t getOperand2Trell(uint16_t word) { return getOperand2(word, Trell); }
uint16_t getOperand0Brask(uint16_t word) { return getOperand0(word, Brask); }
uint16_t getOperand1Brask(uint16_t word) { return getOperand1(word, Brask); }
uint16_t getOperand2Brask(uint16_t word) { return getOperand2(word, Brask); }
uint16_t getOperand0Vesk(uint16_t word) { return getOperand0(word, Vesk); }
uint16_t getOperand1Vesk(uint16_t word) { return getOperand1(word, Vesk); }
uint16_t getOperand2Vesk(uint16_t word) { return getOperand2(word, Vesk); }
uint16_t getOperand0Quolm(uint16_t word) { return getOperand0(word, Quolm); }
uint16_t getOperand1Quolm(uint16_t word) { return getOperand1(word, Quolm); }
uint16_t getOperand2Quolm(uint16_t word) { return getOperand2(word, Quolm); }
