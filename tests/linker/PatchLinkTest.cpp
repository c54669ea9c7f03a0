// Relocation patching through the linker: one object per family with an
// absolute code section and absolute symbols, linked with _orvane and read
// back from the output file.
#include "CoffBuilder.h"
#include "LinkerRun.h"
#include "linker/RelocTypes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::uint16_t>;

// Words of the section, the relocations at their first word, and the words
// the linker must leave there.
struct Patch {
  const char *what;
  std::vector<std::uint16_t> types;
  std::string symbol;
  Words before;
  Words after;
  std::int16_t addend = 0;
};

struct Symbol {
  std::string name;
  std::uint32_t value;
};

struct FamilyLink {
  const char *family;
  std::uint16_t deviceCode;
  std::string commandFile;
  std::vector<Symbol> symbols;
  std::vector<Patch> patches;
};

CoffBuilder objectFor(const FamilyLink &link) {
  CoffBuilder builder;
  builder.processor(link.deviceCode).section(".code", kScnTypeCode).at(0);
  std::uint32_t offset = 0;
  for (const Patch &patch : link.patches) {
    builder.words(patch.before);
    for (std::uint16_t type : patch.types)
      builder.reloc(offset, patch.symbol, type, patch.addend);
    offset += std::uint32_t(2 * patch.before.size());
  }
  for (const Symbol &symbol : link.symbols)
    builder.symbol(symbol.name, symbol.value, kScnNumAbsolute, kClassExternal);
  // The section's own reference for the size and end relocations.
  builder.external("..code");
  return builder;
}

Words sectionWords(const Coff &coff, const std::string &name) {
  Words words;
  const auto raw = coff.cRawData.find(name);
  if (raw == coff.cRawData.end())
    return words;
  for (std::uint32_t i = 0; i + 1 < raw->second.size(); i += 2)
    words.push_back(std::uint16_t(raw->second.bytes()[i] |
                                  raw->second.bytes()[i + 1] << 8));
  return words;
}

class PatchLinkTest : public LinkerRun {
protected:
  void expectLinked(const FamilyLink &link) {
    SCOPED_TRACE(link.family);
    cDir.write("t.o", objectFor(link).fileBytes());
    cDir.write("t.lkr", link.commandFile);
    const ProcessResult result = this->link({"t.o", "t.lkr", "/o", "t.out"});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const std::unique_ptr<Coff> out = Coff::make(cDir.path() + "/t.out");
    ASSERT_TRUE(out);
    const Words words = sectionWords(*out, ".code");
    std::size_t at = 0;
    for (const Patch &patch : link.patches) {
      SCOPED_TRACE(patch.what);
      ASSERT_LE(at + patch.after.size(), words.size());
      EXPECT_EQ(
          Words(words.begin() + at, words.begin() + at + patch.after.size()),
          patch.after);
      at += patch.before.size();
    }
  }

