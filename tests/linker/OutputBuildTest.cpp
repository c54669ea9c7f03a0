// The output phases on a Linker set up directly: numbering, symbols,
// contents and images, line numbers, names, headers and the file header.
#include "LinkerSetup.h"

#include <gtest/gtest.h>

#include "ByteOrder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class OutputBuild : public LinkerSetup, public ::testing::Test {};

// Two inputs with a code section and an idata section each, as the
// earlier phases leave them on the given processor.
void setUpTwoInputs(LinkerSetup &s, ProcessorId id, int withStack) {
  s.useProcessor(id);
  Memory &page = s.codePage("page", 0, 0x7FF);
  Memory &bank = s.dataBank("bank", 0x20, 0x7F);
  s.addInput(CoffBuilder()
                 .processor(procCode(id))
                 .section("code", kScnTypeCode)
                 .words({0x0001, 0x0002})
                 .section("data", kScnTypeIdata)
                 .bytes({1, 2, 3}),
             "a.o");
  s.addInput(CoffBuilder()
                 .processor(procCode(id))
                 .section("code", kScnTypeCode)
                 .words({0x0003})
                 .section("data", kScnTypeIdata)
                 .bytes({4}),
             "b.o");
  s.declare("code", kScnTypeCode, 6);
  s.declare("data", kScnTypeIdata, 4);
  s.place(page, "code", 6);
  s.place(page, "data_i", s.linker.cRomWidthBits % 8 ? 8 : 4);
  s.place(page, ".cinit", 16);
  s.place(bank, "data", 4);
  if (withStack) {
    s.linker.cStackDescSet = 1;
    s.linker.cStackDesc = StackDesc(8, "");
    s.place(bank, ".stack", 8);
  }
  s.linker.cInitTable = Data(2, std::vector<std::uint8_t>{0x01, 0x00}.data());
  s.loadAll();
}

TEST_F(OutputBuild, NumbersSectionsByFirstAppearanceWithImageAfterSection) {
  setUpTwoInputs(*this, kTrellId, 1);
  buildOutput();
  const std::map<int, std::string> expected = {
      {1, "code"}, {2, "data"}, {3, "data_i"}, {4, ".cinit"}, {5, ".stack"}};
  EXPECT_EQ(linker.cOutput.cScnNum, expected);
}

TEST_F(OutputBuild, LeavesOutTheStackWithoutStackDirective) {
  setUpTwoInputs(*this, kTrellId, 0);
  buildOutput();
  EXPECT_EQ(linker.cOutput.cScnNum.size(), 4u);
  EXPECT_EQ(linker.cOutput.cScnNum.at(4), ".cinit");
  EXPECT_EQ(linker.cOutput.cRawData.count(".stack"), 0u);
}

