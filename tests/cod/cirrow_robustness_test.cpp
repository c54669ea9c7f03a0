// Odd but readable inputs: the converter keeps to its fields, buffers and
// tables and still writes sound files.
#include "CodTestSupport.h"
#include "CoffBuilder.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

TEST(CirrowRobustness, ScansOverTinySymbolTablesDoNotWrap) {
  struct Case {
    const char *what;
    int symbols;
  } cases[] = {{"no symbols", 0}, {"one symbol", 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    CoffBuilder builder;
    builder.processor(0x1001).section(".code", kScnTypeCode).words({0x0785});
    if (c.symbols == 1)
      builder.symbol(".eof", 0, kScnNumDebug, kClassLabel);
    builder.writeTo(tmp.file("prog.cof"));
    ProcessResult run = runCirrow(tmp, {"prog.cof"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(bodyRows(tmp.read("prog.lst")).empty());
  }
}

TEST(CirrowRobustness, FileSymbolWithoutFileEntryIsSkipped) {
  TempDir tmp;
  tmp.write("real.asm", "only line\n");
  syment bare;
  std::memcpy(bare._n_name, ".file", 5);
  bare.n_scnum = kScnNumDebug;
  bare.n_sclass = kClassFile;
  CoffBuilder builder;
  builder.processor(0x1001).rawEntry(bare);
  std::uint32_t real = builder.nextSymbolIndex();
  builder.fileSymbol("real.asm")
      .section(".code", kScnTypeCode)
      .words({0x0785})
      .line(1, 0, real)
      .symbol(".eof", 0, kScnNumDebug, kClassLabel)
      .global("main", 0, ".code")
      .writeTo(tmp.file("prog.cof"));
  ProcessResult run = runCirrow(tmp, {"prog.cof"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  CodFileReader cod(tmp.read("prog.cod"));
  EXPECT_EQ(cod.text(cod.namTab(0), 0), "real.asm");
  EXPECT_EQ(cod.u8(cod.namTab(0), 64), 0); // one source name only
  std::vector<std::string> rows = bodyRows(tmp.read("prog.lst"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], listRow("000000", "0785", "ADDWF     0x5,0x1", "only line",
                             "real.asm"));
}

TEST(CirrowRobustness, LineEntriesOutsideTheirSectionReadAsZero) {
  TempDir tmp;
  tmp.write("a.asm", "below\nhalf\nbeyond\n");
  CoffBuilder()
      .processor(0x1001)
      .fileSymbol("a.asm")
      .section(".code", kScnTypeCode)
      .at(0x10)
      .bytes({0x85}) // half a word
      .line(1, 0x5, 0)
      .line(2, 0x10, 0)
      .line(3, 0x20, 0)
      .symbol(".eof", 0, kScnNumDebug, kClassLabel)
      .global("main", 0x10, ".code")
      .writeTo(tmp.file("prog.cof"));
  ProcessResult run = runCirrow(tmp, {"prog.cof"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> expected = {
      listRow("000005", "0000", "NOP       ", "below", "a.asm"),
      listRow("000010", "0085", "MOVWF     0x5", "half", "a.asm"),
      listRow("000020", "0000", "NOP       ", "beyond", "a.asm"),
  };
  EXPECT_EQ(bodyRows(tmp.read("prog.lst")), expected);
}

TEST(CirrowRobustness, LongSymbolNamesAreCutTo255Characters) {
  TempDir tmp;
  std::string name(300, 'n');
  CoffBuilder()
      .processor(0x1001)
      .section(".code", kScnTypeCode)
      .words({0})
      .global(name, 0x1234, ".code")
      .writeTo(tmp.file("prog.cof"));
  ASSERT_EQ(runCirrow(tmp, {"-d", "prog.cof"}).exitCode, 0);
  CodFileReader cod(tmp.read("prog.cod"));
  unsigned block = cod.lSymTab(0);
  ASSERT_NE(block, 0u);
  EXPECT_EQ(cod.lSymEnd(0), block);
  EXPECT_EQ(cod.text(block, 0), name.substr(0, 255));
  EXPECT_EQ(cod.u16(block, 256), 46u);
  EXPECT_EQ(cod.u8(block, 260), 0x12);
  EXPECT_EQ(cod.u8(block, 261), 0x34);
  EXPECT_EQ(cod.text(cod.symTab(0), 0), name.substr(0, 12));
}

TEST(CirrowRobustness, SectionsSharingANameTakeTheTypeOfTheHeaderThatStays) {
  TempDir tmp;
  std::string bytes = CoffBuilder()
                          .processor(0x1001)
                          .section("first_long_name", kScnTypeCode)
                          .words({1})
                          .section("second_long_name", kScnTypeUdata)
                          .zeros(2)
                          .section(".code", kScnTypeCode)
                          .words({2})
                          .symbol("in_first", 0, 1, kClassStatic)
                          .symbol("in_code", 0, 3, kClassStatic)
                          .fileBytes();
  // The data section takes the code section's name: its header stays.
  bytes.replace(36 + 40, 8, bytes.substr(36, 8));
  tmp.write("prog.cof", bytes);
  ASSERT_EQ(runCirrow(tmp, {"-d", "prog.cof"}).exitCode, 0);
  CodFileReader cod(tmp.read("prog.cod"));
  const unsigned block = cod.symTab(0);
  ASSERT_NE(block, 0u);
  EXPECT_EQ(cod.text(block, 0), "in_first");
  EXPECT_EQ(cod.u8(block, 13), 47u); // constant
  EXPECT_EQ(cod.text(block, 16), "in_code");
  EXPECT_EQ(cod.u8(block, 16 + 13), 46u); // address
}

TEST(CirrowRobustness, LineRowsFollowSectionNamesThenSectionNumbers) {
  TempDir tmp;
  tmp.write("a.asm", "one\n");
  std::string bytes = CoffBuilder()
                          .processor(0x1001)
                          .fileSymbol("a.asm")
                          .section("z_sec", kScnTypeCode)
                          .at(0x10)
                          .words({1})
                          .line(1, 0x10)
                          .section("a_sec", kScnTypeCode)
                          .at(0x20)
                          .words({2})
                          .line(1, 0x20)
                          .section("y_sec", kScnTypeCode)
                          .at(0x30)
                          .words({3})
                          .line(1, 0x30)
                          .section("b_sec", kScnTypeUdata)
                          .zeros(2)
                          .line(1, 0x40)
                          .section("m_sec", kScnTypeCode)
                          .at(0x50)
                          .words({5})
                          .line(1, 0x50)
                          .symbol(".eof", 0, kScnNumDebug, kClassLabel)
                          .fileBytes();
  // The third section joins the first one's name; the fourth takes the
  // second one's, whose kept header is then data: no rows for it.
  bytes.replace(36 + 80, 8, bytes.substr(36, 8));
  bytes.replace(36 + 120, 8, bytes.substr(36 + 40, 8));
  tmp.write("prog.cof", bytes);
  ProcessResult run = runCirrow(tmp, {"prog.cof"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> rows = bodyRows(tmp.read("prog.lst"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].substr(0, 6), "000050");
  EXPECT_EQ(rows[1].substr(0, 6), "000010");
  EXPECT_EQ(rows[2].substr(0, 6), "000030");
}

TEST(CirrowRobustness, AuxiliaryEntriesArePairedAsTheReaderPairsThem) {
  TempDir tmp;
  auto entry = [](const char *name, std::uint8_t storageClass,
                  std::uint16_t type, std::uint8_t auxCount) {
    syment sym;
    std::memcpy(sym._n_name, name, std::strlen(name));
    sym.n_scnum = 1;
    sym.n_sclass = storageClass;
    sym.n_type = type;
    sym.n_numaux = auxCount;
    return sym;
  };
  CoffBuilder()
      .processor(0x1001)
      .section(".code", kScnTypeCode)
      .words({0})
      // A function takes one auxiliary entry, whatever its bytes look like;
      // the entry after that is a symbol, whatever n_numaux says.
      .rawEntry(entry("fn", kClassExternal, 0x20, 2))
      .rawEntry(entry("aux", kClassExternal, 0, 0))
      .rawEntry(entry("second", kClassStatic, 0, 0))
      .writeTo(tmp.file("prog.cof"));
  ASSERT_EQ(runCirrow(tmp, {"-d", "prog.cof"}).exitCode, 0);
  CodFileReader cod(tmp.read("prog.cod"));
  const unsigned block = cod.symTab(0);
  ASSERT_NE(block, 0u);
  EXPECT_EQ(cod.text(block, 0), "fn");
  EXPECT_EQ(cod.text(block, 16), "second");
  EXPECT_EQ(cod.u8(block, 32), 0u); // no third symbol
}

TEST(CirrowRobustness, VeryLongSourceLineCountsAsOneLine) {
  TempDir tmp;
  std::string longLine(3000, 'x');
  tmp.write("a.asm", longLine + "\nsecond\n");
  CoffBuilder()
      .processor(0x1001)
      .fileSymbol("a.asm")
      .section(".code", kScnTypeCode)
      .words({0x0785})
      .line(2, 0, 0)
      .symbol(".eof", 0, kScnNumDebug, kClassLabel)
      .global("main", 0, ".code")
      .writeTo(tmp.file("prog.cof"));
  ASSERT_EQ(runCirrow(tmp, {"prog.cof"}).exitCode, 0);
  std::vector<std::string> rows = bodyRows(tmp.read("prog.lst"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].size(), 43 + longLine.size() + 1 + 5);
  EXPECT_EQ(rows[1],
            listRow("000000", "0785", "ADDWF     0x5,0x1", "second", "a.asm"));
}

} // namespace

// A name offset must start a string of the table: one that points into a
// string, past the first empty one or past the table ends the run as a
// missing name does.
TEST(CirrowRobustness, NameOffsetsThatStartNoStringAreFatal) {
  struct Case {
    const char *what;
    bool fileEntry; // the offset is a file entry's, not a symbol's
    std::uint32_t offset;
    const char *message;
  } cases[] = {
      {"symbol name inside a string", false, 5,
       "Error - Unable to find symbol name in string table."},
      {"symbol name past the table", false, 4000,
       "Error - Unable to find symbol name in string table."},
      {"file name inside a string", true, 6,
       "Error - Unable to find aux_file name in string table."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    CoffBuilder builder;
    builder.processor(0x1001)
        .section(".code", kScnTypeCode)
        .words({0x0785})
        .global("a_long_symbol_name", 0, ".code");
    syment entry;
    entry.setNameOffset(c.offset);
    entry.n_scnum = 1;
    entry.n_sclass = kClassExternal;
    if (c.fileEntry) {
      builder.fileSymbol("a_long_source_name.asm");
      aux_file aux;
      aux.x_offset = c.offset;
      syment file;
      std::memcpy(file._n_name, ".file", 5);
      file.n_scnum = kScnNumDebug;
      file.n_sclass = kClassFile;
      file.n_numaux = 1;
      syment auxEntry;
      writeAux(auxEntry, aux);
      builder.rawEntry(file).rawEntry(auxEntry);
    } else {
      builder.rawEntry(entry);
    }
    builder.writeTo(tmp.file("prog.cof"));
    ProcessResult run = runCirrow(tmp, {"prog.cof"});
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}