  void expectRefusedLink(const CoffBuilder &object,
                         const std::string &commandFile,
                         const std::string &message) {
    cDir.write("t.o", object.fileBytes());
    cDir.write("t.lkr", commandFile);
    const ProcessResult result = link({"t.o", "t.lkr", "/o", "t.out"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Error - " + message + "\n");
    EXPECT_EQ(readFile(cDir.path() + "/t.out"), "");
  }
};

const char *const kTrellCommands = "CODEPAGE NAME=page START=0x0 END=0x7FF\n"
                                   "DATABANK NAME=gpr0 START=0x20 END=0x6F\n";
const char *const kBraskCommands = "CODEPAGE NAME=page START=0x0 END=0x1FFF\n"
                                   "DATABANK NAME=gpr0 START=0x20 END=0xFF\n";
const char *const kVeskCommands = "CODEPAGE NAME=page START=0x0 END=0x1FF\n"
                                  "DATABANK NAME=gpr0 START=0x08 END=0x1F\n";
const char *const kQuolmCommands =
    "CODEPAGE NAME=page START=0x0 END=0x7FFF\n"
    "ACCESSBANK NAME=accessram START=0x0 END=0x5F\n"
    "DATABANK NAME=gpr0 START=0x60 END=0xFF\n";

TEST_F(PatchLinkTest, PatchesEveryTrellRelocationType) {
  expectLinked(
      {"Trell",
       0x1055, // four pages, four banks
       kTrellCommands,
       {{"fn", 0x1234}, {"reg", 0x1A5}},
       {
           {"call", {RELOCT_CALL}, "fn", {0x2000}, {0x2234}},
           {"goto", {RELOCT_GOTO}, "fn", {0x2800}, {0x2A34}},
           {"high", {RELOCT_HIGH}, "fn", {0x3000}, {0x3012}},
           {"low, with addend", {RELOCT_LOW}, "fn", {0x3000}, {0x3036}, 2},
           {"all", {RELOCT_ALL}, "fn", {0x0000}, {0x1234}},
           {"file register", {RELOCT_F}, "reg", {0x0080}, {0x00A5}},
           {"banksel", {RELOCT_BANKSEL}, "reg", {0, 0}, {0x1683, 0x1703}},
           {"ibanksel", {RELOCT_IBANKSEL}, "reg", {0}, {0x1783}},
           {"pagesel", {RELOCT_PAGESEL}, "fn", {0, 0}, {0x3012, 0x008A}},
           {"pagesel_wreg",
            {RELOCT_PAGESEL_WREG},
            "fn",
            {0, 0},
            {0x3012, 0x008A}},
           {"pagesel_bits",
            {RELOCT_PAGESEL_BITS},
            "fn",
            {0, 0},
            {0x118A, 0x160A}},
       }});
}

TEST_F(PatchLinkTest, PatchesEveryBraskRelocationType) {
  expectLinked(
      {"Brask",
       0x2008, // two pages, eight banks
       kBraskCommands,
       {{"fn", 0x3ABC}, {"reg", 0x345}, {"sfr", 0x310}},
       {
           {"call", {RELOCT_CALL}, "fn", {0xE000}, {0xFABC}},
           {"goto", {RELOCT_GOTO}, "fn", {0xC000}, {0xDABC}},
           {"high", {RELOCT_HIGH}, "fn", {0xB000}, {0xB03A}},
           {"low", {RELOCT_LOW}, "fn", {0xB000}, {0xB0BC}},
           {"all", {RELOCT_ALL}, "fn", {0x0000}, {0x3ABC}},
           {"p", {RELOCT_P}, "reg", {0x0000}, {0x0500}},
           {"file register", {RELOCT_F}, "reg", {0x0100}, {0x0145}},
           {"movlr", {RELOCT_MOVLR}, "reg", {0xBA00}, {0xBA30}},
           {"movlb", {RELOCT_MOVLB}, "reg", {0xB800}, {0xB803}},
           {"banksel of a gpr", {RELOCT_BANKSEL}, "reg", {0}, {0xBA30}},
           {"ibanksel of an sfr", {RELOCT_IBANKSEL}, "sfr", {0}, {0xB803}},
           {"pagesel", {RELOCT_PAGESEL}, "fn", {0, 0}, {0xB03A, 0x0103}},
           {"pagesel_wreg",
            {RELOCT_PAGESEL_WREG},
            "fn",
            {0, 0},
            {0xB03A, 0x0103}},
       }});
}

TEST_F(PatchLinkTest, PatchesEveryVeskRelocationType) {
  expectLinked(
      {"Vesk",
       0x301A, // four pages, four banks
       kVeskCommands,
       {{"fn", 0x2AB}, {"reg", 0x47}, {"port", 6}},
       {
           {"call", {RELOCT_CALL}, "fn", {0x900}, {0x9AB}},
           {"goto", {RELOCT_GOTO}, "fn", {0xA00}, {0xAAB}},
           {"high", {RELOCT_HIGH}, "fn", {0xC00}, {0xC02}},
           {"low", {RELOCT_LOW}, "fn", {0xC00}, {0xCAB}},
           {"all", {RELOCT_ALL}, "fn", {0x000}, {0x2AB}},
           {"file register", {RELOCT_F}, "reg", {0x020}, {0x027}},
           {"tris", {RELOCT_TRIS}, "port", {0x000}, {0x006}},
           {"banksel", {RELOCT_BANKSEL}, "reg", {0, 0}, {0x4A4, 0x5C4}},
           {"ibanksel", {RELOCT_IBANKSEL}, "reg", {0, 0}, {0x4A4, 0x5C4}},
           {"pagesel", {RELOCT_PAGESEL}, "fn", {0, 0}, {0x5A3, 0x4C3}},
           {"pagesel_bits",
            {RELOCT_PAGESEL_BITS},
            "fn",
            {0, 0},
            {0x5A3, 0x4C3}},
       }});
}

TEST_F(PatchLinkTest, PatchesEveryQuolmRelocationType) {
  // 22 words (44 bytes) at 0: the section's last byte is 0x2B.
  expectLinked(
      {"Quolm",
       0x400B,
       kQuolmCommands,
       {{"fn", 0x1234}, {"reg", 0x345}, {"acc", 0x45}, {"loop", 0}},
       {
           {"call", {RELOCT_CALL}, "fn", {0xEC00}, {0xEC1A}},
           {"call, second word", {RELOCT_CALL2}, "fn", {0xF000}, {0xF009}},
           {"goto", {RELOCT_GOTO}, "fn", {0xEF00}, {0xEF1A}},
           {"high", {RELOCT_HIGH}, "fn", {0x0E00}, {0x0E12}},
           {"low", {RELOCT_LOW}, "fn", {0x0E00}, {0x0E34}},
           {"upper", {RELOCT_UPPER}, "fn", {0x0E00}, {0x0E00}},
           {"all", {RELOCT_ALL}, "fn", {0x0000}, {0x1234}},
           {"banksel", {RELOCT_BANKSEL}, "reg", {0x0100}, {0x0103}},
           {"ibanksel", {RELOCT_IBANKSEL}, "reg", {0x0100}, {0x0103}},
           {"movlb", {RELOCT_MOVLB}, "reg", {0x0100}, {0x0103}},
           {"banked register",
            {RELOCT_F, RELOCT_ACCESS},
            "reg",
            {0x6E00},
            {0x6F45}},
           {"access register",
            {RELOCT_F, RELOCT_ACCESS},
            "acc",
            {0x6F00},
            {0x6E45}},
           {"lfsr high", {RELOCT_LFSR1}, "reg", {0xEE00}, {0xEE03}},
           {"lfsr low", {RELOCT_LFSR2}, "reg", {0xF000}, {0xF045}},
           {"movff source", {RELOCT_FF1}, "reg", {0xC000}, {0xC345}},
           {"movff destination", {RELOCT_FF2}, "reg", {0xF000}, {0xF345}},
           // At byte 32, 34 bytes back from the next word.
           {"bra", {RELOCT_BRA}, "loop", {0xD000}, {0xD7EF}},
           // At byte 34, 36 bytes back.
           {"condbra", {RELOCT_CONDBRA}, "loop", {0xE000}, {0xE0EE}},
           {"section size", {RELOCT_SCNSZ_LOW}, "..code", {0x0E00}, {0x0E2C}},
           {"section size high",
            {RELOCT_SCNSZ_HIGH},
            "..code",
            {0x0E00},
            {0x0E00}},
           {"section end", {RELOCT_SCNEND_LOW}, "..code", {0x0E00}, {0x0E2B}},
           {"section end, lfsr",
            {RELOCT_SCNEND_LFSR2},
            "..code",
            {0xF000},
            {0xF02B}},
       }});
}

TEST_F(PatchLinkTest, RefusesAVeskCallIntoTheUpperHalfOfAPage) {
  expectRefusedLink(CoffBuilder()
                        .processor(0x301A)
                        .section(".code", kScnTypeCode)
                        .at(0)
                        .words({0x900})
                        .reloc(0, "far", RELOCT_CALL)
                        .symbol("far", 0x100, kScnNumAbsolute, kClassExternal),
                    kVeskCommands,
                    "file './t.o', section '.code', performs a call to \n "
                    "symbol 'far' which is not in the lower half of a page.");
}

TEST_F(PatchLinkTest, RefusesARelocationOutsideTheSectionData) {
  expectRefusedLink(CoffBuilder()
                        .processor(0x1055)
                        .section(".code", kScnTypeCode)
                        .at(0)
                        .words({0, 0})
                        .reloc(2, "fn", RELOCT_PAGESEL)
                        .symbol("fn", 0x800, kScnNumAbsolute, kClassExternal),
                    kTrellCommands,
                    "file './t.o', section '.code', relocation outside the "
                    "section data.");
}

TEST_F(PatchLinkTest, RefusesAnOddQuolmBranchTarget) {
  expectRefusedLink(
      CoffBuilder()
          .processor(0x400B)
          .section(".code", kScnTypeCode)
          .at(0)
          .words({0xD000})
          .reloc(0, "odd", RELOCT_BRA)
          .symbol("odd", 0x11, kScnNumAbsolute, kClassExternal),
      kQuolmCommands,
      "file './t.o', section '.code', Symbol 'odd' is not word-aligned.\nIt "
      "cannot be used as the target of a call or goto instruction.");
}

} // namespace
