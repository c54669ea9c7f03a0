// The checks between loading and allocation: one processor for the link,
// sections of one name that agree, and SECTION memories that suit them.
#include "CoffBuilder.h"
#include "linker/Linker.h"
#include "mgproc/Processor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

constexpr std::uint16_t kTrellA = 0x1001; // family 1, 14-bit words
constexpr std::uint16_t kTrellB = 0x1002; // family 1
constexpr std::uint16_t kBrask = 0x2001;  // family 2, 16-bit words
constexpr std::uint16_t kVesk = 0x3001;   // family 3, 12-bit words
constexpr std::uint16_t kQuolm = 0x4001;  // family 4, byte-addressed

void addInput(Linker &linker, const std::string &fileName,
              const CoffBuilder &builder) {
  auto coff = std::make_unique<Coff>(builder.build());
  coff->cFileName = fileName;
  linker.cCoff.push_back(std::move(coff));
}

CoffBuilder objectFor(std::uint16_t code, std::uint16_t flags = 0) {
  CoffBuilder builder;
  builder.processor(code).fileFlags(flags);
  return builder;
}

// ---- Processor ----

struct ProcessorCase {
  const char *label;
  std::uint16_t firstCode;
  std::uint16_t firstFlags;
  std::uint16_t secondCode;
  std::uint16_t secondFlags;
  bool links;
  std::uint16_t linkCode; // device code of the chosen processor
};

TEST(CheckProcessor, ChoosesTheFirstSpecificInputAndChecksAgreement) {
  const ProcessorCase cases[] = {
      {"same processor", kTrellA, 0, kTrellA, 0, true, kTrellA},
      {"generic second input of the family", kTrellA, 0, kTrellB,
       kFileFamilyGeneric, true, kTrellA},
      {"generic first input gives way", kTrellB, kFileFamilyGeneric, kTrellA, 0,
       true, kTrellA},
      {"all generic: the first input's processor", kTrellB, kFileFamilyGeneric,
       kTrellA, kFileFamilyGeneric, true, kTrellB},
      {"two processors of one family", kTrellA, 0, kTrellB, 0, false, 0},
      {"generic input of another family", kTrellA, 0, kBrask,
       kFileFamilyGeneric, false, 0},
      {"all generic, two families", kTrellA, kFileFamilyGeneric, kVesk,
       kFileFamilyGeneric, false, 0},
  };
  for (const ProcessorCase &c : cases) {
    SCOPED_TRACE(c.label);
    Linker linker;
    addInput(linker, "a.o", objectFor(c.firstCode, c.firstFlags));
    addInput(linker, "b.o", objectFor(c.secondCode, c.secondFlags));
    std::string error;
    const int result = linker.checkProcessor(error);
    if (c.links) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(error, "");
      EXPECT_EQ(procCode(linker.cProcessor), c.linkCode);
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(error, "processor types do not agree across all input files.");
    }
  }
}

TEST(CheckProcessor, RefusesUnknownDeviceCodesWherever) {
  for (int position = 0; position < 2; ++position) {
    SCOPED_TRACE(position);
    Linker linker;
    addInput(linker, "a.o", objectFor(position == 0 ? 0x0BAD : kTrellA));
    addInput(linker, "b.o", objectFor(position == 1 ? 0x0BAD : kTrellA));
    std::string error;
    EXPECT_EQ(linker.checkProcessor(error), 0);
    EXPECT_EQ(error, std::string("Unsupported processor type in file '") +
                         (position == 0 ? "a.o" : "b.o") + "'");
  }
}

