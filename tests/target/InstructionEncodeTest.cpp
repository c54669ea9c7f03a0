#include "mginst/InstructionSet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const char *const kAssertMginst = "Assertion failed: 0, file mginst, line";

// The codes of a family's mnemonics.
std::vector<MnemonicCode> mnemonicsOf(ProcessorFamily family) {
  std::vector<MnemonicCode> codes;
  for (unsigned code = 1; code <= Mnem::PAGESEL; ++code) {
    MnemonicCode found = 0;
    if (lookupMnemonic(mnemonicName(MnemonicCode(code)), &found, family))
      codes.push_back(found);
  }
  return codes;
}

uint16_t opcodeInto(uint16_t word, MnemonicCode code, ProcessorFamily family) {
  setOpcode(&word, code, family);
  return word;
}

} // namespace

TEST(Encoding, OpcodeKeepsBitsOutsideThePattern) {
  struct Case {
    ProcessorFamily family;
    MnemonicCode code;
    uint16_t before, after;
  };
  const Case cases[] = {
      {Trell, Mnem::NOP, 0xFFFF, 0xC060},
      {Vesk, Mnem::NOP, 0xFFFF, 0xF000},
      {Trell, Mnem::BSF, 0xFFFF, 0xD7FF},
      {Trell, Mnem::BSF, 0x0000, 0x1400},
      {Quolm, Mnem::RETFIE, 0xFFFF, 0x0011},
      {Quolm, Mnem::WORD2, 0x0000, 0xF000},
      {Brask, Mnem::MOVLB, 0xFFFF, 0xB8FF},
      {Trell, Mnem::RETLW, 0x0041, 0x3441},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(mnemonicName(c.code));
    EXPECT_EQ(opcodeInto(c.before, c.code, c.family), c.after);
  }
  uint16_t word = 0;
  setOpcodeTrell(&word, Mnem::MOVLW);
  EXPECT_EQ(word, 0x3000);
  setOpcodeVesk(&word, Mnem::MOVLW); // bits 12-13 lie above a Vesk word
  EXPECT_EQ(word, 0x3C00);
  setOpcodeBrask(&word, Mnem::MOVLW);
  EXPECT_EQ(word, 0xB000);
  setOpcodeQuolm(&word, Mnem::MOVLW);
  EXPECT_EQ(word, 0x0E00);
}

TEST(Encoding, OperandWritesOnlyItsFieldWithTheValuesLowBits) {
  struct Case {
    const char *what;
    ProcessorFamily family;
    MnemonicCode code;
    uint16_t start;
    unsigned index;
    uint16_t value;
    uint16_t after;
  };
  const Case cases[] = {
      {"Trell ANDWF f keeps d", Trell, Mnem::ANDWF, 0x0580, 0, 0xFFFF, 0x05FF},
      {"Trell BCF bit 9 AND 7", Trell, Mnem::BCF, 0x1000, 1, 9, 0x1080},
      {"Trell keeps high bits", Trell, Mnem::MOVLW, 0xF000, 0, 0x1AB, 0xF0AB},
      {"Trell has no operand 2", Trell, Mnem::ADDWF, 0x0785, 2, 0xFFFF, 0x0785},
      {"Vesk has no operand 2", Vesk, Mnem::BSF, 0x5E3, 2, 0xFFFF, 0x5E3},
      {"Vesk BSF bit", Vesk, Mnem::BSF, 0x500, 1, 7, 0x5E0},
      {"Brask CPFSEQ lacks 1", Brask, Mnem::CPFSEQ, 0x3100, 1, 1, 0x3100},
      {"Brask MOVLR bank", Brask, Mnem::MOVLR, 0xBA00, 0, 0xF, 0xBAF0},
      {"Brask MOVFP p field", Brask, Mnem::MOVFP, 0x6000, 1, 0x1F, 0x7F00},
      {"Brask TABLRD f", Brask, Mnem::TABLRD, 0xA800, 2, 0x145, 0xA845},
      {"Quolm CPFSEQ a bit", Quolm, Mnem::CPFSEQ, 0x6200, 1, 1, 0x6300},
      {"Quolm LFSR FSR", Quolm, Mnem::LFSR, 0xEE00, 0, 1, 0xEE10},
      {"Quolm MOVFF dest", Quolm, Mnem::MOVFF, 0xC123, 1, 0x456, 0xC123},
      {"Quolm BRA offset", Quolm, Mnem::BRA, 0xD000, 0, 0xFFFF, 0xD7FF},
  };
  void (*const setters[3])(uint16_t *, uint16_t, ProcessorFamily) = {
      setOperand0, setOperand1, setOperand2};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(decodeOpcode(c.start, c.family), c.code);
    uint16_t word = c.start;
    setters[c.index](&word, c.value, c.family);
    EXPECT_EQ(word, c.after);
  }
}

