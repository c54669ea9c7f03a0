// Per-mnemonic properties: which operands an instruction has, which
// instructions take two words, and which relocation type fits an operand or
// the second word (-1 when none fits).
//
// Each query takes a family byte or has a family-specific entry point. A
// family outside 1-4, a mnemonic the family lacks or an index above 2 stops
// the program with an assertion naming "mginst".
#pragma once

#include "mginst/Mnemonic.h"

bool hasOperand0(MnemonicCode code, ProcessorFamily family);
bool hasOperand1(MnemonicCode code, ProcessorFamily family);
bool hasOperand2(MnemonicCode code, ProcessorFamily family);
bool hasOperand(MnemonicCode code, ProcessorFamily family, unsigned index);

bool isTwoWord(MnemonicCode code, ProcessorFamily family);

int operand0RelocType(MnemonicCode code, ProcessorFamily family);
int operand1RelocType(MnemonicCode code, ProcessorFamily family);
int operand2RelocType(MnemonicCode code, ProcessorFamily family);
int operandRelocType(MnemonicCode code, ProcessorFamily family, unsigned index);
int secondWordRelocType(MnemonicCode code, ProcessorFamily family);

bool hasOperand0Trell(MnemonicCode code);
bool hasOperand1Trell(MnemonicCode code);
bool hasOperand2Trell(MnemonicCode code);
bool isTwoWordTrell(MnemonicCode code);
int operand0RelocTypeTrell(MnemonicCode code);
int operand1RelocTypeTrell(MnemonicCode code);
int operand2RelocTypeTrell(MnemonicCode code);
int secondWordRelocTypeTrell(MnemonicCode code);
bool hasOperand0Brask(MnemonicCode code);
bool hasOperand1Brask(MnemonicCode code);
bool hasOperand2Brask(MnemonicCode code);
bool isTwoWordBrask(MnemonicCode code);
int operand0RelocTypeBrask(MnemonicCode code);
int operand1RelocTypeBrask(MnemonicCode code);
int operand2RelocTypeBrask(MnemonicCode code);
int secondWordRelocTypeBrask(MnemonicCode code);
bool hasOperand0Vesk(MnemonicCode code);
bool hasOperand1Vesk(MnemonicCode code);
bool hasOperand2Vesk(MnemonicCode code);
bool isTwoWordVesk(MnemonicCode code);
int operand0RelocTypeVesk(MnemonicCode code);
int operand1RelocTypeVesk(MnemonicCode code);
int operand2RelocTypeVesk(MnemonicCode code);
int secondWordRelocTypeVesk(MnemonicCode code);
bool hasOperand0Quolm(MnemonicCode code);
bool hasOperand1Quolm(MnemonicCode code);
bool hasOperand2Quolm(MnemonicCode code);
bool isTwoWordQuolm(MnemonicCode code);
int operand0RelocTypeQuolm(MnemonicCode code);
int operand1RelocTypeQuolm(MnemonicCode code);
int operand2RelocTypeQuolm(MnemonicCode code);
int secondWordRelocTypeQuolm(MnemonicCode code);
