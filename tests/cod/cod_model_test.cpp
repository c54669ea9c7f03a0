// The COD model on its own: record layouts, block packing, block numbering
// and the written file.
#include "TempDir.h"
#include "cod/Cod.h"
#include "cod/CodPack.h"

#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

unsigned le16(const std::uint8_t *at) { return at[0] | (at[1] << 8); }

std::list<Block> packed(std::uint32_t (*pack)(const std::list<LongSymbol> &,
                                              std::list<Block> *),
                        const std::list<LongSymbol> &records) {
  std::list<Block> blocks;
  EXPECT_EQ(pack(records, nullptr), pack(records, &blocks));
  return blocks;
}

LongSymbol longSymbolOfSize(std::size_t recordSize) {
  // A long symbol views its name: the texts stay for the whole test run.
  static std::deque<std::string> names;
  names.emplace_back(recordSize - 7, 'x');
  LongSymbol symbol;
  symbol.Name = names.back();
  symbol.NameLen = static_cast<std::uint8_t>(symbol.Name.size());
  return symbol;
}

TEST(CodRecords, DirectoryFieldsLandAtTheirOffsets) {
  Directory dir;
  dir.Index[0] = 0x0102;
  dir.Index[127] = 0x0304;
  setCountedText(dir.SourceLen, dir.Source, sizeof dir.Source, "prog.cod");
  setCountedText(dir.DateLen, dir.Date, sizeof dir.Date, "08Dec26");
  dir.Time = 1405;
  dir.SymTab = 0x1111;
  dir.LineEnd = 0x2222;
  dir.AddrSize = 0x33;
  dir.HighAddr = 0x4455;
  dir.NextDir = 0x6677;
  dir.MemMapEnd = 0x8899;
  setCountedText(dir.ProcessorLen, dir.Processor, sizeof dir.Processor,
                 "ABCDEFGH");
  dir.MessEnd = 0xAABB;
  std::vector<std::uint8_t> block(CodBlockSize, 0xEE);
  dir.serialize(block.data());

  EXPECT_EQ(le16(&block[0]), 0x0102u);
  EXPECT_EQ(le16(&block[254]), 0x0304u);
  EXPECT_EQ(block[256], 8);
  EXPECT_EQ(std::string(&block[257], &block[265]), "prog.cod");
  EXPECT_EQ(block[265], 0); // rest of the field zero
  EXPECT_EQ(block[320], 7);
  EXPECT_EQ(std::string(&block[321], &block[328]), "08Dec26");
  EXPECT_EQ(le16(&block[328]), 1405u);
  EXPECT_EQ(le16(&block[426]), 0x1111u);
  EXPECT_EQ(le16(&block[436]), 0x2222u);
  EXPECT_EQ(block[438], 0x33);
  EXPECT_EQ(le16(&block[439]), 0x4455u);
  EXPECT_EQ(le16(&block[441]), 0x6677u);
  EXPECT_EQ(le16(&block[445]), 0x8899u);
  EXPECT_EQ(le16(&block[451]), 1u); // CodType
  EXPECT_EQ(block[453], 8);
  EXPECT_EQ(std::string(&block[454], &block[462]), "ABCDEFGH");
  EXPECT_EQ(le16(&block[468]), 0xAABBu);
  for (std::size_t i = 470; i < CodBlockSize; ++i)
    EXPECT_EQ(block[i], 0) << "spare byte " << i;
}

TEST(CodRecords, LongSymbolStoresTypeLittleAndValueBigEndian) {
  LongSymbol symbol;
  symbol.Name = "main";
  symbol.NameLen = 4;
  symbol.Type = 46;
  symbol.Value = 0x1234;
  std::uint8_t bytes[11] = {};
  symbol.serialize(bytes);
  const std::uint8_t expected[11] = {4,    'm', 'a', 'i',  'n', 0x2E,
                                     0x00, 0,   0,   0x12, 0x34};
  EXPECT_EQ(0, memcmp(bytes, expected, sizeof bytes));
}

TEST(CodRecords, OversizedSymbolNameStopsWithAssertion) {
  EXPECT_DEATH(Symbol(std::string(13, 's'), 46, 0), "len <= MAX_LENGTH");
  EXPECT_DEATH(SourceName(std::string(64, 'f')), "len <= MAX_LENGTH");
}

