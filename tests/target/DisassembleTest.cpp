#include "mginst/InstructionSet.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char *const kAssertMginst = "Assertion failed: 0, file mginst, line";

struct TextCase {
  ProcessorFamily family;
  uint32_t address;
  uint16_t word, secondWord;
  const char *text;
  unsigned wordsUsed;
};

void expectTexts(const TextCase *begin, const TextCase *end) {
  for (const TextCase *c = begin; c != end; ++c) {
    SCOPED_TRACE(testing::Message() << std::hex << "0x" << c->word << " 0x"
                                    << c->secondWord << " at 0x" << c->address);
    uint8_t used = 0;
    std::string text =
        disassemble(c->address, c->word, c->secondWord, &used, c->family);
    EXPECT_EQ(text, c->text);
    EXPECT_EQ(used, c->wordsUsed);
  }
}

} // namespace

TEST(Disassembly, TrellTexts) {
  const TextCase cases[] = {
      {Trell, 0, 0x0785, 0, "ADDWF     0x5,0x1", 1},
      {Trell, 0x1234, 0xC785, 0xF001, "ADDWF     0x5,0x1", 1},
      {Trell, 0, 0x1683, 0, "BSF       0x3,0x5", 1},
      {Trell, 0, 0x27FF, 0, "CALL      0x7ff", 1},
      {Trell, 0, 0x30FF, 0, "MOVLW     0xff", 1},
      {Trell, 0, 0x0065, 0, "TRIS      0x5", 1},
      {Trell, 0, 0x0064, 0, "CLRWDT    ", 1},
      {Trell, 0, 0x0000, 0, "NOP       ", 1},
      {Trell, 0, 0x0100, 0, "CLRW      ", 1},
      {Trell, 0, 0x0080, 0, "MOVWF     0x0", 1},
  };
  expectTexts(std::begin(cases), std::end(cases));
}

TEST(Disassembly, BraskTexts) {
  const TextCase cases[] = {
      {Brask, 0, 0x4A23, 0, "MOVPF     0xa,0x23", 1},
      {Brask, 0, 0x6A23, 0, "MOVFP     0x23,0xa", 1},
      {Brask, 0, 0xAB45, 0, "TABLRD    0x1,0x1,0x45", 1},
      {Brask, 0, 0xA245, 0, "TLRD      0x1,0x45", 1},
      {Brask, 0, 0xBA5F, 0, "MOVLR     0x5", 1},
      {Brask, 0, 0xB80C, 0, "MOVLB     0xc", 1},
      {Brask, 0x100, 0xC123, 0xF000, "GOTO      0x123", 1},
      {Brask, 0, 0xE123, 0, "CALL      0x123", 1},
      {Brask, 0, 0x000E, 0, "PAUSE     ", 1},
  };
  expectTexts(std::begin(cases), std::end(cases));
}

TEST(Disassembly, VeskTexts) {
  const TextCase cases[] = {
      {Vesk, 0, 0xA12, 0, "GOTO      0x12", 1},
      {Vesk, 0, 0x912, 0, "CALL      0x12", 1},
      {Vesk, 0, 0x006, 0, "TRIS      0x6", 1},
      {Vesk, 0, 0x002, 0, "OPTION    ", 1},
      {Vesk, 0, 0x5E3, 0, "BSF       0x3,0x7", 1},
      {Vesk, 0, 0x1E3, 0, "ADDWF     0x3,0x1", 1},
      {Vesk, 0, 0xF812, 0, "RETLW     0x12", 1},
  };
  expectTexts(std::begin(cases), std::end(cases));
}

