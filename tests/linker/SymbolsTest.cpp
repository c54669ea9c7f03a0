// Section loading, symbol and line relocation, string-table merge and
// external resolution, on inputs built with the test object builder.
#include "LinkerFixture.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

class SymbolsTest : public LinkerFixture {
protected:
  void SetUp() override {
    processor(kTrellId, 14);
    page("page0", 0, 0xFF);
    bank(link->cDataBanks, "bank0", 0x20, 0x7F);
  }
  CoffBuilder object() const {
    CoffBuilder builder;
    builder.processor(0x1001);
    return builder;
  }
};

TEST_F(SymbolsTest, LaysPiecesOutInInputOrderAndOverlaysAtTheStart) {
  input("a.o", object()
                   .section(".data", kScnTypeUdata)
                   .zeros(4)
                   .section("ov", kScnTypeUdata, kScnOverlay)
                   .zeros(2));
  input("b.o", object()
                   .section(".data", kScnTypeUdata)
                   .zeros(4)
                   .symbolIn("b_var", 1, ".data", kClassStatic)
                   .section("ov", kScnTypeUdata, kScnOverlay)
                   .zeros(3)
                   .symbolIn("b_ov", 2, "ov", kClassLabel));
  ASSERT_EQ(place(), 1) << error;
  const Memory &bank = *link->cScnMem.at(".data");
  const std::uint32_t data = bank.getSectionStart(".data");
  EXPECT_EQ(bank.getLoadStart(0, ".data"), data);
  EXPECT_EQ(bank.getLoadStart(1, ".data"), data + 4);
  const std::uint32_t ov = bank.getSectionStart("ov");
  EXPECT_EQ(bank.getSectionSize("ov"), 3u);
  EXPECT_EQ(bank.getLoadStart(0, "ov"), ov);
  EXPECT_EQ(bank.getLoadStart(1, "ov"), ov);
  ASSERT_EQ(resolve(), 1) << error;
  EXPECT_EQ(symbolOf(1, "b_var").n_value, data + 4 + 1);
  EXPECT_EQ(symbolOf(1, "b_ov").n_value, ov + 2);
}

TEST_F(SymbolsTest, ManySectionsLoadAndTheFirstMisfitInInputOrderIsReported) {
  // Enough sections to be loaded on several threads: each keeps its pieces
  // in input order, and of two pieces that outgrow their space the one an
  // input-by-input walk meets first is named.
  for (int withMisfits = 0; withMisfits < 2; ++withMisfits) {
    SCOPED_TRACE(withMisfits);
    reset();
    SetUp();
    bank(link->cDataBanks, "bank1", 0x100, 0x7FF);
    for (int i = 0; i < 200; ++i)
      input("in" + std::to_string(i) + ".o",
            object()
                .section(".data", kScnTypeUdata)
                .zeros(1)
                .section("own" + std::to_string(i), kScnTypeUdata)
                .zeros(1)
                .build());
    ASSERT_EQ(map(), 1) << error;
    if (withMisfits) {
      link->cCoff[150]->cScnHdr.at(".data").s_size = 2;
      link->cCoff[120]->cScnHdr.at("own120").s_size = 2;
    }
    EXPECT_EQ(link->loadSections(error), withMisfits ? 0 : 1);
    if (withMisfits) {
      EXPECT_EQ(error, "section 'own120' of file 'in120.o' does not fit the "
                       "space allocated for it.");
      continue;
    }
    const Memory &bank = *link->cScnMem.at(".data");
    const std::uint32_t data = bank.getSectionStart(".data");
    for (InputIndex i = 0; i < 200; ++i)
      EXPECT_EQ(bank.getLoadStart(i, ".data"), data + i);
  }
}

TEST_F(SymbolsTest, AbsoluteOverlayPiecesKeepTheirOwnSize) {
  input("a.o",
        object().section("abs", kScnTypeUdata, kScnOverlay).at(0x30).zeros(4));
  input("b.o", object()
                   .section("abs", kScnTypeUdata, kScnOverlay)
                   .at(0x30)
                   .zeros(2)
                   .symbolIn("x", 0x31, "abs", kClassStatic));
  ASSERT_EQ(place(), 1) << error;
  const Memory &bank = *link->cScnMem.at("abs");
  EXPECT_EQ(bank.getLoadSize(0, "abs"), 4u);
  EXPECT_EQ(bank.getLoadSize(1, "abs"), 2u);
  ASSERT_EQ(resolve(), 1) << error;
  EXPECT_EQ(symbolOf(1, "x").n_value, 0x31u); // stays where it was declared
}