TEST(CodPacking, ThirtyThreeSymbolsTakeTwoBlocks) {
  std::list<Symbol> symbols;
  for (int i = 0; i < 33; ++i)
    symbols.emplace_back("s" + std::to_string(i), 46, i);
  std::list<Block> blocks;
  ASSERT_EQ(packSymbolBlocks(symbols, &blocks), 2u);
  ASSERT_EQ(blocks.size(), 2u);
  const Block &second = blocks.back();
  EXPECT_EQ(second.cBytes[0], 3); // "s32"
  EXPECT_EQ(le16(&second.cBytes[14]), 32u);
  for (std::size_t i = Symbol::SizeInBytes; i < CodBlockSize; ++i)
    ASSERT_EQ(second.cBytes[i], 0) << i;
}

TEST(CodPacking, LineInfoFillsEightyFiveSlotsAndLeavesLastTwoBytes) {
  for (int count : {85, 86}) {
    SCOPED_TRACE(count);
    std::list<LineInfo> lines(count, LineInfo(1, 0x80, 7, 0xFFFF));
    std::list<Block> blocks;
    EXPECT_EQ(packLineInfoBlocks(lines, &blocks), count == 85 ? 1u : 2u);
    EXPECT_EQ(le16(&blocks.front().cBytes[504 + 2]), 7u);
    EXPECT_EQ(blocks.front().cBytes[510], 0);
    EXPECT_EQ(blocks.front().cBytes[511], 0);
  }
}

TEST(CodPacking, VariableRecordsEndBeforeTheLastByte) {
  struct Case {
    std::vector<std::size_t> sizes;
    std::size_t blocks;
  } cases[] = {
      {{200, 200, 111}, 1}, // ends at byte 510
      {{200, 200, 112}, 2}, // would end at byte 511
      {{256, 256}, 2},      // exactly 512 together
      {{}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sizes.size());
    std::list<LongSymbol> symbols;
    for (std::size_t size : c.sizes)
      symbols.push_back(longSymbolOfSize(size));
    std::list<Block> blocks = packed(packLongSymbolBlocks, symbols);
    ASSERT_EQ(blocks.size(), c.blocks);
    if (c.blocks == 2) { // the record that did not fit starts the next block
      EXPECT_EQ(blocks.back().cBytes[0], c.sizes.back() - 7);
    }
    for (const Block &block : blocks)
      EXPECT_EQ(block.cBytes[511], 0);
  }
}

TEST(CodPacking, LocalGroupsContinueAcrossBlocks) {
  std::list<Symbol> members(32, Symbol("loc", 47, 1));
  std::list<LocalGroup> groups{LocalGroup(0x10, 0x20, members)};
  std::list<Block> blocks;
  ASSERT_EQ(packLocalGroupBlocks(groups, &blocks), 2u);
  EXPECT_EQ(std::string(&blocks.front().cBytes[0], &blocks.front().cBytes[8]),
            std::string("\7__LOCAL"));
  EXPECT_EQ(le16(&blocks.front().cBytes[8]), 0x10u);
  EXPECT_EQ(blocks.back().cBytes[0], 3); // 32nd symbol in the second block
}

class CodLayout : public ::testing::Test {
protected:
  // Code in directories 0 and 2, with every table present.
  void SetUp() override {
    for (int d = 0; d < 3; ++d)
      cod.appendDirectory();
    setCountedText(cod.DirectoryTable[0].SourceLen,
                   cod.DirectoryTable[0].Source, 63, "prog.cod");
    cod.RawDataMap[0][0].cBytes[0] = 0xA1;
    cod.RawDataMap[0][5].cBytes[0] = 0xA2;
    cod.RawDataMap[2][127].cBytes[511] = 0xA3;
    for (int i = 0; i < 33; ++i)
      cod.SymbolList.emplace_back("s", 46, i);
    cod.SourceNameList.emplace_back("a.asm");
    cod.LineInfoTable[0].assign(86, LineInfo(0, 2, 1, 0));
    cod.LineInfoTable[2].emplace_back(0, 0x80, 3, 0x10);
    cod.MemoryMapList[0].emplace_back(0, 0xBFF);
    cod.MemoryMapList[2].emplace_back(0xFE00, 0xFFFF);
    cod.LongSymbolList.push_back(longSymbolOfSize(20));
    cod.preWrite();
  }
  Cod cod;
};

