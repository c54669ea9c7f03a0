// Relocation patching on link state set up directly: placed sections,
// symbols with final values, then patchSections / verifyRelocations.
#include "CoffBuilder.h"
#include "linker/Linker.h"
#include "linker/RelocTypes.h"
#include "mgproc/Processor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::uint16_t>;

// Processors of the table, by family and geometry.
constexpr ProcessorId kTrell1Page2Banks = 4;
constexpr ProcessorId kTrell2Pages2Banks = 57;
constexpr ProcessorId kTrell2Pages4Banks = 62;
constexpr ProcessorId kTrell3Pages = 83;
constexpr ProcessorId kTrell4Pages = 85;
constexpr ProcessorId kBrask1Page4Banks = 95;
constexpr ProcessorId kBrask8Banks = 101;
constexpr ProcessorId kBrask2Pages = 102;
constexpr ProcessorId kVesk1Page1Bank = 117;
constexpr ProcessorId kVesk2Pages1Bank = 121;
constexpr ProcessorId kVesk2Banks = 124;
constexpr ProcessorId kVesk3Banks = 128;
constexpr ProcessorId kVesk4Banks = 129;
constexpr ProcessorId kVesk4Pages = 131;
constexpr ProcessorId kQuolm = 150;

// One relocation against one symbol in a code section ".code".
struct Input {
  Words words;
  std::uint16_t type = 0;
  std::uint32_t symbolValue = 0;
  std::int16_t addend = 0;
  std::uint32_t relocOffset = 0;
  std::string symbolName = "target";
};

CoffBuilder inputBuilder(const Input &in) {
  CoffBuilder builder;
  builder.section(".code", kScnTypeCode)
      .words(in.words)
      .reloc(in.relocOffset, in.symbolName, in.type, in.addend)
      .symbol(in.symbolName, in.symbolValue, kScnNumAbsolute, kClassExternal);
  return builder;
}

// A linker for one processor with a code page that holds ".code" from
// startLoc, loaded from the given inputs in order.
class PatchLinker {
public:
  explicit PatchLinker(ProcessorId processor, std::uint32_t startLoc = 0) {
    linker.cProcessor = processor;
    linker.cFamily = procFamily(processor);
    cStartLoc = startLoc;
  }

  void add(const Coff &coff) {
    linker.cCoff.push_back(std::make_unique<Coff>(coff));
    linker.cCoff.back()->cFileName =
        "./in" + std::to_string(linker.cCoff.size()) + ".o";
  }

  // Places ".code" with each input's piece after the previous one.
  void place() {
    const std::uint16_t width = linker.cFamily == Quolm ? 8 : 16;
    Memory page("page", 0, 0x1FFFFF, kProgramMemory, 0, 0, "");
    page.setWidthBits(width);
    std::uint32_t sizeInBytes = 0;
    for (const auto &coff : linker.cCoff)
      sizeInBytes += coff->cRawData[".code"].size();
    page.allocateAt(".code", cStartLoc, sizeInBytes, 0);
    for (InputIndex i = 0; i < linker.cCoff.size(); ++i)
      page.load(i, ".code", linker.cCoff[i]->cRawData[".code"].size());
    linker.cCodePage.push_back(page);
    linker.cScnMem[".code"] = &linker.cCodePage.back();
    linker.cScnSize[".code"] = sizeInBytes;
  }

  Words words(InputIndex input = 0) const {
    const Data &raw = linker.cCoff[input]->cRawData.at(".code");
    Words result;
    for (std::uint32_t i = 0; i + 1 < raw.size(); i += 2)
      result.push_back(std::uint16_t(raw.bytes()[i] | raw.bytes()[i + 1] << 8));
    return result;
  }

  Linker linker;

private:
  std::uint32_t cStartLoc = 0;
};

struct Outcome {
  int result = 0;
  std::string error;
  Words words;
};

Outcome patchOne(ProcessorId processor, const Input &in,
                 std::uint32_t startLoc = 0) {
  PatchLinker link(processor, startLoc);
  link.add(inputBuilder(in).build());
  link.place();
  Outcome outcome;
  outcome.result = link.linker.patchSections(outcome.error);
  outcome.words = link.words();
  return outcome;
}

