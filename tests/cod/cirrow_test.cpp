// The COD converter run as a user runs it, on small linked images.
#include "CodTestSupport.h"
#include "CoffBuilder.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <regex>

namespace {

const char *const Banner = "CIRROW 2.40.00, COFF to COD File Converter";
const char *const Notice = "Copyright (c) 2026 The Orvane Toolchain Authors";
const std::uint8_t PageHeaderFlags = 0x02;

// One family's image: two code words on line 2 of a three-line source.
struct FamilyCase {
  const char *family;
  std::uint16_t deviceCode;
  const char *processorName;
  std::uint32_t romWidthBits;
  std::uint32_t unitBytes;
  std::uint32_t address; // program address of the first word
  std::uint16_t words[2];
  const char *texts[2]; // disassembly of each row
};

const FamilyCase Families[] = {
    {"Trell",
     0x1001,
     "TRL001B",
     14,
     2,
     0x10,
     {0x0785, 0x0001},
     {"ADDWF     0x5,0x1", "??? Illegal Opcode"}},
    {"Brask",
     0x2001,
     "BRK001D",
     16,
     2,
     0x10,
     {0xB012, 0x0006},
     {"MOVLW     0x12", "??? Illegal Opcode"}},
    {"Vesk",
     0x3001,
     "VSK001A",
     12,
     2,
     0x10,
     {0x0C12, 0x0008},
     {"MOVLW     0x12", "??? Illegal Opcode"}},
    // A two-word instruction: the second row shows no disassembly.
    {"Quolm",
     0x4001,
     "QLM001X",
     8,
     1,
     0x100,
     {0xED05, 0xF001},
     {"CALL      0x20a,0x1", ""}},
};

void PrintTo(const FamilyCase &c, std::ostream *out) { *out << c.family; }

class CirrowFamily : public ::testing::TestWithParam<FamilyCase> {
protected:
  void SetUp() override {
    const FamilyCase &c = GetParam();
    tmp.write("prog.asm", "  list\nstart  two words\n  end\n");
    std::uint32_t second = c.address + 2 / c.unitBytes;
    CoffBuilder()
        .processor(c.deviceCode, c.romWidthBits)
        .fileFlags(kFileExecutable)
        .fileSymbol("prog.asm")
        .section(".code", kScnTypeCode)
        .at(c.address)
        .words({c.words[0], c.words[1]})
        .line(2, c.address, 0)
        .line(2, second, 0)
        .section(".udata", kScnTypeUdata)
        .at(0x20)
        .zeros(4)
        .symbol(".eof", 0, kScnNumDebug, kClassLabel)
        .global("start_of_the_program", c.address, ".code")
        .symbolIn("counter", 0x20, ".udata", kClassStatic)
        .writeTo(tmp.file("prog.cof"));
  }
  TempDir tmp;
};

TEST_P(CirrowFamily, ListsEachCodeWordWithItsDisassembly) {
  const FamilyCase &c = GetParam();
  ProcessResult run = runCirrow(tmp, {"prog.cof"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  std::vector<std::string> lines = splitLines(tmp.read("prog.lst"));
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], Banner);
  EXPECT_EQ(lines[1], Notice);
  EXPECT_TRUE(std::regex_match(
      lines[2], std::regex("Listing File Generated: [A-Z][a-z]{2} [A-Z][a-z]{2}"
                           " [ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}")))
      << lines[2];
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], std::string("Address  Value    Disassembly") +
                          std::string(14, ' ') + "Source" +
                          std::string(75, ' ') + "File");
  EXPECT_EQ(lines[6], "-------  -------  " + std::string(23, '-') + "  " +
                          std::string(79, '-') + "  -----");

  char address[2][8], value[2][8];
  std::uint32_t second = c.address + 2 / c.unitBytes;
  std::snprintf(address[0], 8, "%06x", c.address);
  std::snprintf(address[1], 8, "%06x", second);
  std::snprintf(value[0], 8, "%04x", c.words[0]);
  std::snprintf(value[1], 8, "%04x", c.words[1]);
  std::vector<std::string> expected = {
      listRow("", "", "", "  list", "prog.asm"),
      listRow(address[0], value[0], c.texts[0], "start  two words", "prog.asm"),
      listRow(address[1], value[1], c.texts[1], "", ""),
      listRow("", "", "", "  end", "prog.asm"),
  };
  EXPECT_EQ(bodyRows(tmp.read("prog.lst")), expected);
}

