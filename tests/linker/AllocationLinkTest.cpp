// Placement, the stack, the initialisation table and symbol resolution
// through the linker program, reading the linked file back.
#include "CoffBuilder.h"
#include "LinkerRun.h"

#include "ByteOrder.h"

#include <memory>

namespace {

constexpr std::uint16_t kTrellCode = 0x1001; // 14-bit words
constexpr std::uint16_t kQuolmCode = 0x4001; // byte-addressed program memory

class AllocationLinkTest : public LinkerRun {
protected:
  CoffBuilder trell() const {
    CoffBuilder builder;
    builder.processor(kTrellCode);
    return builder;
  }
  // Links the named objects with a command file holding lkr; 1 on exit 0.
  ProcessResult run(const std::vector<std::string> &objects,
                    const std::string &lkr) {
    cDir.write("t.lkr", lkr);
    std::vector<std::string> args = objects;
    args.insert(args.end(), {"t.lkr", "/o", "out.cof", "/q"});
    return link(args);
  }
  std::unique_ptr<Coff> output() { return Coff::make(cDir.file("out.cof")); }
  static std::uint32_t start(const Coff &coff, const std::string &name) {
    const auto it = coff.cScnHdr.find(name);
    EXPECT_NE(it, coff.cScnHdr.end()) << name;
    return it == coff.cScnHdr.end() ? 0xFFFFFFFF : it->second.s_paddr;
  }
  static const syment *symbol(const Coff &coff, const std::string &name) {
    const std::vector<syment> &table = coff.cSymbolTbl;
    for (std::size_t i = 0; i < table.size(); i += 1 + table[i].n_numaux)
      if (Coff::getName(table[i], coff.cStringTbl) == name)
        return &table[i];
    return nullptr;
  }
};

const char *const kTwoPagesTwoBanks =
    "CODEPAGE NAME=page0 START=0x0 END=0xFF\n"
    "CODEPAGE NAME=page1 START=0x100 END=0x11F\n"
    "DATABANK NAME=big START=0x20 END=0x5F\n"
    "DATABANK NAME=small START=0xA0 END=0xAF\n";

TEST_F(AllocationLinkTest, PlacesEachSectionByBestFit) {
  cDir.write("a.o", trell()
                        .section("wide", kScnTypeCode)
                        .words(std::vector<std::uint16_t>(0x40, 0))
                        .section("narrow", kScnTypeCode)
                        .words(std::vector<std::uint16_t>(0x10, 0))
                        .section("twelve", kScnTypeUdata)
                        .zeros(12)
                        .section("twenty", kScnTypeUdata)
                        .zeros(20)
                        .fileBytes());
  const ProcessResult result = run({"a.o"}, kTwoPagesTwoBanks);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto out = output();
  ASSERT_TRUE(out);
  EXPECT_EQ(start(*out, "wide"), 0u); // only page0 can take it
  // The table goes before the sections without directive.
  EXPECT_EQ(start(*out, ".cinit"), 0x100u);
  EXPECT_EQ(start(*out, "narrow"), 0x102u);
  EXPECT_EQ(start(*out, "twelve"), 0xA0u);
  EXPECT_EQ(start(*out, "twenty"), 0x20u);
}

TEST_F(AllocationLinkTest, HonoursDirectivesAndAbsoluteAddresses) {
  cDir.write("a.o", trell()
                        .section("fixed", kScnTypeCode)
                        .at(0x10)
                        .words({1, 2})
                        .section("named", kScnTypeCode)
                        .words({3})
                        .section("other", kScnTypeCode)
                        .words({4})
                        .fileBytes());
  const ProcessResult result =
      run({"a.o"}, std::string(kTwoPagesTwoBanks) +
                       "CODEPAGE NAME=prot START=0x200 END=0x20F PROTECTED\n"
                       "SECTION NAME=named ROM=prot\n");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto out = output();
  ASSERT_TRUE(out);
  EXPECT_EQ(start(*out, "fixed"), 0x10u);
  EXPECT_EQ(start(*out, "named"), 0x200u);
  // The smaller page has the smaller largest hole; the table came first.
  EXPECT_EQ(start(*out, "other"), 0x102u);
}

TEST_F(AllocationLinkTest, ReportsAbsoluteConflicts) {
  cDir.write("a.o", trell()
                        .section("one", kScnTypeCode)
                        .at(0x10)
                        .words({1, 2})
                        .section("two", kScnTypeCode)
                        .at(0x11)
                        .words({3})
                        .fileBytes());
  cDir.write("t.lkr", kTwoPagesTwoBanks);
  const ProcessResult result = link({"a.o", "t.lkr"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_FALSE(cDir.exists("a.out"));
  EXPECT_EQ(result.err, "Error - section 'two' can not fit the absolute "
                        "section. Section 'two' start=0x00000011, "
                        "length=0x00000002\n");
}

TEST_F(AllocationLinkTest, SharesOverlaysAndSharedSections) {
  cDir.write("a.o", trell()
                        .section("ov", kScnTypeUdata, kScnOverlay)
                        .zeros(4)
                        .section("sh", kScnTypeUdata, kScnShared)
                        .zeros(2)
                        .fileBytes());
  cDir.write("b.o", trell()
                        .section("ov", kScnTypeUdata, kScnOverlay)
                        .zeros(6)
                        .symbolIn("in_b", 5, "ov", kClassStatic)
                        .fileBytes());
  const ProcessResult result =
      run({"a.o", "b.o"}, std::string(kTwoPagesTwoBanks) +
                              "SHAREBANK NAME=common START=0x70 END=0x7F\n");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto out = output();
  ASSERT_TRUE(out);
  EXPECT_EQ(out->cScnHdr.at("ov").s_size, 6u);
  EXPECT_EQ(start(*out, "sh"), 0x70u);
  const syment *inB = symbol(*out, "in_b");
  ASSERT_NE(inB, nullptr);
  EXPECT_EQ(inB->n_value, start(*out, "ov") + 5);
}

TEST_F(AllocationLinkTest, PlacesTheStackWhereTheDirectiveSays) {
  cDir.write("a.o",
             trell().external("_stack").external("_stksize").fileBytes());
  for (const std::string ram : {"", "big"}) {
    SCOPED_TRACE(ram);
    const ProcessResult result =
        run({"a.o"}, std::string(kTwoPagesTwoBanks) + "STACK SIZE=0x8" +
                         (ram.empty() ? "" : " RAM=" + ram) + "\n");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto out = output();
    ASSERT_TRUE(out);
    // Without RAM= best fit picks the small bank.
    const std::uint32_t stack = start(*out, ".stack");
    EXPECT_EQ(stack, ram.empty() ? 0xA0u : 0x20u);
    EXPECT_EQ(out->cScnHdr.at(".stack").s_size, 8u);
    const syment *stackSym = symbol(*out, "_stack");
    const syment *sizeSym = symbol(*out, "_stksize");
    ASSERT_TRUE(stackSym != nullptr && sizeSym != nullptr);
    EXPECT_EQ(stackSym->n_value, stack);
    EXPECT_EQ(sizeSym->n_value, 8u);
  }
  // Without a STACK the names stay undefined.
  const ProcessResult bare = run({"a.o"}, kTwoPagesTwoBanks);
  EXPECT_EQ(bare.exitCode, 1);
  EXPECT_EQ(bare.err, "");
}

TEST_F(AllocationLinkTest, BuildsTheInitialisationTableInBothForms) {
  cDir.write(
      "t.o",
      trell().section("d1", kScnTypeIdata).bytes({0x11, 0x22}).fileBytes());
  ProcessResult result = run({"t.o"}, kTwoPagesTwoBanks);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto out = output();
  ASSERT_TRUE(out);
  // One program word per byte: the count, then ROM, RAM and size.
  const std::uint32_t image = start(*out, "d1_i");
  const std::uint32_t ram = start(*out, "d1");
  const std::vector<std::uint8_t> narrow = {1,
                                            0,
                                            std::uint8_t(image),
                                            std::uint8_t(image >> 8),
                                            std::uint8_t(ram),
                                            std::uint8_t(ram >> 8),
                                            2,
                                            0};
  const Data &table = out->cRawData.at(".cinit");
  ASSERT_EQ(table.size(), 2 * narrow.size());
  for (std::size_t i = 0; i < narrow.size(); ++i)
    EXPECT_EQ(readLE16(table.bytes() + 2 * i), 0x3400 | narrow[i]) << i;
  const Data &twin = out->cRawData.at("d1_i");
  ASSERT_EQ(twin.size(), 4u);
  EXPECT_EQ(readLE16(twin.bytes()), 0x3411);

  cDir.write("q.o", CoffBuilder()
                        .processor(kQuolmCode, 8)
                        .section("d1", kScnTypeIdata)
                        .bytes({0x11, 0x22, 0x33})
                        .external("_cinit")
                        .fileBytes());
  result = run({"q.o"}, "CODEPAGE NAME=page0 START=0x0 END=0xFFF\n"
                        "DATABANK NAME=bank0 START=0x60 END=0xFF\n");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  out = output();
  ASSERT_TRUE(out);
  const Data &wide = out->cRawData.at(".cinit");
  ASSERT_EQ(wide.size(), 14u);
  EXPECT_EQ(readLE16(wide.bytes()), 1);
  EXPECT_EQ(readLE32(wide.bytes() + 2), start(*out, "d1_i"));
  EXPECT_EQ(readLE32(wide.bytes() + 6), 0x60u);
  EXPECT_EQ(readLE32(wide.bytes() + 10), 3u);
  const syment *cinit = symbol(*out, "_cinit");
  ASSERT_NE(cinit, nullptr);
  EXPECT_EQ(cinit->n_value, start(*out, ".cinit"));
}

TEST_F(AllocationLinkTest, ReportsUndefinedAndDuplicateExternals) {
  const std::string defines = trell()
                                  .section(".code", kScnTypeCode)
                                  .words({0})
                                  .global("twice", 0, ".code")
                                  .fileBytes();
  cDir.write("a.o", defines);
  cDir.write("b.o", defines);
  cDir.write("c.o", trell().external("nowhere").fileBytes());
  cDir.write("t.lkr", kTwoPagesTwoBanks);
  ProcessResult result = link({"a.o", "b.o", "t.lkr"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "Error - symbol 'twice' has multiple definitions.\n");
  result = link({"a.o", "c.o", "t.lkr"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "Error - could not resolve symbol 'nowhere' in file "
                        "'./c.o'.\n");
}

TEST_F(AllocationLinkTest, LinksAbsoluteOverlayPiecesOfDifferentSizes) {
  cDir.write("a.o", trell()
                        .section("vec", kScnTypeCode, kScnOverlay)
                        .at(0x20)
                        .words({1, 2, 3})
                        .fileBytes());
  cDir.write("b.o", trell()
                        .section("vec", kScnTypeCode, kScnOverlay)
                        .at(0x20)
                        .words({7})
                        .fileBytes());
  const ProcessResult result = run({"a.o", "b.o"}, kTwoPagesTwoBanks);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto out = output();
  ASSERT_TRUE(out);
  EXPECT_EQ(start(*out, "vec"), 0x20u);
  EXPECT_EQ(out->cScnHdr.at("vec").s_size, 6u);
  // The shorter piece overwrites only its own word.
  const Data &vec = out->cRawData.at("vec");
  ASSERT_EQ(vec.size(), 6u);
  EXPECT_EQ(readLE16(vec.bytes()), 7);
  EXPECT_EQ(readLE16(vec.bytes() + 2), 2);
  EXPECT_EQ(readLE16(vec.bytes() + 4), 3);
}

TEST_F(AllocationLinkTest, LeavesAFileSymbolWithoutAuxiliaryEntryAlone) {
  syment bareFile;
  Coff::setName(bareFile, {}, ".file");
  bareFile.n_sclass = kClassFile;
  cDir.write("a.o", trell()
                        .rawEntry(bareFile)
                        .section(".code", kScnTypeCode)
                        .words({0})
                        .global("a_rather_long_name", 0, ".code")
                        .fileBytes());
  const ProcessResult result = run({"a.o"}, kTwoPagesTwoBanks);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto out = output();
  ASSERT_TRUE(out);
  EXPECT_NE(symbol(*out, "a_rather_long_name"), nullptr);
}

TEST_F(AllocationLinkTest, KeepsPiecesOfSameNamedMembersApart) {
  // Two libraries each hold a member named "m" adding to one section.
  const std::string first = trell()
                                .section("shared", kScnTypeUdata)
                                .zeros(2)
                                .global("from_first", 1, "shared")
                                .external("from_second")
                                .fileBytes();
  const std::string second = trell()
                                 .section("shared", kScnTypeUdata)
                                 .zeros(3)
                                 .global("from_second", 2, "shared")
                                 .fileBytes();
  cDir.write("one.lib", CoffBuilder::libraryBytes({{"m", first}}));
  cDir.write("two.lib", CoffBuilder::libraryBytes({{"m", second}}));
  cDir.write("main.o", trell().external("from_first").fileBytes());
  cDir.write("t.lkr", std::string(kTwoPagesTwoBanks) + "LIBPATH .\n");
  const ProcessResult result =
      link({"main.o", "one.lib", "two.lib", "t.lkr", "/o", "out.cof"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto out = output();
  ASSERT_TRUE(out);
  const std::uint32_t shared = start(*out, "shared");
  EXPECT_EQ(out->cScnHdr.at("shared").s_size, 5u);
  ASSERT_NE(symbol(*out, "from_first"), nullptr);
  ASSERT_NE(symbol(*out, "from_second"), nullptr);
  EXPECT_EQ(symbol(*out, "from_first")->n_value, shared + 1);
  EXPECT_EQ(symbol(*out, "from_second")->n_value, shared + 2 + 2);
}

} // namespace