TEST(CheckProcessor, GivesEveryMemoryTheProcessorWidths) {
  struct WidthCase {
    std::uint16_t code;
    std::uint16_t romBits;
    std::uint64_t pageBytes; // 16 locations
  };
  const WidthCase cases[] = {
      {kTrellA, 14, 32}, {kBrask, 16, 32}, {kVesk, 12, 32}, {kQuolm, 8, 16}};
  for (const WidthCase &c : cases) {
    SCOPED_TRACE(c.code);
    Linker linker;
    std::string error;
    ASSERT_EQ(linker.addCodePage(
                  Memory("page", 0, 15, kProgramMemory, 0, 0, ""), error),
              1);
    ASSERT_EQ(linker.addDataBank(
                  Memory("bank", 0x20, 0x2F, kDataMemory, 0, 0, ""), error),
              1);
    addInput(linker, "a.o", objectFor(c.code));
    ASSERT_EQ(linker.checkProcessor(error), 1) << error;
    EXPECT_EQ(linker.cRomWidthBits, c.romBits);
    EXPECT_EQ(linker.cRamWidthBits, 8);
    EXPECT_EQ(linker.cCodePage.front().largestHole(), c.pageBytes);
    EXPECT_EQ(linker.cDataBanks.front().largestHole(), 16u);
  }
}

// ---- Section merging ----

// A linker on a Trell processor (2 bytes per program location).
struct MergeFixture : ::testing::Test {
  void add(const std::string &fileName, CoffBuilder builder) {
    builder.processor(kTrellA);
    addInput(linker, fileName, builder);
  }
  int merge() {
    std::string ignored;
    if (linker.cProcessor == 0 && !linker.checkProcessor(ignored))
      return -1;
    return linker.mergeSections(error);
  }
  Linker linker;
  std::string error;
};

TEST_F(MergeFixture, SumsRelocatablePiecesAndKeepsTheirAttributes) {
  for (const char *file : {"a.o", "b.o", "c.o"})
    add(file,
        CoffBuilder().section(".udata", kScnTypeUdata, kScnShared).zeros(3));
  ASSERT_EQ(merge(), 1) << error;
  EXPECT_EQ(linker.cScnSize[".udata"], 9u);
  EXPECT_EQ(linker.cScnType[".udata"], kScnTypeUdata);
  EXPECT_EQ(linker.cScnShare[".udata"], 1);
  EXPECT_EQ(linker.cScnAbs[".udata"], 0);
  EXPECT_EQ(linker.cScnAbsStart.count(".udata"), 0u);
}

TEST_F(MergeFixture, OverlayTakesTheLargestPieceAtOneAbsoluteStart) {
  add("a.o", CoffBuilder()
                 .section("ov", kScnTypeUdata, kScnOverlay)
                 .at(0x40)
                 .zeros(10));
  add("b.o", CoffBuilder()
                 .section("ov", kScnTypeUdata, kScnOverlay)
                 .at(0x40)
                 .zeros(6));
  ASSERT_EQ(merge(), 1) << error;
  EXPECT_EQ(linker.cScnSize["ov"], 10u);
  EXPECT_EQ(linker.cScnAbsStart["ov"], 0x40u);
  EXPECT_EQ(linker.cScnAbsSize["ov"], 10u);
  EXPECT_EQ(linker.cScnOverlay["ov"], 1);
}

TEST_F(MergeFixture, RoundsOddCodePiecesToWholeLocations) {
  add("a.o", CoffBuilder().section(".code", kScnTypeCode).bytes({1, 2, 3}));
  add("b.o", CoffBuilder().section(".code", kScnTypeCode).bytes({4}));
  add("c.o", CoffBuilder().section(".data", kScnTypeIdata).bytes({5}));
  add("d.o", CoffBuilder().section(".data", kScnTypeIdata).bytes({6}));
  ASSERT_EQ(merge(), 1) << error;
  EXPECT_EQ(linker.cScnSize[".code"], 6u);
  // Data memory holds one byte per location.
  EXPECT_EQ(linker.cScnSize[".data"], 2u);
}

TEST_F(MergeFixture, KeepsOddCodePiecesOnByteAddressedProgramMemory) {
  for (const char *file : {"a.o", "b.o"}) {
    CoffBuilder builder;
    builder.processor(kQuolm).section(".code", kScnTypeCode).bytes({1, 2, 3});
    addInput(linker, file, builder);
  }
  ASSERT_EQ(merge(), 1) << error;
  EXPECT_EQ(linker.cScnSize[".code"], 6u);
}