TEST(Encoding, FamilyEntryPointsWriteOperands) {
  uint16_t word = 0x0500; // Trell ANDWF
  setOperand0Trell(&word, 0x7F);
  setOperand1Trell(&word, 1);
  EXPECT_EQ(word, 0x05FF);
  word = 0x6000; // Brask MOVFP
  setOperand0Brask(&word, 0x23);
  setOperand1Brask(&word, 0x0A);
  EXPECT_EQ(word, 0x6A23);
  word = 0x400; // Vesk BCF
  setOperand0Vesk(&word, 0x1F);
  setOperand1Vesk(&word, 2);
  EXPECT_EQ(word, 0x45F);
  word = 0x2400; // Quolm ADDWF
  setOperand0Quolm(&word, 0x12);
  setOperand1Quolm(&word, 1);
  setOperand2Quolm(&word, 1);
  EXPECT_EQ(word, 0x2712);
}

TEST(OperandProperties, OperandCountsPerFamily) {
  struct Counts {
    ProcessorFamily family;
    unsigned op0, op1, op2, twoWord;
  };
  const Counts expected[] = {{Trell, 30, 18, 0, 0},
                             {Brask, 53, 34, 2, 0},
                             {Vesk, 28, 18, 0, 0},
                             {Quolm, 61, 38, 26, 4}};
  for (const Counts &e : expected) {
    SCOPED_TRACE(int(e.family));
    Counts got = {e.family, 0, 0, 0, 0};
    for (MnemonicCode code : mnemonicsOf(e.family)) {
      got.op0 += hasOperand0(code, e.family);
      got.op1 += hasOperand1(code, e.family);
      got.op2 += hasOperand2(code, e.family);
      got.twoWord += isTwoWord(code, e.family);
      for (unsigned i = 0; i < 3; ++i)
        EXPECT_EQ(hasOperand(code, e.family, i),
                  i == 0   ? hasOperand0(code, e.family)
                  : i == 1 ? hasOperand1(code, e.family)
                           : hasOperand2(code, e.family));
    }
    EXPECT_EQ(got.op0, e.op0);
    EXPECT_EQ(got.op1, e.op1);
    EXPECT_EQ(got.op2, e.op2);
    EXPECT_EQ(got.twoWord, e.twoWord);
  }
  EXPECT_TRUE(hasOperand1(Mnem::MOVFF, Quolm));
  EXPECT_EQ(getOperand1(0xC123, Quolm), 0);
  EXPECT_TRUE(hasOperand2Brask(Mnem::TABLWT));
  EXPECT_FALSE(hasOperand1Brask(Mnem::CPFSEQ));
  EXPECT_TRUE(hasOperand1Quolm(Mnem::CPFSEQ));
  EXPECT_TRUE(isTwoWordQuolm(Mnem::LFSR));
  EXPECT_FALSE(isTwoWordTrell(Mnem::CALL));
}

