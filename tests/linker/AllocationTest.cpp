// Section allocation, the stack and the initialisation table, on a Linker
// set up directly (memories and per-section records as the checks leave
// them).
#include "LinkerFixture.h"

#include "ByteOrder.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace {

using AllocationTest = LinkerFixture;

TEST_F(AllocationTest, PlacesAbsoluteSectionsFirstAndRelocatableAroundThem) {
  processor(kTrellId, 14);
  page("page0", 0, 0x1F);
  absolute("abs", kScnTypeCode, 0, 8); // 4 words at 0..3
  section("big", kScnTypeCode, 0x10);  // 8 words
  section("small", kScnTypeCode, 0x10);
  ASSERT_EQ(map(), 1) << error;
  EXPECT_EQ(startOf("abs"), 0u);
  // The table (2 words) comes before the sections without directive;
  // equal sizes go in name order.
  EXPECT_EQ(startOf(".cinit"), 4u);
  EXPECT_EQ(startOf("big"), 6u);
  EXPECT_EQ(startOf("small"), 14u);
}

TEST_F(AllocationTest, PlacesLargerSectionFirst) {
  processor(kTrellId, 14);
  page("page0", 0, 0x7F);
  section("a", kScnTypeCode, 0x20);
  section("b", kScnTypeCode, 0x40);
  ASSERT_EQ(map(), 1) << error;
  EXPECT_EQ(startOf(".cinit"), 0u);
  EXPECT_EQ(startOf("b"), 2u);
  EXPECT_EQ(startOf("a"), 0x22u);
}

TEST_F(AllocationTest, ProtectedPageTakesOnlySectionsThatNameIt) {
  processor(kTrellId, 14);
  page("open", 0, 0x3F);
  page("prot", 0x40, 0x7F, 1);
  section("free", kScnTypeCode, 4);
  section("named", kScnTypeCode, 4);
  absolute("fixed", kScnTypeCode, 0x50, 4);
  directive("named", "prot");
  ASSERT_EQ(map(), 1) << error;
  EXPECT_EQ(memoryOf("free"), "open");
  EXPECT_EQ(memoryOf("named"), "prot");
  EXPECT_EQ(memoryOf("fixed"), "prot");
  EXPECT_EQ(memoryOf(".cinit"), "open");
}

TEST_F(AllocationTest, AlignsCodeOnlyOnByteAddressedProgramMemory) {
  processor(kQuolmId, 8);
  page("page0", 0, 0xFF);
  absolute("odd", kScnTypeRomdata, 1, 1); // leaves a free range at 2
  section("code", kScnTypeCode, 4);
  section("rom", kScnTypeRomdata, 1);
  ASSERT_EQ(map(), 1) << error;
  EXPECT_EQ(startOf("code") % 2, 0u);
  EXPECT_EQ(startOf("rom"), 0u); // the one-byte hole before "odd"
}

TEST_F(AllocationTest, ImageSizeDependsOnWordWidth) {
  for (auto [id, bits, imageSize] :
       {std::tuple<std::uint8_t, std::uint16_t, std::uint32_t>{kTrellId, 14,
                                                               20},
        {kBraskId, 16, 10},
        {kQuolmId, 8, 10}}) {
    SCOPED_TRACE(int(id));
    reset();
    processor(id, bits);
    page("page0", 0, 0xFF);
    bank(link->cDataBanks, "bank0", 0x20, 0x7F);
    section("data", kScnTypeIdata, 10);
    ASSERT_EQ(map(), 1) << error;
    EXPECT_EQ(link->cScnMem.at("data_i")->getSectionSize("data_i"), imageSize);
    EXPECT_EQ(memoryOf("data"), "bank0");
  }
}

TEST_F(AllocationTest, ImageOfAbsoluteIdataIsRelocatable) {
  processor(kTrellId, 14);
  page("page0", 0, 0xFF);
  bank(link->cDataBanks, "bank0", 0x20, 0x7F);
  absolute("data", kScnTypeIdata, 0x30, 3);
  ASSERT_EQ(map(), 1) << error;
  EXPECT_EQ(startOf("data"), 0x30u);
  EXPECT_EQ(memoryOf("data_i"), "page0");
}

TEST_F(AllocationTest, SharedAndAccessSectionsGoToTheirOwnBanks) {
  processor(kTrellId, 14);
  page("page0", 0, 0xFF);
  bank(link->cDataBanks, "bank0", 0x20, 0x7F);
  bank(link->cShareBanks, "shared", 0x70, 0x7F);
  bank(link->cAccessBanks, "access", 0x80, 0x8F);
  section("s", kScnTypeIdata, 2, kScnShared);
  section("a", kScnTypeUdata, 2, kScnAccess);
  ASSERT_EQ(map(), 1) << error;
  EXPECT_EQ(memoryOf("s"), "shared");
  EXPECT_EQ(memoryOf("a"), "access");
}

