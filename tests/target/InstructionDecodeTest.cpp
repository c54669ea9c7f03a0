#include "mginst/InstructionPatterns.h"
#include "mginst/InstructionSet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char *const kAssertMginst = "Assertion failed: 0, file mginst, line";

struct FamilyCase {
  ProcessorFamily family;
  const char *name;
  unsigned widthBits;
  unsigned validWords;
  unsigned mnemonics;
};

const FamilyCase kFamilies[] = {{Trell, "Trell", 14, 16013, 37},
                                {Brask, "Brask", 16, 63496, 61},
                                {Vesk, "Vesk", 12, 4041, 33},
                                {Quolm, "Quolm", 16, 64089, 82}};

// Bits the encoder is responsible for: opcode bits and operand fields.
uint16_t careMask(const InstructionPattern &p) {
  return uint16_t(p.cMask | p.cField[0] | p.cField[1] | p.cField[2]);
}

} // namespace

TEST(MnemonicNames, CodesFollowAlphabeticalOrder) {
  for (MnemonicCode code = 1; code < 96; ++code)
    EXPECT_LT(std::strcmp(mnemonicName(code), mnemonicName(code + 1)), 0)
        << mnemonicName(code);
  EXPECT_STREQ(mnemonicName(Mnem::ADDLW), "ADDLW");
  EXPECT_STREQ(mnemonicName(Mnem::TRIS), "TRIS");
  EXPECT_STREQ(mnemonicName(Mnem::WORD2), "WORD2");
  EXPECT_STREQ(mnemonicName(Mnem::BANKSEL), "BANKSEL");
  EXPECT_STREQ(mnemonicName(Mnem::PAGESEL), "PAGESEL");
}

TEST(MnemonicNames, EachFamilyKnowsItsMnemonics) {
  for (const FamilyCase &f : kFamilies) {
    SCOPED_TRACE(f.name);
    unsigned known = 0;
    for (unsigned code = 1; code <= Mnem::PAGESEL; ++code) {
      MnemonicCode found = 0;
      if (lookupMnemonic(mnemonicName(MnemonicCode(code)), &found, f.family)) {
        EXPECT_EQ(found, code);
        ++known;
      }
    }
    EXPECT_EQ(known, f.mnemonics);
  }
}

// A mistyped pattern changes how many words of the family are instructions.
TEST(InstructionPatterns, ValidWordCountsPerFamily) {
  for (const FamilyCase &f : kFamilies) {
    SCOPED_TRACE(f.name);
    unsigned valid = 0;
    for (uint32_t word = 0; word < (1u << f.widthBits); ++word)
      valid += isValidWord(uint16_t(word), f.family);
    EXPECT_EQ(valid, f.validWords);
  }
}

// Patterns are disjoint but for TRIS, whose words NOP, OPTION, SLEEP and
// CLRWDT take first.
TEST(InstructionPatterns, OnlyTrisOverlapsOtherPatterns) {
  for (const FamilyCase &f : kFamilies) {
    SCOPED_TRACE(f.name);
    const FamilyPatterns &patterns = familyPatterns(f.family);
    unsigned overlaps = 0;
    for (uint32_t word = 0; word < (1u << f.widthBits); ++word) {
      unsigned matches = 0;
      bool tris = false;
      for (size_t i = 0; i < patterns.cCount; ++i) {
        const InstructionPattern &p = patterns.cRows[i];
        if ((word & p.cMask) == p.cValue) {
          ++matches;
          tris = tris || p.cCode == Mnem::TRIS;
        }
      }
      if (matches > 1) {
        EXPECT_TRUE(tris && matches == 2) << std::hex << word;
        ++overlaps;
      }
    }
    bool hasTris = f.family == Trell || f.family == Vesk;
    EXPECT_EQ(overlaps, hasTris ? 4u : 0u);
  }
}