std::string where(const std::string &text) {
  return "file './in1.o', section '.code', " + text;
}

struct SequenceCase {
  const char *what;
  ProcessorId processor;
  std::uint16_t type;
  std::uint32_t target;
  Words after; // from {0x1111, 0x2222}
};

void expectSequences(const std::vector<SequenceCase> &cases) {
  for (const SequenceCase &c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome outcome =
        patchOne(c.processor, {{0x1111, 0x2222}, c.type, c.target});
    EXPECT_EQ(outcome.result, 1) << outcome.error;
    EXPECT_EQ(outcome.words, c.after);
  }
}

TEST(PatchingTest, BuildsTrellSelectionsForTheBankAndPageCount) {
  expectSequences({
      {"banksel, 2 banks: RP0 only",
       kTrell1Page2Banks,
       RELOCT_BANKSEL,
       0x80,
       {0x1683, 0x2222}},
      {"banksel, 4 banks: RP0 and RP1",
       kTrell2Pages4Banks,
       RELOCT_BANKSEL,
       0x100,
       {0x1283, 0x1703}},
      {"banksel, 4 banks, bank 3",
       kTrell2Pages4Banks,
       RELOCT_BANKSEL,
       0x1A0,
       {0x1683, 0x1703}},
      {"ibanksel, 2 banks: nothing",
       kTrell1Page2Banks,
       RELOCT_IBANKSEL,
       0x100,
       {0x1111, 0x2222}},
      {"ibanksel, 4 banks: IRP set",
       kTrell2Pages4Banks,
       RELOCT_IBANKSEL,
       0x100,
       {0x1783, 0x2222}},
      {"ibanksel, 4 banks: IRP clear",
       kTrell2Pages4Banks,
       RELOCT_IBANKSEL,
       0x80,
       {0x1383, 0x2222}},
      {"pagesel, 1 page: still MOVLW/MOVWF",
       kTrell1Page2Banks,
       RELOCT_PAGESEL,
       0x1834,
       {0x3018, 0x008A}},
      {"pagesel_wreg",
       kTrell4Pages,
       RELOCT_PAGESEL_WREG,
       0x0800,
       {0x3008, 0x008A}},
      {"pagesel_bits, 1 page: nothing",
       kTrell1Page2Banks,
       RELOCT_PAGESEL_BITS,
       0x800,
       {0x1111, 0x2222}},
      {"pagesel_bits, 2 pages: bit 3",
       kTrell2Pages2Banks,
       RELOCT_PAGESEL_BITS,
       0x800,
       {0x158A, 0x2222}},
      {"pagesel_bits, 3 pages: bits 3 and 4",
       kTrell3Pages,
       RELOCT_PAGESEL_BITS,
       0x1000,
       {0x118A, 0x160A}},
      {"pagesel_bits, 4 pages: page 3",
       kTrell4Pages,
       RELOCT_PAGESEL_BITS,
       0x1800,
       {0x158A, 0x160A}},
  });
}

TEST(PatchingTest, BuildsBraskSelectionsForTheBankAndPageCount) {
  expectSequences({
      {"banksel of a gpr: MOVLR",
       kBrask1Page4Banks,
       RELOCT_BANKSEL,
       0x345,
       {0xBA30, 0x2222}},
      {"banksel of an sfr: MOVLB",
       kBrask1Page4Banks,
       RELOCT_BANKSEL,
       0x310,
       {0xB803, 0x2222}},
      {"ibanksel, 8 banks",
       kBrask8Banks,
       RELOCT_IBANKSEL,
       0x720,
       {0xBA70, 0x2222}},
      {"pagesel, 1 page",
       kBrask1Page4Banks,
       RELOCT_PAGESEL,
       0x1234,
       {0xB012, 0x0103}},
      {"pagesel_wreg, 2 pages",
       kBrask2Pages,
       RELOCT_PAGESEL_WREG,
       0x2345,
       {0xB023, 0x0103}},
  });
}

