// Writing instruction words, and the valid-word test.
//
// Offers setOpcode (a mnemonic's opcode bits), setOperand0/1/2 (one operand
// field of the instruction the word already holds) and isValidWord, each for
// a family byte or as a family-specific entry point. Bits outside what is
// written keep their values, including the bits above a Trell or Vesk word.
//
// A family outside 1-4, a mnemonic the family lacks, or (for the operand
// writers) a word that is no instruction of the family stops the program with
// an assertion naming "mginst".
#pragma once

#include "mginst/Mnemonic.h"

// Sets *word to (*word AND NOT mask) OR the opcode bits.
void setOpcode(uint16_t *word, MnemonicCode code, ProcessorFamily family);
void setOpcodeTrell(uint16_t *word, MnemonicCode code);
void setOpcodeBrask(uint16_t *word, MnemonicCode code);
void setOpcodeVesk(uint16_t *word, MnemonicCode code);
void setOpcodeQuolm(uint16_t *word, MnemonicCode code);

// Replaces the operand's field with the low bits of value; a mnemonic without
// the operand leaves the word unchanged. The word is decoded as it stands, so
// write the opcode first.
void setOperand0(uint16_t *word, uint16_t value, ProcessorFamily family);
void setOperand1(uint16_t *word, uint16_t value, ProcessorFamily family);
void setOperand2(uint16_t *word, uint16_t value, ProcessorFamily family);
void setOperand0Trell(uint16_t *word, uint16_t value);
void setOperand1Trell(uint16_t *word, uint16_t value);
void setOperand2Trell(uint16_t *word, uint16_t value);
void setOperand0Brask(uint16_t *word, uint16_t value);
void setOperand1Brask(uint16_t *word, uint16_t value);
void setOperand2Brask(uint16_t *word, uint16_t value);
void setOperand0Vesk(uint16_t *word, uint16_t value);
void setOperand1Vesk(uint16_t *word, uint16_t value);
void setOperand2Vesk(uint16_t *word, uint16_t value);
void setOperand0Quolm(uint16_t *word, uint16_t value);
void setOperand1Quolm(uint16_t *word, uint16_t value);
void setOperand2Quolm(uint16_t *word, uint16_t value);

// Whether the word matches a pattern of the family; never stops the program
// for a valid family.
bool isValidWord(uint16_t word, ProcessorFamily family);
bool isValidWordTrell(uint16_t word);
bool isValidWordBrask(uint16_t word);
bool isValidWordVesk(uint16_t word);
bool isValidWordQuolm(uint16_t word);