TEST(OperandProperties, RelocationTypesOfQuolmFields) {
  struct Case {
    MnemonicCode code;
    int op0, op1, second;
  };
  const Case cases[] = {
      {Mnem::CALL, 1, -1, 14},   {Mnem::GOTO, 2, -1, 14},
      {Mnem::MOVLB, 13, -1, -1}, {Mnem::MOVFF, 15, -1, 16},
      {Mnem::LFSR, -1, 17, 18},  {Mnem::BRA, 19, -1, -1},
      {Mnem::RCALL, 19, -1, -1}, {Mnem::BNZ, 20, -1, -1},
      {Mnem::BZ, 20, -1, -1},    {Mnem::MOVLW, 10, -1, -1},
      {Mnem::BCF, 10, -1, -1},   {Mnem::RETURN, -1, -1, -1},
      {Mnem::WORD2, -1, -1, -1}, {Mnem::NOP, -1, -1, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(mnemonicName(c.code));
    EXPECT_EQ(operand0RelocType(c.code, Quolm), c.op0);
    EXPECT_EQ(operand1RelocType(c.code, Quolm), c.op1);
    EXPECT_EQ(operand2RelocType(c.code, Quolm), -1);
    EXPECT_EQ(secondWordRelocType(c.code, Quolm), c.second);
    EXPECT_EQ(operandRelocType(c.code, Quolm, 0), c.op0);
  }
  unsigned fileOrLiteral = 0;
  for (MnemonicCode code : mnemonicsOf(Quolm))
    fileOrLiteral += operand0RelocTypeQuolm(code) == 10;
  EXPECT_EQ(fileOrLiteral, 43u);
}

TEST(OperandProperties, OtherFamiliesHaveNoRelocationTypes) {
  for (ProcessorFamily family : {Trell, Brask, Vesk}) {
    SCOPED_TRACE(int(family));
    for (MnemonicCode code : mnemonicsOf(family)) {
      for (unsigned i = 0; i < 3; ++i)
        EXPECT_EQ(operandRelocType(code, family, i), -1) << mnemonicName(code);
      EXPECT_EQ(secondWordRelocType(code, family), -1);
    }
  }
  EXPECT_EQ(operand0RelocTypeBrask(Mnem::ADDLW), -1);
  EXPECT_EQ(secondWordRelocTypeTrell(Mnem::CALL), -1);
  EXPECT_EQ(operand1RelocTypeVesk(Mnem::BSF), -1);
}

TEST(EncodingDeathTest, CodesOutsideTheFamilyStop) {
  const MnemonicCode foreign[][2] = {
      {Trell, Mnem::BRA},  {Brask, Mnem::CLRW},    {Vesk, Mnem::ADDLW},
      {Quolm, Mnem::TRIS}, {Trell, Mnem::BANKSEL}, {Quolm, Mnem::PAGESEL},
      {Vesk, Mnem::NONE},
  };
  for (const auto &f : foreign) {
    ProcessorFamily family = f[0];
    MnemonicCode code = f[1];
    SCOPED_TRACE(int(code));
    uint16_t word = 0;
    EXPECT_DEATH(setOpcode(&word, code, family), kAssertMginst);
    EXPECT_DEATH(hasOperand0(code, family), kAssertMginst);
    EXPECT_DEATH(isTwoWord(code, family), kAssertMginst);
    EXPECT_DEATH(operand1RelocType(code, family), kAssertMginst);
    EXPECT_DEATH(secondWordRelocType(code, family), kAssertMginst);
  }
}

TEST(EncodingDeathTest, BadWordsFamiliesAndIndexesStop) {
  uint16_t invalid = 0x0001; // no Trell instruction
  EXPECT_DEATH(setOperand0(&invalid, 1, Trell), kAssertMginst);
  EXPECT_DEATH(hasOperand(Mnem::ADDWF, Trell, 3), kAssertMginst);
  EXPECT_DEATH(operandRelocType(Mnem::ADDWF, Quolm, 3), kAssertMginst);
  for (ProcessorFamily bad : {ProcessorFamily(0), ProcessorFamily(5)}) {
    uint16_t word = 0;
    EXPECT_DEATH(setOpcode(&word, Mnem::NOP, bad), kAssertMginst);
    EXPECT_DEATH(setOperand0(&word, 0, bad), kAssertMginst);
    EXPECT_DEATH(hasOperand2(Mnem::NOP, bad), kAssertMginst);
    EXPECT_DEATH(operand0RelocType(Mnem::NOP, bad), kAssertMginst);
  }
}