struct DisagreementCase {
  const char *label;
  int firstType;
  std::uint32_t firstFlags;
  int secondType;
  std::uint32_t secondFlags;
  std::uint32_t secondAddress; // used when the second piece is absolute
  const char *text;
};

TEST_F(MergeFixture, RefusesPiecesThatDisagree) {
  const DisagreementCase cases[] = {
      {"overlay and not", kScnTypeUdata, kScnOverlay, kScnTypeUdata, 0, 0,
       "section overlay types for 's' do not match across input files."},
      {"absolute and relocatable overlay", kScnTypeUdata,
       kScnOverlay | kScnAbsolute, kScnTypeUdata, kScnOverlay, 0,
       "section absolute types for 's' do not match across input files."},
      {"absolute overlays at two starts", kScnTypeUdata,
       kScnOverlay | kScnAbsolute, kScnTypeUdata, kScnOverlay | kScnAbsolute,
       0x30,
       "starting addresses for absolute overlay section 's' do not match "
       "across all input files."},
      {"two kinds", kScnTypeUdata, 0, kScnTypeIdata, 0, 0,
       "section types for 's' do not match across input files."},
      {"shared and not", kScnTypeUdata, kScnShared, kScnTypeUdata, 0, 0,
       "section share types for 's' do not match across input files."},
      {"access and not", kScnTypeUdata, 0, kScnTypeUdata, kScnAccess, 0,
       "section access types for 's' do not match across input files."},
      {"absolute twice", kScnTypeUdata, kScnAbsolute, kScnTypeUdata,
       kScnAbsolute, 0x20,
       "section 's' type is non-overlay and absolute but occurs in more than "
       "one input file."},
      {"absolute first piece only", kScnTypeUdata, kScnAbsolute, kScnTypeUdata,
       0, 0,
       "section 's' type is non-overlay and absolute but occurs in more than "
       "one input file."},
      {"absolute second piece only", kScnTypeUdata, 0, kScnTypeUdata,
       kScnAbsolute, 0x20,
       "section 's' type is non-overlay and absolute but occurs in more than "
       "one input file."},
  };
  for (const DisagreementCase &c : cases) {
    SCOPED_TRACE(c.label);
    Linker linker;
    CoffBuilder first;
    first.processor(kTrellA).section("s", c.firstType, c.firstFlags);
    if (c.firstFlags & kScnAbsolute)
      first.at(0x20);
    first.bytes({1});
    CoffBuilder second;
    second.processor(kTrellA).section("s", c.secondType, c.secondFlags);
    if (c.secondFlags & kScnAbsolute)
      second.at(c.secondAddress);
    second.bytes({2});
    addInput(linker, "a.o", first);
    addInput(linker, "b.o", second);
    std::string error;
    ASSERT_EQ(linker.checkProcessor(error), 1);
    EXPECT_EQ(linker.mergeSections(error), 0);
    EXPECT_EQ(error, c.text);
  }
}

TEST_F(MergeFixture, RefusesSectionsOfNoKnownKind) {
  add("a.o", CoffBuilder().section("odd", kScnTypeUdata).scnFlags(0).zeros(2));
  EXPECT_EQ(merge(), 0);
  EXPECT_EQ(error, "unknown section type for 'odd' in file 'a.o'.");
}