TEST_P(CirrowFamily, WritesDirectoryCodeSymbolsAndLineInfo) {
  const FamilyCase &c = GetParam();
  ProcessResult run = runCirrow(tmp, {"-q", "prog.cof"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  CodFileReader cod(tmp.read("prog.cod"));
  ASSERT_GE(cod.blockCount(), 1u);

  EXPECT_EQ(cod.text(0, 256), "prog.cod");
  EXPECT_TRUE(std::regex_match(cod.text(0, 320),
                               std::regex("[0-9]{2}[A-Z][a-z]{2}[0-9]{2}")));
  EXPECT_LE(cod.u16(0, 328), 2359u);
  EXPECT_EQ(cod.text(0, 330), "CIRROW 2.40.00");
  EXPECT_EQ(cod.text(0, 362), Notice);
  EXPECT_EQ(cod.text(0, 453), c.processorName);
  EXPECT_EQ(cod.u16(0, 451), 1u); // CodType
  EXPECT_EQ(cod.nextDir(0), 0u);

  // Code: one block right after the directory, words low byte first.
  std::uint32_t byteAddress = c.address * c.unitBytes;
  ASSERT_EQ(cod.index(0, byteAddress / 512), 1u);
  EXPECT_EQ(cod.u16(1, byteAddress % 512), c.words[0]);
  EXPECT_EQ(cod.u16(1, byteAddress % 512 + 2), c.words[1]);
  EXPECT_EQ(cod.u16(1, byteAddress % 512 + 4), 0u);

  // Symbols: short names cut to 12, type address for code, constant else.
  ASSERT_EQ(cod.symTab(0), 2u);
  EXPECT_EQ(cod.text(2, 0), "start_of_the");
  EXPECT_EQ(cod.u8(2, 13), 46);
  EXPECT_EQ(cod.u16(2, 14), c.address);
  EXPECT_EQ(cod.text(2, 16), "counter");
  EXPECT_EQ(cod.u8(2, 16 + 13), 47);
  EXPECT_EQ(cod.u8(2, 32), 0); // nothing more

  ASSERT_EQ(cod.namTab(0), 3u);
  EXPECT_EQ(cod.text(3, 0), "prog.asm");

  // Page header (8 records), line 1 without code, line 2's two code rows,
  // line 3.
  std::vector<CodFileReader::LineRecord> lines = cod.lineInfo(0);
  ASSERT_EQ(cod.lineTab(0), 4u);
  ASSERT_EQ(lines.size(), 12u);
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(lines[i], (CodFileReader::LineRecord{0, PageHeaderFlags, 1, 0}));
  EXPECT_EQ(lines[8], (CodFileReader::LineRecord{0, 0x90, 1, 0}));
  EXPECT_EQ(lines[9], (CodFileReader::LineRecord{0, 0x80, 2, c.address}));
  EXPECT_EQ(lines[10], (CodFileReader::LineRecord{
                           0, 0x00, 2, c.address + 2 / c.unitBytes}));
  EXPECT_EQ(lines[11], (CodFileReader::LineRecord{0, 0x90, 3, 0}));

  // Memory map: the code's byte range, ending on a word's last byte.
  ASSERT_EQ(cod.memMapOfs(0), 5u);
  EXPECT_EQ(cod.u16(5, 0), byteAddress);
  EXPECT_EQ(cod.u16(5, 2), byteAddress + 3);
  EXPECT_EQ(cod.u16(5, 4), 0u);

  // Long symbols: whole name, type, value big-endian.
  ASSERT_EQ(cod.lSymTab(0), 6u);
  EXPECT_EQ(cod.text(6, 0), "start_of_the_program");
  EXPECT_EQ(cod.u16(6, 21), 46u);
  EXPECT_EQ(cod.u8(6, 25), c.address >> 8);
  EXPECT_EQ(cod.u8(6, 26), c.address & 0xFF);
  EXPECT_EQ(cod.blockCount(), 7u);
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, CirrowFamily,
                         ::testing::ValuesIn(Families), [](const auto &info) {
                           return std::string(info.param.family);
                         });

} // namespace