// Every valid word decodes to a mnemonic whose encoder, fed the decoded
// operands, writes the same opcode bits and fields back.
TEST(InstructionPatterns, EveryValidWordRoundTripsThroughTheEncoder) {
  void (*const setters[3])(uint16_t *, uint16_t, ProcessorFamily) = {
      setOperand0, setOperand1, setOperand2};
  for (const FamilyCase &f : kFamilies) {
    SCOPED_TRACE(f.name);
    const FamilyPatterns &patterns = familyPatterns(f.family);
    unsigned checked = 0, failures = 0;
    for (uint32_t w = 0; w < (1u << f.widthBits); ++w) {
      uint16_t word = uint16_t(w);
      if (!isValidWord(word, f.family))
        continue;
      MnemonicCode code = decodeOpcode(word, f.family);
      const InstructionPattern &p = *findPattern(patterns, code);
      // Starting from all ones keeps the TRIS form from reading as NOP
      // while its operand is still unwritten.
      uint16_t encoded = 0xFFFF;
      setOpcode(&encoded, code, f.family);
      for (unsigned i = 0; i < 3; ++i)
        setters[i](&encoded, getOperand(word, f.family, i), f.family);
      ++checked;
      if ((encoded & careMask(p)) != (word & careMask(p)) ||
          decodeOpcode(encoded, f.family) != code) {
        if (++failures < 5)
          ADD_FAILURE() << std::hex << "word 0x" << w << " " << p.cText
                        << " encodes as 0x" << encoded;
      }
    }
    EXPECT_EQ(checked, f.validWords);
    EXPECT_EQ(failures, 0u);
  }
}

TEST(InstructionPatterns, UpperBitsOfNarrowWordsAreIgnored) {
  struct Narrow {
    ProcessorFamily family;
    unsigned widthBits;
  };
  for (Narrow n : {Narrow{Trell, 14}, Narrow{Vesk, 12}}) {
    SCOPED_TRACE(n.widthBits);
    for (uint32_t w = 0; w < (1u << n.widthBits); ++w) {
      uint16_t high = uint16_t(w | (0xFFFFu << n.widthBits));
      ASSERT_EQ(isValidWord(uint16_t(w), n.family),
                isValidWord(high, n.family));
      if (isValidWord(uint16_t(w), n.family)) {
        ASSERT_EQ(decodeOpcode(uint16_t(w), n.family),
                  decodeOpcode(high, n.family));
        for (unsigned i = 0; i < 3; ++i)
          ASSERT_EQ(getOperand(uint16_t(w), n.family, i),
                    getOperand(high, n.family, i));
      }
    }
  }
}

TEST(InstructionPatterns, OpcodeWrittenIntoZeroDecodesBack) {
  for (const FamilyCase &f : kFamilies) {
    SCOPED_TRACE(f.name);
    const FamilyPatterns &patterns = familyPatterns(f.family);
    for (size_t i = 0; i < patterns.cCount; ++i) {
      MnemonicCode code = patterns.cRows[i].cCode;
      uint16_t word = 0;
      setOpcode(&word, code, f.family);
      // TRIS 0 is the NOP word.
      MnemonicCode expected =
          code == Mnem::TRIS ? MnemonicCode(Mnem::NOP) : code;
      EXPECT_EQ(decodeOpcode(word, f.family), expected) << mnemonicName(code);
    }
  }
}

struct DecodeCase {
  ProcessorFamily family;
  uint16_t word;
  MnemonicCode code;
  uint16_t operands[3];
};