TEST_F(MergeFixture, ManyNamesEndInNameOrderAndAFailureKeepsWhatCameBefore) {
  // Names met in no particular order end up in every record map; a section
  // of no known kind stops the merge with its size and type recorded and
  // nothing of the inputs after it.
  for (int i = 0; i < 300; ++i) {
    const std::string name = "s" + std::to_string((i * 7919) % 300);
    CoffBuilder builder;
    if (i == 200)
      builder.section(name, kScnTypeUdata).scnFlags(0).zeros(2);
    else
      builder.section(name, kScnTypeUdata, kScnShared).zeros(1);
    add("in" + std::to_string(i) + ".o", builder);
  }
  const std::string failing = "s" + std::to_string((200 * 7919) % 300);
  const std::string later = "s" + std::to_string((201 * 7919) % 300);
  EXPECT_EQ(merge(), 0);
  EXPECT_EQ(error, "unknown section type for '" + failing +
                       "' in file "
                       "'in200.o'.");
  EXPECT_EQ(linker.cScnSize.size(), 201u);
  EXPECT_EQ(linker.cScnType.size(), 201u);
  EXPECT_EQ(linker.cScnType.at(failing), kScnTypeNone);
  EXPECT_EQ(linker.cScnShare.size(), 200u);
  EXPECT_EQ(linker.cScnShare.count(failing), 0u);
  EXPECT_EQ(linker.cScnShare.at("s0"), 1);
  EXPECT_EQ(linker.cScnOverlay.size(), 200u);
  EXPECT_EQ(linker.cScnSize.count(later), 0u);
}

TEST_F(MergeFixture, RefusesSectionNamesTheLinkerMakes) {
  struct ReservedCase {
    const char *label;
    const char *name;
    int type;
    bool stackDeclared;
    bool refused;
  };
  const ReservedCase cases[] = {
      {"initialisation table", ".cinit", kScnTypeRomdata, false, true},
      {"stack when declared", ".stack", kScnTypeUdata, true, true},
      {"stack without a STACK", ".stack", kScnTypeUdata, false, false},
      {"image of an idata section", "vars_i", kScnTypeCode, false, true},
      {"_i name without its idata", "other_i", kScnTypeCode, false, false},
  };
  for (const ReservedCase &c : cases) {
    SCOPED_TRACE(c.label);
    Linker linker;
    if (c.stackDeclared) {
      std::string ignored;
      ASSERT_EQ(linker.setStack(StackDesc(), ignored), 1);
    }
    CoffBuilder first;
    first.processor(kTrellA).section("vars", kScnTypeIdata).bytes({1});
    CoffBuilder second;
    second.processor(kTrellA).section(c.name, c.type).zeros(2);
    addInput(linker, "a.o", first);
    addInput(linker, "dir/b.o", second);
    std::string error;
    ASSERT_EQ(linker.checkProcessor(error), 1);
    EXPECT_EQ(linker.mergeSections(error), c.refused ? 0 : 1);
    EXPECT_EQ(error, c.refused ? std::string("Section '") + c.name +
                                     "' in 'dir/b.o' has a name reserved for "
                                     "the linker."
                               : "");
  }
}

// ---- SECTION memories ----

TEST(CheckSectionAttributes, RefusesMemoriesOfTheWrongKind) {
  struct AttributeCase {
    int type;
    const char *rom;
    const char *ram;
    const char *text; // "" when accepted
  };
  const AttributeCase cases[] = {
      {kScnTypeCode, "page", "", ""},
      {kScnTypeCode, "", "bank",
       "section 's' contains code and can not have a 'RAM' memory attribute "
       "specified in the linker command file."},
      {kScnTypeIdata, "", "bank", ""},
      {kScnTypeIdata, "page", "",
       "section 's' contains initialized data and can not have a 'ROM' "
       "memory attribute specified in the linker command file."},
      {kScnTypeUdata, "", "bank", ""},
      {kScnTypeUdata, "page", "bank",
       "section 's' contains uninitialized data and can not have a 'ROM' "
       "memory attribute specified in the linker command file."},
      {kScnTypeRomdata, "page", "", ""},
      {kScnTypeRomdata, "", "bank",
       "section 's' contains initialized rom data and can not have a 'RAM' "
       "memory attribute specified in the linker command file."},
  };
  for (const AttributeCase &c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + c.rom + c.ram);
    Linker linker;
    linker.cScnType["s"] = static_cast<std::uint8_t>(c.type);
    linker.cSectionDesc.push_back(SectionDesc("absent", "page", "bank"));
    linker.cSectionDesc.push_back(SectionDesc("s", c.rom, c.ram));
    std::string error;
    EXPECT_EQ(linker.checkSectionAttributes(error), *c.text ? 0 : 1);
    EXPECT_EQ(error, c.text);
  }
}

} // namespace