TEST_F(OutputBuild, CopiesEveryPieceAtItsLoadOffset) {
  setUpTwoInputs(*this, kTrellId, 1);
  buildOutput();
  EXPECT_EQ(outputBytes("code"), (Bytes{1, 0, 2, 0, 3, 0}));
  EXPECT_EQ(outputBytes("data"), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(outputBytes(".stack"), Bytes(8, 0));
}

TEST_F(OutputBuild, MakesInitialDataImagesForEachFamily) {
  struct Case {
    ProcessorId id;
    Bytes image;
    Bytes cinit;
  };
  const Case cases[] = {
      {kTrellId, {1, 0x34, 2, 0x34, 3, 0x34, 4, 0x34}, {1, 0x34, 0, 0x34}},
      {kVeskId, {1, 0x08, 2, 0x08, 3, 0x08, 4, 0x08}, {1, 0x08, 0, 0x08}},
      {kBraskId, {1, 2, 3, 4}, {1, 0}},
      {kQuolmId, {1, 2, 3, 4}, {1, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(procName(c.id));
    LinkerSetup fixture;
    setUpTwoInputs(fixture, c.id, 0);
    fixture.buildOutput();
    EXPECT_EQ(fixture.outputBytes("data_i"), c.image);
    EXPECT_EQ(fixture.outputBytes(".cinit"), c.cinit);
  }
}

TEST_F(OutputBuild, KeepsPiecesThatRoundingPlacedBeyondTheMergedSize) {
  useProcessor(kTrellId);
  Memory &page = codePage("page", 0, 0xFF);
  // 3 bytes take two 2-byte locations, so the next piece starts at byte 4.
  addInput(CoffBuilder().section("code", kScnTypeCode).bytes({0xA, 0xB, 0xC}),
           "a.o");
  addInput(CoffBuilder().section("code", kScnTypeCode).bytes({0xD, 0xE}),
           "b.o");
  declare("code", kScnTypeCode, 5);
  place(page, "code", 6);
  place(page, ".cinit", 4);
  loadAll();
  buildOutput();
  EXPECT_EQ(outputBytes("code"), (Bytes{0xA, 0xB, 0xC, 0, 0xD, 0xE}));
}

TEST_F(OutputBuild, OverlayPiecesOverwriteInInputOrder) {
  useProcessor(kBraskId);
  Memory &page = codePage("page", 0, 0xFF);
  Memory &bank = dataBank("bank", 0, 0xFF);
  addInput(CoffBuilder().section("ovr", kScnTypeIdata).bytes({1, 2, 3, 4}),
           "a.o");
  addInput(CoffBuilder().section("ovr", kScnTypeIdata).bytes({9, 8}), "b.o");
  declare("ovr", kScnTypeIdata, 4);
  place(bank, "ovr", 4, 1);
  place(page, "ovr_i", 4);
  place(page, ".cinit", 2);
  loadAll();
  buildOutput();
  EXPECT_EQ(outputBytes("ovr"), (Bytes{9, 8, 3, 4}));
  EXPECT_EQ(outputBytes("ovr_i"), (Bytes{9, 8, 3, 4}));
}

TEST_F(OutputBuild, MovesSymbolsToOutputSectionNumbersAndIndexes) {
  useProcessor(kTrellId);
  Memory &page = codePage("page", 0, 0xFF);
  CoffBuilder first;
  first.section("code", kScnTypeCode).words({0});
  for (int i = 0; i < 39; ++i)
    first.symbol("s" + std::to_string(i), i, kScnNumAbsolute, kClassStatic);
  first.symbol("last", 0, 1, kClassStatic);
  addInput(first, "a.o");
  // Sections in the other order: this input's section 2 is output 1.
  addInput(CoffBuilder()
               .section("rom", kScnTypeRomdata)
               .bytes({1, 2})
               .section("code", kScnTypeCode)
               .words({0})
               .function("f", 0, "code")
               .aux(aux_fcn{0, 4, 0, 5})
               .global("r", 0, "rom")
               .external("ext"),
           "b.o");
  declare("code", kScnTypeCode, 4);
  declare("rom", kScnTypeRomdata, 2);
  place(page, "code", 4);
  place(page, "rom", 2);
  place(page, ".cinit", 4);
  loadAll();
  buildOutput();

  const std::vector<syment> &table = linker.cOutput.cSymbolTbl;
  ASSERT_EQ(table.size(), 44u);
  EXPECT_EQ(table[0].n_scnum, kScnNumAbsolute);
  EXPECT_EQ(table[39].n_scnum, 1); // "last" in code
  EXPECT_EQ(table[40].n_scnum, 1); // "f" in code
  const aux_fcn aux = readAux<aux_fcn>(table[41]);
  EXPECT_EQ(aux.x_tagndx, 40u); // based even when it was 0
  EXPECT_EQ(aux.x_endndx, 45u);
  EXPECT_EQ(aux.x_size, 4u);
  EXPECT_EQ(linker.cOutput.cAuxType[41], kAuxFcn);
  EXPECT_EQ(table[42].n_scnum, 2); // "r" in rom
  EXPECT_EQ(table[43].n_scnum, kScnNumUndefined);
  EXPECT_EQ(linker.cSymIndexBase.at(0), 0u);
  EXPECT_EQ(linker.cSymIndexBase.at(1), 40u);
}

TEST_F(OutputBuild, AddsTheBaseToTheIndexFieldsOfEachAuxKind) {
  struct Case {
    const char *what;
    const char *name;
    std::uint8_t sclass;
    std::uint16_t type;
    std::uint32_t tagndx; // expected, from 1
    std::uint32_t endndx; // expected, from 2
  };
  const Case cases[] = {
      {"tag", "tag", kClassStructTag, 0, 1, 12},
      {"end of struct", "eos", kClassEndOfStruct, 0, 11, 2},
      {"function", "fn", kClassExternal, 0x20, 11, 12},
      {"array", "arr", kClassStatic, 0x30, 11, 2},
      {"block begin", ".bf", kClassFunction, 0, 1, 12},
      {"block end", ".ef", kClassFunction, 0, 1, 2},
      {"struct variable", "var", kClassStatic, 8, 11, 2},
      {"file", ".file", kClassFile, 0, 1, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    LinkerSetup fixture;
    fixture.useProcessor(kTrellId);
    Memory &page = fixture.codePage("page", 0, 0xFF);
    CoffBuilder first;
    for (int i = 0; i < 10; ++i)
      first.symbol("s" + std::to_string(i), 0, kScnNumDebug, kClassStatic);
    fixture.addInput(first, "a.o");
    fixture.addInput(CoffBuilder()
                         .symbol(c.name, 0, kScnNumDebug, c.sclass, c.type)
                         .aux(aux_fcn{1, 0, 0, 2}),
                     "b.o");
    fixture.place(page, ".cinit", 4);
    fixture.buildOutput();
    const aux_fcn aux = readAux<aux_fcn>(fixture.linker.cOutput.cSymbolTbl[11]);
    EXPECT_EQ(aux.x_tagndx, c.tagndx);
    EXPECT_EQ(aux.x_endndx, c.endndx);
  }
}

TEST_F(OutputBuild, MovesLineNumbersOfCodeSectionsOnlyByInputPosition) {
  useProcessor(kTrellId);
  Memory &page = codePage("page", 0, 0xFF);
  addInput(CoffBuilder()
               .section("code", kScnTypeCode)
               .words({0})
               .line(7, 0, 0, 1, kLineHasFcnNdx)
               .symbol("a", 0, 1, kClassStatic)
               .symbol("b", 0, 1, kClassStatic)
               .symbol("c", 0, 1, kClassStatic),
           "a.o");
  addInput(CoffBuilder()
               .section("code", kScnTypeCode)
               .words({0})
               .line(9, 0x21, 1, 2, kLineHasFcnNdx)
               .section("rom", kScnTypeRomdata)
               .bytes({0, 0})
               .line(3, 0x40, 0, 0)
               .symbol("d", 0, 1, kClassStatic),
           // Two inputs may carry one name (library members).
           "a.o");
  declare("code", kScnTypeCode, 4);
  declare("rom", kScnTypeRomdata, 2);
  place(page, "code", 4);
  place(page, "rom", 2);
  place(page, ".cinit", 4);
  loadAll();
  buildOutput();

  const auto &lines = linker.cOutput.cLineNum.at("code");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].l_srcndx, 0u);
  EXPECT_EQ(lines[0].l_fcnndx, 1u);
  EXPECT_EQ(lines[1].l_lnno, 9u);
  EXPECT_EQ(lines[1].l_paddr, 0x21u);
  EXPECT_EQ(lines[1].l_srcndx, 4u);
  EXPECT_EQ(lines[1].l_fcnndx, 5u);
  EXPECT_EQ(lines[1].l_flags, kLineHasFcnNdx);
  EXPECT_EQ(linker.cOutput.cLineNum.count("rom"), 0u);
}

TEST_F(OutputBuild, StripLeavesNoSymbolsNoLinesAndMarksTheFile) {
  for (int strip : {0, 1}) {
    SCOPED_TRACE(strip);
    LinkerSetup fixture;
    setUpTwoInputs(fixture, kTrellId, 0);
    fixture.linker.cCoff[0]->cLineNum["code"].push_back(coff_lineno());
    fixture.linker.cCoff[0]->cSymbolTbl.push_back(syment());
    fixture.linker.cStrip = strip;
    fixture.buildOutput();
    const Coff &output = fixture.linker.cOutput;
    EXPECT_EQ(output.cSymbolTbl.empty(), strip == 1);
    EXPECT_EQ(output.cLineNum.empty(), strip == 1);
    EXPECT_EQ(fixture.linker.cSymIndexBase.empty(), strip == 1);
    EXPECT_EQ(output.cFileHdr.f_flags, strip ? 0x0086 : 0x0002);
  }
}

TEST_F(OutputBuild, EntersLongImageNamesBeforeTheHeadersNeedThem) {
  useProcessor(kTrellId);
  Memory &page = codePage("page", 0, 0xFF);
  Memory &bank = dataBank("bank", 0x20, 0x7F);
  linker.cOutput.cStringTbl[4] = "longname";
  addInput(CoffBuilder()
               .section("longname", kScnTypeIdata)
               .bytes({5})
               .section("abc", kScnTypeIdata)
               .bytes({6}),
           "a.o");
  declare("longname", kScnTypeIdata, 1);
  declare("abc", kScnTypeIdata, 1);
  place(bank, "longname", 1);
  place(bank, "abc", 1);
  place(page, "longname_i", 2);
  place(page, "abc_i", 2);
  place(page, ".cinit", 4);
  loadAll();
  buildOutput();

  const std::map<int, std::string> strings = {{4, "longname"},
                                              {13, "longname_i"}};
  EXPECT_EQ(linker.cOutput.cStringTbl, strings);
  const scnhdr &image = linker.cOutput.cScnHdr.at("longname_i");
  EXPECT_EQ(Coff::getName(image, linker.cOutput.cStringTbl), "longname_i");
  EXPECT_FALSE(linker.cOutput.cScnHdr.at("abc_i").hasLongName());
}

TEST_F(OutputBuild, GivesHeadersAddressesAndFlags) {
  useProcessor(kBraskId);
  Memory &page = codePage("page", 0x100, 0x1FF);
  Memory &bank = dataBank("bank", 0x20, 0x7F);
  addInput(CoffBuilder()
               .section("abs", kScnTypeCode)
               .at(0x180)
               .words({1})
               .section("shr", kScnTypeUdata, kScnShared)
               .zeros(2)
               .section("acc", kScnTypeIdata, kScnAccess)
               .bytes({1}),
           "a.o");
  declare("abs", kScnTypeCode, 2, 1);
  declare("shr", kScnTypeUdata, 2, 0, 1);
  declare("acc", kScnTypeIdata, 1, 0, 0, 1);
  placeAt(page, "abs", 0x180, 2);
  place(page, "acc_i", 1);
  place(page, ".cinit", 2);
  place(bank, "shr", 2);
  place(bank, "acc", 1);
  linker.cStackDescSet = 1;
  linker.cStackDesc = StackDesc(4, "");
  place(bank, ".stack", 4);
  loadAll();
  buildOutput();

  struct Case {
    const char *name;
    std::uint32_t paddr;
    std::uint32_t flags;
  };
  const Case cases[] = {
      {"abs", 0x180, kScnCode | kScnAbsolute},
      {"shr", bank.getSectionStart("shr"), kScnUdata | kScnShared},
      {"acc", bank.getSectionStart("acc"), kScnIdata | kScnAccess},
      {"acc_i", page.getSectionStart("acc_i"), kScnRomdata},
      {".cinit", page.getSectionStart(".cinit"), kScnRomdata},
      {".stack", bank.getSectionStart(".stack"), kScnUdata},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const scnhdr &hdr = linker.cOutput.cScnHdr.at(c.name);
    EXPECT_EQ(Coff::getName(hdr, linker.cOutput.cStringTbl), c.name);
    EXPECT_EQ(hdr.s_paddr, c.paddr);
    EXPECT_EQ(hdr.s_vaddr, 0u);
    EXPECT_EQ(hdr.s_flags, c.flags);
  }
}

TEST_F(OutputBuild, FillsTheFileHeaderFromProcessorAndFirstInput) {
  setUpTwoInputs(*this, kQuolmId, 0);
  linker.cCoff[0]->cOptHdr.magic = 0x5678;
  linker.cCoff[0]->cOptHdr.vstamp = 3;
  linker.cOutputFile = "out.cof";
  buildOutput();
  const Coff &output = linker.cOutput;
  EXPECT_EQ(output.cFileHdr.f_opthdr, 16);
  EXPECT_EQ(output.cOptHdr.magic, 0x5678);
  EXPECT_EQ(output.cOptHdr.vstamp, 3);
  EXPECT_EQ(output.cOptHdr.proc_type, procCode(kQuolmId));
  EXPECT_EQ(output.cOptHdr.rom_width_bits, 8u);
  EXPECT_EQ(output.cOptHdr.ram_width_bits, 8u);
  EXPECT_EQ(output.cFileName, "out.cof");
}

TEST_F(OutputBuild, CountsProgramMemoryOfAllCodePagesIn32Bits) {
  useProcessor(kQuolmId);
  codePage("a", 0, 0xFFFF);
  codePage("b", 0x10000, 0x2FFFF);
  dataBank("bank", 0, 0xFF);
  EXPECT_EQ(linker.programMemorySize(), 0x30000u);
}

} // namespace