TEST(Decoding, FamilyEdgeCases) {
  const DecodeCase cases[] = {
      {Trell, 0x0062, Mnem::OPTION, {0, 0, 0}},
      {Trell, 0x0063, Mnem::SLEEP, {0, 0, 0}},
      {Trell, 0x0064, Mnem::CLRWDT, {0, 0, 0}},
      {Trell, 0x0060, Mnem::NOP, {0, 0, 0}},
      {Trell, 0x0020, Mnem::NOP, {0, 0, 0}},
      {Trell, 0x0065, Mnem::TRIS, {5, 0, 0}},
      {Trell, 0x0061, Mnem::TRIS, {1, 0, 0}},
      {Trell, 0x0785, Mnem::ADDWF, {5, 1, 0}},
      {Trell, 0xC785, Mnem::ADDWF, {5, 1, 0}},
      {Trell, 0x1683, Mnem::BSF, {3, 5, 0}},
      {Trell, 0x27FF, Mnem::CALL, {0x7FF, 0, 0}},
      {Vesk, 0x000, Mnem::NOP, {0, 0, 0}},
      {Vesk, 0x002, Mnem::OPTION, {0, 0, 0}},
      {Vesk, 0x003, Mnem::SLEEP, {0, 0, 0}},
      {Vesk, 0x004, Mnem::CLRWDT, {0, 0, 0}},
      {Vesk, 0x006, Mnem::TRIS, {6, 0, 0}},
      {Vesk, 0xA12, Mnem::GOTO, {0x12, 0, 0}},
      {Vesk, 0x912, Mnem::CALL, {0x12, 0, 0}},
      {Brask, 0x0008, Mnem::LOG, {0, 0, 0}},
      {Brask, 0x000E, Mnem::PAUSE, {0, 0, 0}},
      {Brask, 0x0001, Mnem::STOP, {0, 0, 0}},
      {Brask, 0x4A23, Mnem::MOVPF, {0x0A, 0x23, 0}},
      {Brask, 0x6A23, Mnem::MOVFP, {0x23, 0x0A, 0}},
      {Brask, 0xAB45, Mnem::TABLRD, {1, 1, 0x45}},
      {Brask, 0xA245, Mnem::TLRD, {1, 0x45, 0}},
      {Brask, 0xBA5F, Mnem::MOVLR, {5, 0, 0}},
      {Quolm, 0xF123, Mnem::WORD2, {0x123, 0, 0}},
      {Quolm, 0x0012, Mnem::RETURN, {0, 0, 0}},
      {Quolm, 0x0013, Mnem::RETURN, {1, 0, 0}},
      {Quolm, 0xEE1F, Mnem::LFSR, {1, 0xF, 0}},
      {Quolm, 0xE0FF, Mnem::BZ, {0xFF, 0, 0}},
      {Quolm, 0xED05, Mnem::CALL, {5, 1, 0}},
      {Quolm, 0xC123, Mnem::MOVFF, {0x123, 0, 0}},
      {Quolm, 0x2612, Mnem::ADDWF, {0x12, 1, 0}},
      {Quolm, 0x9612, Mnem::BCF, {0x12, 3, 0}},
  };
  for (const DecodeCase &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << int(c.family) << " 0x" << std::hex << c.word);
    EXPECT_EQ(decodeOpcode(c.word, c.family), c.code);
    EXPECT_EQ(getOperand0(c.word, c.family), c.operands[0]);
    EXPECT_EQ(getOperand1(c.word, c.family), c.operands[1]);
    EXPECT_EQ(getOperand2(c.word, c.family), c.operands[2]);
  }
}

TEST(Decoding, FamilyEntryPointsAgreeWithDispatch) {
  EXPECT_EQ(decodeOpcodeTrell(0x0785), Mnem::ADDWF);
  EXPECT_EQ(getOperand1Trell(0x0785), 1);
  EXPECT_EQ(decodeOpcodeBrask(0xAB45), Mnem::TABLRD);
  EXPECT_EQ(getOperand2Brask(0xAB45), 0x45);
  EXPECT_EQ(decodeOpcodeVesk(0x006), Mnem::TRIS);
  EXPECT_EQ(getOperand0Vesk(0x006), 6);
  EXPECT_EQ(decodeOpcodeQuolm(0x2612), Mnem::ADDWF);
  EXPECT_EQ(getOperand0Quolm(0x2612), 0x12);
}

TEST(Decoding, WordsOutsideEveryPatternAreInvalid) {
  EXPECT_FALSE(isValidWord(0x0001, Trell));
  EXPECT_FALSE(isValidWord(0x008, Vesk));
  EXPECT_FALSE(isValidWord(0x0006, Brask));
  EXPECT_FALSE(isValidWord(0x0002, Quolm));
  EXPECT_FALSE(isValidWord(0xEEFF, Quolm)); // LFSR with bits 6-7 set
  EXPECT_TRUE(isValidWord(0x0785, Trell));
  EXPECT_TRUE(isValidWord(0xC785, Trell));
  for (uint32_t w = 0xF000; w <= 0xFFFF; ++w)
    ASSERT_TRUE(isValidWordQuolm(uint16_t(w)));
  EXPECT_FALSE(isValidWordTrell(0x0001));
  EXPECT_FALSE(isValidWordVesk(0x008));
  EXPECT_FALSE(isValidWordBrask(0x0006));
}

TEST(DecodingDeathTest, BadArgumentsStop) {
  EXPECT_DEATH(decodeOpcode(0x0001, Trell), kAssertMginst);
  EXPECT_DEATH(decodeOpcode(0x0002, Quolm), kAssertMginst);
  EXPECT_DEATH(getOperand0(0x008, Vesk), kAssertMginst);
  EXPECT_DEATH(getOperand(0x0785, Trell, 3), kAssertMginst);
  EXPECT_DEATH(mnemonicName(0), kAssertMginst);
  EXPECT_DEATH(mnemonicName(99), kAssertMginst);
  for (ProcessorFamily bad : {ProcessorFamily(0), ProcessorFamily(5)}) {
    EXPECT_DEATH(decodeOpcode(0, bad), kAssertMginst);
    EXPECT_DEATH(getOperand1(0, bad), kAssertMginst);
    EXPECT_DEATH(isValidWord(0, bad), kAssertMginst);
  }
}