TEST_F(SymbolsTest, MovesOnlyRelocatableClassesAndCodeLines) {
  input("pad.o", object().section(".code", kScnTypeCode).words({0, 0}));
  input("a.o", object()
                   .section(".code", kScnTypeCode)
                   .words({0, 0, 0})
                   .line(7, 1)
                   .section(".data", kScnTypeUdata)
                   .zeros(2)
                   .line(8, 1)
                   .symbolIn("fn", 1, ".code", kClassFunction)
                   .symbolIn("blk", 2, ".code", kClassBlock)
                   .symbolIn("eos", 5, ".code", kClassEndOfStruct)
                   .symbol("abs", 9, kScnNumAbsolute, kClassStatic));
  ASSERT_EQ(place(), 1) << error;
  const std::uint32_t code =
      link->cScnMem.at(".code")->getSectionStart(".code");
  ASSERT_EQ(resolve(), 1) << error;
  // The second input's piece starts two words into the section.
  EXPECT_EQ(symbolOf(1, "fn").n_value, code + 2 + 1);
  EXPECT_EQ(symbolOf(1, "blk").n_value, code + 2 + 2);
  EXPECT_EQ(symbolOf(1, "eos").n_value, 5u);
  EXPECT_EQ(symbolOf(1, "abs").n_value, 9u);
  EXPECT_EQ(link->cCoff[1]->cLineNum.at(".code")[0].l_paddr, code + 2 + 1);
  EXPECT_EQ(link->cCoff[1]->cLineNum.at(".data")[0].l_paddr, 1u);
}

TEST_F(SymbolsTest, MergedStringTableSharesStringsInAscendingOrder) {
  input("a.o", object()
                   .fileSymbol("source_a.asm")
                   .section(".code", kScnTypeCode)
                   .words({0})
                   .global("shared_long_name", 0, ".code"));
  syment bareFile;
  Coff::setName(bareFile, {}, ".file");
  bareFile.n_sclass = kClassFile;
  input("b.o", object()
                   .rawEntry(bareFile) // no file auxiliary entry follows
                   .external("shared_long_name")
                   .external("zz_other_long_one"));
  input("c.o", object()
                   .section(".code", kScnTypeCode)
                   .words({0})
                   .global("zz_other_long_one", 0, ".code"));
  ASSERT_EQ(place(), 1) << error;
  ASSERT_EQ(resolve(), 1) << error;
  const std::map<int, std::string> expected = {
      {4, "shared_long_name"}, {21, "source_a.asm"}, {34, "zz_other_long_one"}};
  EXPECT_EQ(link->cOutput.cStringTbl, expected);
  EXPECT_EQ(symbolOf(0, "shared_long_name").nameOffset(), 4u);
  EXPECT_EQ(symbolOf(1, "shared_long_name").nameOffset(), 4u);
  EXPECT_EQ(symbolOf(2, "zz_other_long_one").nameOffset(), 34u);
  const Coff &a = *link->cCoff[0];
  EXPECT_EQ(readAux<aux_file>(a.cSymbolTbl[1]).x_offset, 21u);
  EXPECT_EQ(symbolOf(1, "shared_long_name").n_value,
            symbolOf(0, "shared_long_name").n_value);
}