TEST(Disassembly, QuolmTexts) {
  const TextCase cases[] = {
      {Quolm, 0x100, 0x0000, 0, "NOP       ", 1},
      {Quolm, 0x100, 0xE0FF, 0, "BZ        0x100", 1},
      {Quolm, 0x1000, 0xD7FF, 0, "BRA       0x1000", 1},
      {Quolm, 0x0, 0xE080, 0, "BZ        0xffffff02", 1},
      {Quolm, 0x100, 0xE37F, 0, "BNC       0x200", 1},
      {Quolm, 0x100, 0xDFFF, 0, "RCALL     0x100", 1},
      {Quolm, 0x0, 0xDC00, 0, "RCALL     0xfffff802", 1},
      {Quolm, 0x100, 0xED05, 0xF001, "CALL      0x20a,0x1", 2},
      {Quolm, 0x100, 0xED05, 0x1234, "CALL      ???,0x1", 1},
      {Quolm, 0x100, 0xEC05, 0xFFFF, "CALL      0x1ffe0a,0x0", 2},
      {Quolm, 0x100, 0xEF05, 0x0000, "GOTO      ???", 1},
      {Quolm, 0x100, 0xEF80, 0xF012, "GOTO      0x2500", 2},
      {Quolm, 0x100, 0xEE25, 0xFFAB, "LFSR      0x2,0x5ab", 2},
      {Quolm, 0x100, 0xEE25, 0x0000, "LFSR      0x2,???", 1},
      {Quolm, 0x100, 0xC123, 0xF456, "MOVFF     0x123,0x456", 2},
      {Quolm, 0x100, 0xC123, 0x0001, "MOVFF     0x123,???", 1},
      {Quolm, 0, 0x2612, 0, "ADDWF     0x12,0x1,0x0", 1},
      {Quolm, 0, 0x27FF, 0, "ADDWF     0xff,0x1,0x1", 1},
      {Quolm, 0, 0x9612, 0, "BCF       0x12,0x3,0x0", 1},
      {Quolm, 0, 0x6E12, 0, "MOVWF     0x12,0x0", 1},
      {Quolm, 0, 0x0013, 0, "RETURN    0x1", 1},
      {Quolm, 0, 0xF123, 0xF456, "WORD2     0x123", 1},
      {Quolm, 0, 0x000A, 0, "TBLRDPOSTDEC", 1},
      {Quolm, 0, 0x0105, 0, "MOVLB     0x5", 1},
  };
  expectTexts(std::begin(cases), std::end(cases));
}

TEST(Disassembly, FamilyEntryPointsAndSeparateBuffers) {
  uint8_t used = 0;
  const char *trell = disassembleTrell(0, 0x0785, 0, &used);
  const char *quolm = disassembleQuolm(0x100, 0xED05, 0xF001, &used);
  EXPECT_EQ(used, 2);
  EXPECT_STREQ(trell, "ADDWF     0x5,0x1");
  EXPECT_STREQ(quolm, "CALL      0x20a,0x1");
  EXPECT_STREQ(disassembleBrask(0, 0x0001, 0, &used), "STOP      ");
  EXPECT_STREQ(disassembleVesk(0, 0x003, 0, &used), "SLEEP     ");
  EXPECT_EQ(used, 1);
  // The next call for a family reuses its buffer.
  EXPECT_EQ(disassembleTrell(0, 0x0000, 0, &used), trell);
}

TEST(Disassembly, EveryValidWordGivesTextOfBoundedLength) {
  for (ProcessorFamily family : {Trell, Brask, Vesk, Quolm}) {
    SCOPED_TRACE(int(family));
    size_t longest = 0;
    for (uint32_t w = 0; w <= 0xFFFF; ++w) {
      if (!isValidWord(uint16_t(w), family))
        continue;
      uint8_t used = 0;
      std::string text =
          disassemble(0x1FFFFE, uint16_t(w), 0xFFFF, &used, family);
      longest = std::max(longest, text.size());
      ASSERT_GE(text.size(), 10u);
    }
    EXPECT_LE(longest, 22u);
  }
}

TEST(MnemonicLookup, FindsFamilyMnemonicsWithoutRegardToCase) {
  for (ProcessorFamily family : {Trell, Brask, Vesk, Quolm}) {
    SCOPED_TRACE(int(family));
    MnemonicCode code = 0;
    EXPECT_TRUE(lookupMnemonic("addwf", &code, family));
    EXPECT_EQ(code, Mnem::ADDWF);
    code = 77;
    EXPECT_FALSE(lookupMnemonic("BANKSEL", &code, family));
    EXPECT_FALSE(lookupMnemonic("PAGESEL", &code, family));
    EXPECT_FALSE(lookupMnemonic("", &code, family));
    EXPECT_FALSE(lookupMnemonic("ADDWF ", &code, family));
    EXPECT_FALSE(lookupMnemonic("ADDW", &code, family));
    EXPECT_EQ(code, 77);
    EXPECT_EQ(lookupMnemonic("MoVfF", &code, family), family == Quolm);
  }
  MnemonicCode code = 0;
  EXPECT_TRUE(lookupMnemonic("Word2", &code, Quolm));
  EXPECT_EQ(code, Mnem::WORD2);
}

TEST(DisassemblyDeathTest, InvalidFirstWordOrFamilyStops) {
  uint8_t used = 0;
  MnemonicCode code = 0;
  EXPECT_DEATH(disassemble(0, 0x0001, 0, &used, Trell), kAssertMginst);
  EXPECT_DEATH(disassemble(0, 0x0002, 0xF000, &used, Quolm), kAssertMginst);
  for (ProcessorFamily bad : {ProcessorFamily(0), ProcessorFamily(5)}) {
    EXPECT_DEATH(disassemble(0, 0, 0, &used, bad), kAssertMginst);
    EXPECT_DEATH(lookupMnemonic("NOP", &code, bad), kAssertMginst);
  }
}