TEST_F(CodLayout, NumbersBlocksInTheFixedOrder) {
  const Directory &d0 = cod.DirectoryTable[0];
  const Directory &d1 = cod.DirectoryTable[1];
  const Directory &d2 = cod.DirectoryTable[2];
  EXPECT_EQ(d0.Index[0], 3);
  EXPECT_EQ(d0.Index[5], 4);
  EXPECT_EQ(d0.Index[1], 0);
  EXPECT_EQ(d2.Index[127], 5);
  EXPECT_EQ(d0.NextDir, 1);
  EXPECT_EQ(d1.NextDir, 2);
  EXPECT_EQ(d2.NextDir, 0);
  EXPECT_EQ(d2.HighAddr, 2);
  EXPECT_EQ(d0.SymTab, 6);
  EXPECT_EQ(d0.SymEnd, 7);
  EXPECT_EQ(d0.NamTab, 8);
  EXPECT_EQ(d0.NamEnd, 8);
  EXPECT_EQ(d0.LineTab, 9);
  EXPECT_EQ(d0.LineEnd, 10);
  EXPECT_EQ(d2.LineTab, 11);
  EXPECT_EQ(d2.LineEnd, 11);
  EXPECT_EQ(d0.LocalVars, 0);
  EXPECT_EQ(d0.LocalEnd, 0);
  EXPECT_EQ(d0.MemMapOfs, 12);
  EXPECT_EQ(d2.MemMapOfs, 13);
  EXPECT_EQ(d0.LSymTab, 14);
  EXPECT_EQ(d0.LSymEnd, 14);
  EXPECT_EQ(d0.MessTab, 0);
  EXPECT_EQ(cod.cBlockCount, 15u);
  // The middle directory has nothing of its own.
  EXPECT_EQ(d1.LineTab + d1.LineEnd + d1.MemMapOfs + d1.MemMapEnd + d1.SymTab,
            0);
  EXPECT_EQ(d0.DateLen, 7);
  EXPECT_EQ(d1.DateLen, 0);
}

TEST_F(CodLayout, WritesEveryBlockWhereItsPointerSays) {
  TempDir tmp;
  cod.cCodFileName = tmp.file("prog.cod");
  ASSERT_EQ(cod.write(), 1);
  std::string file = tmp.read("prog.cod");
  ASSERT_EQ(file.size(), 15u * CodBlockSize);
  auto byteAt = [&](unsigned block, unsigned offset) {
    return static_cast<std::uint8_t>(file[block * CodBlockSize + offset]);
  };
  EXPECT_EQ(byteAt(0, 441), 1); // directory 0's NextDir
  EXPECT_EQ(byteAt(2, 439), 2); // directory 2's HighAddr
  EXPECT_EQ(byteAt(3, 0), 0xA1);
  EXPECT_EQ(byteAt(4, 0), 0xA2);
  EXPECT_EQ(byteAt(5, 511), 0xA3);
  EXPECT_EQ(byteAt(7, 14), 32);   // 33rd symbol's value
  EXPECT_EQ(byteAt(8, 0), 5);     // "a.asm"
  EXPECT_EQ(byteAt(11, 2), 3);    // directory 2's line
  EXPECT_EQ(byteAt(12, 3), 0x0B); // 0xBFF
  EXPECT_EQ(byteAt(13, 1), 0xFE);
  EXPECT_EQ(byteAt(14, 0), 13);
}

TEST_F(CodLayout, ReportsAFileThatCannotBeCreated) {
  TempDir tmp;
  cod.cCodFileName = tmp.file("missing/prog.cod");
  testing::internal::CaptureStderr();
  EXPECT_EQ(cod.write(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error - Could not open Cod file '" + cod.cCodFileName +
                "' for writing.\n");
}

TEST(CodWriter, RefusesAFileBeyondSixteenBitBlockNumbers) {
  TempDir tmp;
  Cod cod;
  for (int d = 0; d < 0x10000; ++d)
    cod.appendDirectory();
  cod.RawDataMap[0][0] = Block(); // one block more than the format allows
  cod.cCodFileName = tmp.file("big.cod");
  cod.preWrite();
  testing::internal::CaptureStderr();
  EXPECT_EQ(cod.write(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error - Cod file '" + cod.cCodFileName +
                "' would need 65537 blocks; the format allows at most "
                "65536.\n");
  EXPECT_FALSE(tmp.exists("big.cod"));
}

TEST(CodWriter, TakesTheFileNameFromTheSourceField) {
  TempDir tmp;
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(tmp.path().c_str()), 0);
  Cod cod;
  cod.appendDirectory();
  setCountedText(cod.DirectoryTable[0].SourceLen, cod.DirectoryTable[0].Source,
                 63, "x.cod");
  cod.preWrite();
  EXPECT_EQ(cod.write(), 1);
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(tmp.read("x.cod").size(), CodBlockSize);
}

} // namespace
