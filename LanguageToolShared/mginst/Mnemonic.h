// Mnemonic codes shared by the four processor families, and instruction
// decoding.
//
// Offers the MnemonicCode values (named in namespace Mnem), mnemonicName,
// decodeOpcode (one instruction word to its mnemonic) and the operand readers
// getOperand0/1/2, each for a family byte or as a family-specific entry
// point. Trell and Vesk words ignore the bits above their 14 and 12 bits.
//
// A family outside 1-4, a word that is no instruction of its family (test it
// with isValidWord first), an operand index above 2 or a code outside 1-98
// stops the program with an assertion naming "mginst".
#pragma once

#include "mgproc/Processor.h"

#include <cstdint>

using MnemonicCode = uint8_t;

// Codes 1-96 are the mnemonics of all families in alphabetical order; BANKSEL
// and PAGESEL are the selection directives, which no family decodes.
namespace Mnem {
// clang-format off
enum : MnemonicCode {
  NONE = 0,
  ADDLW, ADDWF, ADDWFC, ANDLW, ANDWF, BC, BCF, BN,
  BNC, BNN, BNOV, BNZ, BOV, BRA, BSF, BTFSC,
  BTFSS, BTG, BZ, CALL, CLRF, CLRW, CLRWDT, COMF,
  CPFSEQ, CPFSGT, CPFSLT, DAW, DCFSNZ, DECF, DECFSZ, GOTO,
  HALT, INCF, INCFSZ, INFSNZ, IORLW, IORWF, LCALL, LFSR,
  LOG, MOVF, MOVFF, MOVFP, MOVLB, MOVLR, MOVLW, MOVPF,
  MOVWF, MULLW, MULWF, NEGF, NEGW, NOP, OPTION, PAUSE,
  POP, PUSH, RCALL, RESET, RETFIE, RETLW, RETURN, RLCF,
  RLF, RLNCF, RRCF, RRF, RRNCF, SETF, SLEEP, STOP,
  SUBFWB, SUBLW, SUBWF, SUBWFB, SWAPF, TABLRD, TABLWT, TBLRD,
  TBLRDPOSTDEC, TBLRDPOSTINC, TBLRDPREINC, TBLWT, TBLWTPOSTDEC, TBLWTPOSTINC,
  TBLWTPREINC, TLRD, TLWT, TRAP, TRET, TRIS, TSTFSZ, WORD2,
  XORLW, XORWF,
  BANKSEL, PAGESEL
};
// clang-format on
} // namespace Mnem

static_assert(Mnem::XORWF == 96 && Mnem::PAGESEL == 98,
              "mnemonic codes are fixed");

// Constant text of a code 1-98.
const char *mnemonicName(MnemonicCode code);

MnemonicCode decodeOpcode(uint16_t word, ProcessorFamily family);
MnemonicCode decodeOpcodeTrell(uint16_t word);
MnemonicCode decodeOpcodeBrask(uint16_t word);
MnemonicCode decodeOpcodeVesk(uint16_t word);
MnemonicCode decodeOpcodeQuolm(uint16_t word);

// Raw operand fields shifted down to bit 0: no sign extension, no scaling and
// nothing from a second word. An operand the mnemonic lacks reads 0.
uint16_t getOperand0(uint16_t word, ProcessorFamily family);
uint16_t getOperand1(uint16_t word, ProcessorFamily family);
uint16_t getOperand2(uint16_t word, ProcessorFamily family);
uint16_t getOperand(uint16_t word, ProcessorFamily family, unsigned index);

uint16_t getOperand0Trell(uint16_t word);
uint16_t getOperand1Trell(uint16_t word);
uint16_t getOperand2Trell(uint16_t word);
uint16_t getOperand0Brask(uint16_t word);
uint16_t getOperand1Brask(uint16_t word);
uint16_t getOperand2Brask(uint16_t word);
uint16_t getOperand0Vesk(uint16_t word);
uint16_t getOperand1Vesk(uint16_t word);
uint16_t getOperand2Vesk(uint16_t word);
uint16_t getOperand0Quolm(uint16_t word);
uint16_t getOperand1Quolm(uint16_t word);
uint16_t getOperand2Quolm(uint16_t word);