TEST_F(AllocationTest, ReportsEachAllocationFailure) {
  struct Case {
    const char *what;
    std::function<void(LinkerFixture &)> setUp;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"missing memory",
       [](LinkerFixture &t) {
         t.section("s", kScnTypeIdata, 2);
         t.directive("s", "", "page0"); // a code page, not a bank
       },
       "section 's' has a memory 'page0' which is not defined in the linker "
       "command file."},
      {"named memory full",
       [](LinkerFixture &t) {
         t.section("s", kScnTypeUdata, 0x20);
         t.directive("s", "", "bank0");
       },
       "section 's' has a memory 'bank0' which can not fit the section. "
       "Section 's' length=0x00000020."},
      {"no memory fits",
       [](LinkerFixture &t) { t.section("s", kScnTypeUdata, 0x20); },
       "section 's' can not fit the section. Section 's' length=0x00000020"},
      {"absolute in named memory",
       [](LinkerFixture &t) {
         t.absolute("s", kScnTypeUdata, 0x2E, 4);
         t.directive("s", "", "bank0");
       },
       "section 's' has a memory 'bank0' which can not fit the absolute "
       "section. Section 's' start=0x0000002e, length=0x00000004."},
      {"absolute nowhere",
       [](LinkerFixture &t) { t.absolute("s", kScnTypeUdata, 0x90, 1); },
       "section 's' can not fit the absolute section. Section 's' "
       "start=0x00000090, length=0x00000001"},
      {"image with RAM",
       [](LinkerFixture &t) {
         t.section("d", kScnTypeIdata, 1);
         t.directive("d_i", "page0", "bank0");
       },
       "section 'd_i' can not have a 'RAM' memory attribute specified in the "
       "linker command file."},
      {"table with RAM",
       [](LinkerFixture &t) { t.directive(".cinit", "", "bank0"); },
       "section '.cinit' contains initialized rom data and can not have a "
       "'RAM' memory attribute specified in the linker command file."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    processor(kTrellId, 14);
    page("page0", 0, 0xFF);
    bank(link->cDataBanks, "bank0", 0x20, 0x2F);
    c.setUp(*this);
    EXPECT_EQ(map(), 0);
    EXPECT_EQ(error, c.text);
  }
}

TEST_F(AllocationTest, RejectsOddAbsoluteCodeOnByteAddressedMemory) {
  processor(kQuolmId, 8);
  page("page0", 0, 0xFF);
  absolute("c", kScnTypeCode, 3, 2);
  EXPECT_EQ(map(), 0);
  EXPECT_EQ(error, "Absolute code section 'c' must start at a word-aligned "
                   "address.");
}

TEST_F(AllocationTest, StackGoesToNamedBankOrAnOpenDataBank) {
  for (const std::string named : {"", "shared", "access"}) {
    SCOPED_TRACE(named);
    reset();
    processor(kTrellId, 14);
    page("page0", 0, 0xFF);
    bank(link->cShareBanks, "shared", 0x70, 0x7F);
    bank(link->cAccessBanks, "access", 0x80, 0x8F);
    bank(link->cDataBanks, "prot", 0x90, 0xFF, 1);
    bank(link->cDataBanks, "bank0", 0x20, 0x3F);
    link->cStackDescSet = 1;
    link->cStackDesc = StackDesc(8, named);
    ASSERT_EQ(map(), 1) << error;
    EXPECT_EQ(memoryOf(".stack"), named.empty() ? "bank0" : named);
  }
}

TEST_F(AllocationTest, InitTableListsNonEmptyIdataInNameOrder) {
  processor(kTrellId, 14);
  page("page0", 0, 0xFF);
  bank(link->cDataBanks, "bank0", 0x20, 0x7F);
  section("a", kScnTypeIdata, 3);
  section("b", kScnTypeIdata, 0);
  section("c", kScnTypeIdata, 5);
  directive(".cinit", "page0");
  ASSERT_EQ(map(), 1) << error;
  EXPECT_EQ(link->initTableSize(), 40u);
  EXPECT_EQ(link->cScnMem.at(".cinit")->getSectionSize(".cinit"), 40u);
  EXPECT_EQ(link->cInitSym.n_value, startOf(".cinit"));
  EXPECT_EQ(link->cInitSym.n_sclass, kClassExternal);
  ASSERT_EQ(link->buildInitTable(error), 1);
  const Data &table = link->cInitTable;
  ASSERT_EQ(table.size(), 14u);
  const std::uint8_t *p = table.bytes();
  EXPECT_EQ(readLE16(p), 2);
  EXPECT_EQ(readLE16(p + 2), startOf("a_i"));
  EXPECT_EQ(readLE16(p + 4), startOf("a"));
  EXPECT_EQ(readLE16(p + 6), 3);
  EXPECT_EQ(readLE16(p + 8), startOf("c_i"));
  EXPECT_EQ(readLE16(p + 10), startOf("c"));
  EXPECT_EQ(readLE16(p + 12), 5);
}

TEST_F(AllocationTest, EmptyInitTableHoldsCountAlone) {
  processor(kTrellId, 14);
  page("page0", 0, 0xFF);
  ASSERT_EQ(map(), 1) << error;
  EXPECT_EQ(link->cScnMem.at(".cinit")->getSectionSize(".cinit"), 4u);
  ASSERT_EQ(link->buildInitTable(error), 1);
  ASSERT_EQ(link->cInitTable.size(), 2u);
  EXPECT_EQ(readLE16(link->cInitTable.bytes()), 0);
}

TEST_F(AllocationTest, ManySectionsAllocateQuickly) {
  // Guards against quadratic lookups of directives and sections.
  processor(kBraskId, 16);
  page("page0", 0, 0xFFFFF);
  for (int i = 0; i < 20000; ++i) {
    const std::string name = "s" + std::to_string(i);
    section(name, kScnTypeCode, 2 + 2 * (i % 7));
    if (i % 2 == 0)
      directive(name, "page0");
  }
  ASSERT_EQ(map(), 1) << error;
  EXPECT_EQ(link->cScnMem.size(), 20001u);
}

} // namespace