TEST_F(SymbolsTest, MergesManyTablesAsOneOrderedSetWould) {
  // Enough strings for the merge to split its sort: names shared by
  // several inputs, names that agree in their first 16 bytes and differ
  // later or in length, and a 16-byte name that begins a longer one.
  std::set<std::string> all;
  std::vector<std::vector<std::string>> names(150);
  for (std::size_t input = 0; input < names.size(); ++input) {
    for (int k = 0; k < 250; ++k) {
      const int shared = static_cast<int>((input * 7 + k * 13) % 9000);
      std::string name;
      switch (k % 4) {
      case 0:
        name = "short_name_" + std::to_string(shared);
        break;
      case 1:
        name = "a_common_prefix_" + std::to_string(shared);
        break;
      case 2:
        name = "a_common_prefix_" + std::string(1 + shared % 5, 'z');
        break;
      default:
        name = "own_name_" + std::to_string(input) + "_" + std::to_string(k);
      }
      names[input].push_back(name);
    }
    names[input].push_back("a_common_prefix_");
    for (const std::string &name : names[input])
      all.insert(name);
  }
  for (const auto &inputNames : names) {
    CoffBuilder builder = object();
    for (const std::string &name : inputNames)
      builder.external(name);
    input("in.o", builder);
  }
  ASSERT_GT(all.size(), 10000u);
  link->mergeStringTbls(error);
  std::map<int, std::string> expected;
  std::map<std::string, std::uint32_t> offsetOf;
  std::uint32_t offset = 4;
  for (const std::string &name : all) {
    expected.emplace(static_cast<int>(offset), name);
    offsetOf[name] = offset;
    offset += static_cast<std::uint32_t>(name.size()) + 1;
  }
  EXPECT_EQ(link->cOutput.cStringTbl, expected);
  for (std::size_t input = 0; input < names.size(); ++input) {
    SCOPED_TRACE(input);
    const Coff &coff = *link->cCoff[input];
    std::size_t at = 0;
    for (std::size_t i = 0; i < coff.cSymbolTbl.size();
         i += 1 + coff.cSymbolTbl[i].n_numaux, ++at) {
      const syment &sym = coff.cSymbolTbl[i];
      ASSERT_LT(at, names[input].size());
      EXPECT_EQ(sym.nameOffset(), offsetOf.at(names[input][at]));
      EXPECT_EQ(Coff::getName(sym, coff.cStringTbl), names[input][at]);
    }
  }
}

TEST_F(SymbolsTest, MovesTheOffsetOfALongFileName) {
  // A ".file" entry whose name sits in the string table, with no
  // auxiliary entry: its name must follow the merged table too.
  syment longFile;
  longFile.setNameOffset(200);
  longFile.n_sclass = kClassFile;
  CoffBuilder builder = object();
  const std::uint32_t index = builder.nextSymbolIndex();
  builder.rawEntry(longFile)
      .section(".code", kScnTypeCode)
      .words({0})
      .global("a_long_symbol_name", 0, ".code");
  Coff coff = builder.build();
  coff.cStringTbl[200] = ".file";
  input("a.o", coff);
  ASSERT_EQ(place(), 1) << error;
  ASSERT_EQ(resolve(), 1) << error;
  const Coff &a = *link->cCoff[0];
  EXPECT_EQ(a.cSymbolTbl[index].nameOffset(), 4u);
  EXPECT_EQ(Coff::getName(a.cSymbolTbl[index], a.cStringTbl), ".file");
}

TEST_F(SymbolsTest, ResolvesSectionReferencesAndLinkerSymbols) {
  link->cStackDescSet = 1;
  link->cStackDesc = StackDesc(6, "");
  input("a.o", object()
                   .section("buf", kScnTypeUdata)
                   .zeros(3)
                   .external(".buf")
                   .external("_stack")
                   .external("_stksize")
                   .external("_cinit"));
  ASSERT_EQ(place(), 1) << error;
  ASSERT_EQ(resolve(), 1) << error;
  EXPECT_EQ(symbolOf(0, ".buf").n_value,
            link->cScnMem.at("buf")->getSectionStart("buf"));
  EXPECT_EQ(symbolOf(0, "_stack").n_value,
            link->cScnMem.at(".stack")->getSectionStart(".stack"));
  EXPECT_EQ(symbolOf(0, "_stksize").n_value, 6u);
  EXPECT_EQ(symbolOf(0, "_cinit").n_value,
            link->cScnMem.at(".cinit")->getSectionStart(".cinit"));
}