TEST(PatchingTest, BuildsVeskSelectionsForTheBankAndPageCount) {
  expectSequences({
      {"banksel, 1 bank: both words",
       kVesk1Page1Bank,
       RELOCT_BANKSEL,
       0x00,
       {0x4A4, 0x4C4}},
      {"banksel, 2 banks", kVesk2Banks, RELOCT_BANKSEL, 0x20, {0x5A4, 0x4C4}},
      {"banksel, 3 banks", kVesk3Banks, RELOCT_BANKSEL, 0x40, {0x4A4, 0x5C4}},
      {"ibanksel, 4 banks", kVesk4Banks, RELOCT_IBANKSEL, 0x60, {0x5A4, 0x5C4}},
      {"pagesel, 1 page: nothing",
       kVesk1Page1Bank,
       RELOCT_PAGESEL,
       0x200,
       {0x1111, 0x2222}},
      {"pagesel, 2 pages: one word",
       kVesk2Pages1Bank,
       RELOCT_PAGESEL,
       0x200,
       {0x5A3, 0x2222}},
      {"pagesel, 4 pages", kVesk4Pages, RELOCT_PAGESEL, 0x400, {0x4A3, 0x5C3}},
      {"pagesel_bits, 4 pages",
       kVesk4Pages,
       RELOCT_PAGESEL_BITS,
       0x600,
       {0x5A3, 0x5C3}},
  });
}

TEST(PatchingTest, RefusesTypesTheFamilyDoesNotAccept) {
  const std::vector<std::pair<ProcessorId, std::vector<std::uint16_t>>>
      accepted = {
          {kTrell4Pages, {1, 2, 3, 4, 6, 7, 8, 9, 10, 23, 24}},
          {kBrask2Pages, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 23}},
          {kVesk4Pages, {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 24}},
          {kQuolm, {1,  2,  3,  4,  6,  8,  9,  10, 13, 14, 15, 16, 17,
                    18, 19, 20, 21, 22, 25, 26, 27, 28, 29, 30, 31, 32}},
      };
  for (const auto &family : accepted) {
    for (std::uint16_t type = 0; type <= 34; ++type) {
      SCOPED_TRACE("processor " + std::to_string(family.first) + ", type " +
                   std::to_string(type));
      // A section reference, so that the section-size types can pass.
      const Outcome outcome =
          patchOne(family.first, {{0, 0}, type, 0, 0, 0, "..code"});
      const bool accepts =
          std::count(family.second.begin(), family.second.end(), type) != 0;
      EXPECT_EQ(outcome.result, accepts ? 1 : 0);
      EXPECT_EQ(outcome.error,
                accepts ? "" : where("unsupported relocation type."));
    }
  }
}

TEST(PatchingTest, QuolmCallTargetMustBeWordAligned) {
  for (std::uint16_t type : {RELOCT_CALL, RELOCT_GOTO}) {
    const Outcome outcome = patchOne(kQuolm, {{0xEC00}, type, 0x1235});
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.error,
              where("Symbol 'target' is not word-aligned.\nIt cannot be used "
                    "as the target of a call or goto instruction."));
    EXPECT_EQ(outcome.words, Words{0xEC00});
  }
}

TEST(PatchingTest, QuolmRefusesStackAndPclAsMovffDestination) {
  const std::vector<std::pair<std::uint32_t, std::string>> cases = {
      {0xFFF, "TOSU"}, {0xFFE, "TOSH"}, {0xFFD, "TOSL"}, {0xFF9, "PCL"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.second);
    const Outcome outcome = patchOne(kQuolm, {{0xF000}, RELOCT_FF2, c.first});
    EXPECT_EQ(outcome.error,
              where(c.second + " cannot be used as the destination of a MOVFF "
                               "instruction."));
    // The source of a MOVFF may be any register.
    EXPECT_EQ(patchOne(kQuolm, {{0xC000}, RELOCT_FF1, c.first}).result, 1);
  }
}

struct BranchCase {
  const char *what;
  std::uint16_t type;
  std::int32_t offset; // from the instruction after the branch
  Words after;         // empty: refused with the text
  std::string text;
};

TEST(PatchingTest, QuolmBranchesTestRangeBeforeAlignment) {
  const std::string range =
      "Symbol 'target' out of range of relative branch instruction.";
  const std::string aligned =
      "Symbol 'target' is not word-aligned.\nIt cannot be used as the "
      "target of a call or goto instruction.";
  const std::vector<BranchCase> cases = {
      {"bra, furthest forward", RELOCT_BRA, 2046, {0xD3FF}, ""},
      {"bra, one word too far", RELOCT_BRA, 2048, {}, range},
      {"bra, furthest back", RELOCT_BRA, -2048, {0xD400}, ""},
      {"bra, too far back", RELOCT_BRA, -2050, {}, range},
      {"bra, to the next instruction", RELOCT_BRA, 0, {0xD000}, ""},
      {"bra, to itself", RELOCT_BRA, -2, {0xD7FF}, ""},
      {"bra, odd in range", RELOCT_BRA, 5, {}, aligned},
      {"bra, odd out of range", RELOCT_BRA, 2049, {}, range},
      {"condbra, furthest forward", RELOCT_CONDBRA, 254, {0xE07F}, ""},
      {"condbra, too far", RELOCT_CONDBRA, 256, {}, range},
      {"condbra, furthest back", RELOCT_CONDBRA, -256, {0xE080}, ""},
      {"condbra, too far back", RELOCT_CONDBRA, -258, {}, range},
      {"condbra, odd backward", RELOCT_CONDBRA, -3, {}, aligned},
  };
  // The branch is the third word of a piece loaded at 0x1000.
  const std::uint32_t next = 0x1000 + 4 + 2;
  for (const BranchCase &c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint16_t opcode = c.type == RELOCT_BRA ? 0xD000 : 0xE000;
    const Outcome outcome = patchOne(kQuolm,
                                     {{0, 0, opcode},
                                      c.type,
                                      std::uint32_t(next + c.offset),
                                      0,
                                      4,
                                      "target"},
                                     0x1000);
    EXPECT_EQ(outcome.error, c.text.empty() ? "" : where(c.text));
    EXPECT_EQ(outcome.words[2], c.after.empty() ? opcode : c.after[0]);
  }
}

TEST(PatchingTest, QuolmBranchCountsFromItsOwnInputsPiece) {
  PatchLinker link(kQuolm, 0x100);
  link.add(CoffBuilder().section(".code", kScnTypeCode).words({0, 0}).build());
  // The second input's piece starts at 0x104; its branch word at 0x106
  // targets 0x100, 8 bytes back from 0x108.
  link.add(inputBuilder({{0, 0xD000}, RELOCT_BRA, 0x100, 0, 2}).build());
  link.place();
  std::string error;
  ASSERT_EQ(link.linker.patchSections(error), 1) << error;
  EXPECT_EQ(link.words(1), (Words{0, 0xD7FC}));
}

TEST(PatchingTest, QuolmAccessBitFollowsTheAccessBankMemories) {
  const std::vector<std::pair<std::uint32_t, std::uint16_t>> cases = {
      {0x5F, 0x6E5F}, {0x60, 0x6F60}, {0xF60, 0x6E60}, {0xF5F, 0x6F5F}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.first);
    PatchLinker link(kQuolm);
    link.linker.cAccessBanks.emplace_back("accessram", 0x00, 0x5F, kDataMemory,
                                          0, 0, "");
    link.linker.cAccessBanks.emplace_back("accesssfr", 0xF60, 0xFFF,
                                          kDataMemory, 1, 0, "");
    // The F relocation writes the address; ACCESS only bit 8.
    link.add(CoffBuilder()
                 .section(".code", kScnTypeCode)
                 .words({0x6E00 | 0x100})
                 .reloc(0, "reg", RELOCT_F)
                 .reloc(0, "reg", RELOCT_ACCESS)
                 .symbol("reg", c.first, kScnNumAbsolute, kClassExternal)
                 .build());
    link.place();
    std::string error;
    ASSERT_EQ(link.linker.patchSections(error), 1) << error;
    EXPECT_EQ(link.words(), Words{c.second});
  }
}