TEST_F(SymbolsTest, ReportsUnresolvedAndDuplicateSymbols) {
  struct Case {
    const char *what;
    int withStack;
    CoffBuilder first, second;
    std::string text;
  };
  const CoffBuilder defines = object()
                                  .section(".code", kScnTypeCode)
                                  .words({0})
                                  .global("twice", 0, ".code");
  const std::vector<Case> cases = {
      {"duplicate", 0, defines, defines,
       "symbol 'twice' has multiple definitions."},
      {"linker's own symbol", 0, defines,
       object().section("x", kScnTypeCode).words({0}).global("_cinit", 0, "x"),
       "symbol '_cinit' has multiple definitions."},
      {"stack symbol", 1, defines,
       object().section("x", kScnTypeCode).words({0}).global("_stack", 0, "x"),
       "symbol '_stack' has multiple definitions."},
      {"unresolved", 0, defines, object().external("missing"),
       "could not resolve symbol 'missing' in file 'second.o'."},
      {"stack without directive", 0, defines, object().external("_stksize"),
       "could not resolve symbol '_stksize' in file 'second.o'."},
      {"section reference", 0, defines, object().external(".nowhere"),
       "could not resolve section reference 'nowhere' in file 'second.o'."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    SetUp();
    link->cStackDescSet = c.withStack;
    link->cStackDesc = StackDesc(2, "");
    input("first.o", c.first);
    input("second.o", c.second);
    ASSERT_EQ(place(), 1) << error;
    EXPECT_EQ(resolve(), 0);
    EXPECT_EQ(error, c.text);
  }
}

TEST_F(SymbolsTest, ManyInputsResolveAndReportTheFirstFailureInInputOrder) {
  // Enough inputs for the work to be shared among threads: every input
  // resolves its own references, and of two failing inputs the earlier
  // one is named whichever finishes first.
  for (int withFailures = 0; withFailures < 2; ++withFailures) {
    SCOPED_TRACE(withFailures);
    reset();
    SetUp();
    input("defs.o", object()
                        .section("text", kScnTypeCode)
                        .words({0, 0, 0})
                        .global("shared", 2, "text"));
    for (int i = 1; i < 200; ++i) {
      CoffBuilder user = object().external("shared").external(".text");
      if (withFailures && i == 120)
        user.external("missing_120");
      if (withFailures && i == 150)
        user.external("missing_150");
      input("user" + std::to_string(i) + ".o", user);
    }
    ASSERT_EQ(place(), 1) << error;
    const std::uint32_t text =
        link->cScnMem.at("text")->getSectionStart("text");
    if (withFailures) {
      EXPECT_EQ(resolve(), 0);
      EXPECT_EQ(error, "could not resolve symbol 'missing_120' in file "
                       "'user120.o'.");
      continue;
    }
    ASSERT_EQ(resolve(), 1) << error;
    for (InputIndex i = 1; i < 200; ++i) {
      EXPECT_EQ(symbolOf(i, "shared").n_value, text + 2);
      EXPECT_EQ(symbolOf(i, ".text").n_value, text);
    }
  }
}

TEST_F(SymbolsTest, ManyInputsReportTheRepeatedDefinitionMetFirst) {
  // Names defined twice among many inputs: the repeat an input-by-input
  // walk meets first is named, the linker's own symbols counting as the
  // first definitions.
  for (int i = 0; i < 200; ++i) {
    CoffBuilder definer =
        object().section("t" + std::to_string(i), kScnTypeCode).words({0});
    definer.global("own" + std::to_string(i), 0, "t" + std::to_string(i));
    if (i == 60 || i == 170)
      definer.global("twice", 0, "t" + std::to_string(i));
    if (i == 100)
      definer.global("_cinit", 0, "t100");
    input("d" + std::to_string(i) + ".o", definer);
  }
  ASSERT_EQ(place(), 1) << error;
  EXPECT_EQ(resolve(), 0);
  EXPECT_EQ(error, "symbol '_cinit' has multiple definitions.");
  // Every name met before the repeat is entered, none after it.
  EXPECT_EQ(link->cExtSymDef.count("own99"), 1u);
  EXPECT_EQ(link->cExtSymDef.count("twice"), 1u);
  EXPECT_EQ(link->cExtSymDef.count("own100"), 1u); // before "_cinit"
  EXPECT_EQ(link->cExtSymDef.count("own101"), 0u);
  EXPECT_EQ(link->cExtSymDef.count("own150"), 0u);
}

TEST_F(SymbolsTest, ResolvesManySymbolsQuickly) {
  // Guards against per-symbol scans of the definitions, the sections or
  // the string tables. The entries are added directly: the builder itself
  // is not made for tables this large.
  Coff defs = object().section(".code", kScnTypeCode).words({0}).build();
  Coff refs = object().build();
  std::uint32_t offset = 4;
  for (int i = 0; i < 30000; ++i) {
    const std::string name = "symbol_number_" + std::to_string(i);
    syment sym;
    sym.setNameOffset(offset);
    sym.n_sclass = kClassExternal;
    for (Coff *coff : {&defs, &refs}) {
      sym.n_scnum = coff == &defs ? 1 : 0;
      coff->cStringTbl[static_cast<int>(offset)] = name;
      coff->cSymbolTbl.push_back(sym);
      coff->cAuxType.push_back(kAuxNone);
    }
    offset += static_cast<std::uint32_t>(name.size()) + 1;
  }
  input("defs.o", defs);
  input("refs.o", refs);
  ASSERT_EQ(place(), 1) << error;
  ASSERT_EQ(resolve(), 1) << error;
  EXPECT_EQ(link->cExtSymDef.size(), 30001u);
}

} // namespace