TEST(PatchingTest, QuolmSectionSizeAndEndOfAReferencedSection) {
  struct Case {
    std::uint16_t type;
    std::int16_t addend;
    std::uint16_t after;
  };
  // A 16-byte section ".data" at 0x1234, named by its reference "..data".
  const std::vector<Case> cases = {
      {RELOCT_SCNSZ_LOW, 0, 0x0E10},    {RELOCT_SCNSZ_HIGH, 0x100, 0x0E01},
      {RELOCT_SCNSZ_UPPER, 0, 0x0E00},  {RELOCT_SCNEND_LOW, 0, 0x0E43},
      {RELOCT_SCNEND_LOW, 2, 0x0E45},   {RELOCT_SCNEND_HIGH, 0, 0x0E12},
      {RELOCT_SCNEND_UPPER, 0, 0x0E00}, {RELOCT_SCNEND_LFSR1, 0, 0x0E02},
      {RELOCT_SCNEND_LFSR2, 0, 0x0E43},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.addend));
    PatchLinker link(kQuolm);
    link.add(inputBuilder({{0x0E00}, c.type, 0x1234, c.addend, 0, "..data"})
                 .build());
    link.place();
    link.linker.cScnSize[".data"] = 16;
    std::string error;
    ASSERT_EQ(link.linker.patchSections(error), 1) << error;
    EXPECT_EQ(link.words(), Words{c.after});
  }
}

TEST(PatchingTest, SectionSizeOfASymbolThatIsNoSectionIsRefused) {
  for (const char *name : {"target", "..nosuch"}) {
    SCOPED_TRACE(name);
    PatchLinker link(kQuolm);
    link.add(inputBuilder({{0x0E00}, RELOCT_SCNSZ_LOW, 0, 0, 0, name}).build());
    link.place();
    std::string error;
    EXPECT_EQ(link.linker.patchSections(error), 0);
    EXPECT_EQ(error, where("Symbol '" + std::string(name + (name[0] == '.')) +
                           "' is not a section."));
    // No section is made up on the way.
    EXPECT_EQ(link.linker.cScnSize.size(), 1u);
  }
}

TEST(PatchingTest, RefusesRelocationsOutsideTheSectionData) {
  struct Case {
    const char *what;
    ProcessorId processor;
    std::uint16_t type;
    std::uint32_t offset;
  };
  const std::vector<Case> cases = {
      {"word past the end", kTrell4Pages, RELOCT_LOW, 4},
      {"half a word", kTrell4Pages, RELOCT_LOW, 3},
      {"offset that wraps", kQuolm, RELOCT_ALL, 0xFFFFFFFF},
      {"second word of pagesel", kTrell4Pages, RELOCT_PAGESEL, 2},
      {"second word of banksel", kVesk1Page1Bank, RELOCT_BANKSEL, 2},
      {"second word of page bits", kTrell3Pages, RELOCT_PAGESEL_BITS, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome outcome =
        patchOne(c.processor, {{0x1111, 0x2222}, c.type, 0x1FFF, 0, c.offset});
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.error, where("relocation outside the section data."));
    EXPECT_EQ(outcome.words, (Words{0x1111, 0x2222}));
  }
  // A one-word form fits in the last word.
  EXPECT_EQ(patchOne(kTrell2Pages2Banks,
                     {{0x1111, 0x2222}, RELOCT_PAGESEL_BITS, 0x800, 0, 2})
                .words,
            (Words{0x1111, 0x158A}));
}

TEST(PatchingTest, RefusesRelocationsInAnEmptySection) {
  // An empty section is never placed; its relocation must not get as far as
  // asking where the section lies.
  PatchLinker link(kTrell4Pages);
  link.add(CoffBuilder()
               .section(".code", kScnTypeCode)
               .words({0})
               .section(".empty", kScnTypeCode)
               .reloc(0, "target", RELOCT_LOW)
               .symbol("target", 0, kScnNumAbsolute, kClassExternal)
               .build());
  link.place();
  std::string error;
  EXPECT_EQ(link.linker.patchSections(error), 0);
  EXPECT_EQ(error, "file './in1.o', section '.empty', relocation outside the "
                   "section data.");
}

TEST(PatchingTest, RefusesAnInvalidSymbolIndex) {
  for (ProcessorId processor : {kTrell4Pages, kVesk4Pages, kQuolm}) {
    SCOPED_TRACE(processor);
    PatchLinker link(processor);
    Coff coff = inputBuilder({{0x0800}, RELOCT_CALL, 0x10}).build();
    coff.cReloc[".code"][0].r_symndx = std::uint32_t(coff.cSymbolTbl.size());
    link.add(coff);
    link.place();
    const std::string text = where("relocation with an invalid symbol index.");
    // Only the 12-bit family looks at call targets before patching.
    const bool checksCalls = procFamily(processor) == Vesk;
    std::string error;
    EXPECT_EQ(link.linker.verifyRelocations(error), checksCalls ? 0 : 1);
    EXPECT_EQ(error, checksCalls ? text : "");
    error.clear();
    EXPECT_EQ(link.linker.patchSections(error), 0);
    EXPECT_EQ(error, text);
    EXPECT_EQ(link.words(), Words{0x0800});
  }
}

TEST(PatchingTest, VeskCallsMustTargetTheLowerHalfOfAPage) {
  struct Case {
    ProcessorId processor;
    std::uint32_t target;
    int passes;
  };
  const std::vector<Case> cases = {{kVesk4Pages, 0x2FF, 1},
                                   {kVesk4Pages, 0x300, 0},
                                   {kVesk4Pages, 0x5FF, 0},
                                   {kVesk4Pages, 0x600, 1},
                                   {kTrell4Pages, 0x300, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.target);
    PatchLinker link(c.processor);
    link.add(
        inputBuilder({{0x900}, RELOCT_CALL, c.target, 0, 0, ".fn"}).build());
    link.place();
    std::string error;
    EXPECT_EQ(link.linker.verifyRelocations(error), c.passes);
    EXPECT_EQ(error, c.passes ? ""
                              : where("performs a call to \n symbol '.fn' "
                                      "which is not in the lower half of a "
                                      "page."));
  }
}

TEST(PatchingTest, ManyInputsPatchAndReportTheFirstFailureInInputOrder) {
  // Enough inputs for the work to be shared among threads. Each input's
  // field gets its own target; of two failing inputs the earlier is named.
  for (int withFailures = 0; withFailures < 2; ++withFailures) {
    SCOPED_TRACE(withFailures);
    PatchLinker link(kTrell4Pages);
    for (std::uint32_t i = 0; i < 200; ++i) {
      Coff coff = inputBuilder({{0x3000}, RELOCT_LOW, i}).build();
      if (withFailures && (i == 120 || i == 150))
        coff.cReloc[".code"][0].r_symndx = 7;
      link.add(coff);
    }
    link.place();
    std::string error;
    EXPECT_EQ(link.linker.patchSections(error), withFailures ? 0 : 1);
    EXPECT_EQ(error, withFailures ? "file './in121.o', section '.code', "
                                    "relocation with an invalid symbol index."
                                  : "");
    for (InputIndex i = 0; i < 120; ++i)
      EXPECT_EQ(link.words(i), Words{std::uint16_t(0x3000 | (i & 0xFF))});
  }
}

TEST(PatchingTest, AnInputWithAMessageSpeaksBeforeALaterFailingInput) {
  // One input names a symbol whose long name is missing from its string
  // table: reading the name ends the run, and nothing a later input does
  // may come first.
  EXPECT_EXIT(
      {
        PatchLinker link(kQuolm);
        for (std::uint32_t i = 0; i < 200; ++i) {
          Coff coff = inputBuilder({{0x0E00}, RELOCT_LOW, i}).build();
          if (i == 90)
            coff.cSymbolTbl[0].setNameOffset(0x7777);
          if (i == 150)
            coff.cReloc[".code"][0].r_symndx = 7;
          link.add(coff);
        }
        link.place();
        std::string error;
        link.linker.patchSections(error);
        std::exit(0);
      },
      ::testing::ExitedWithCode(255),
      "Unable to find symbol name in string table");
}

TEST(PatchingTest, StopsAtTheFirstFailureKeepingEarlierPatches) {
  PatchLinker link(kTrell4Pages);
  link.add(CoffBuilder()
               .section(".code", kScnTypeCode)
               .words({0x3000, 0x3000, 0x3000})
               .reloc(0, "target", RELOCT_LOW)
               .reloc(2, "target", RELOCT_P)
               .reloc(4, "target", RELOCT_LOW)
               .symbol("target", 0x55, kScnNumAbsolute, kClassExternal)
               .build());
  link.place();
  std::string error;
  EXPECT_EQ(link.linker.patchSections(error), 0);
  EXPECT_EQ(error, where("unsupported relocation type."));
  EXPECT_EQ(link.words(), (Words{0x3055, 0x3000, 0x3000}));
}

} // namespace
