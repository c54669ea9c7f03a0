// The converter's command line, its refusals, paging, includes and the
// code image across 64 KB directories.
#include "CodTestSupport.h"
#include "CoffBuilder.h"

#include <gtest/gtest.h>

namespace {

const char *const UsageLine = "Usage: cirrow [-n, /n <listingPageLength>] "
                              "[-d, /d] [-q, /q] <coffFile>\n";
const char *const BannerLines = "CIRROW 2.40.00, COFF to COD File Converter\n"
                                "Copyright (c) 2026 The Orvane Toolchain "
                                "Authors\n";

// A Trell program whose only source file is `source`: one code word per
// listed line number.
CoffBuilder trellProgram(const std::string &source,
                         const std::vector<std::uint16_t> &codeLines = {}) {
  CoffBuilder builder;
  builder.processor(0x1001, 14)
      .fileFlags(kFileExecutable)
      .fileSymbol(source)
      .section(".code", kScnTypeCode)
      .at(0);
  std::vector<std::uint16_t> words(codeLines.size(), 0x0000);
  builder.words(words.empty() ? std::vector<std::uint16_t>{0} : words);
  for (std::size_t i = 0; i < codeLines.size(); ++i)
    builder.line(codeLines[i], static_cast<std::uint32_t>(i), 0);
  builder.symbol(".eof", 0, kScnNumDebug, kClassLabel);
  builder.global("main", 0, ".code");
  return builder;
}

std::size_t countLines(const std::string &text, const std::string &line) {
  std::size_t count = 0;
  for (const std::string &l : splitLines(text))
    count += l == line ? 1 : 0;
  return count;
}

TEST(CirrowCommandLine, UsageErrorsExitOneWithoutSummary) {
  struct Case {
    std::vector<std::string> args;
    std::string out, err;
  } cases[] = {
      {{}, BannerLines, UsageLine},
      {{"-q"}, "", ""},
      {{"-x", "a.out"}, BannerLines, UsageLine},
      {{"a.out", "-n"}, BannerLines, UsageLine},
      {{"a.cof", "b.cof"}, BannerLines, UsageLine},
      // An empty argument is a file name too: the second one is too many.
      {{"", "a.out"}, BannerLines, UsageLine},
  };
  TempDir tmp;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.front());
    ProcessResult run = runCirrow(tmp, c.args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
}

TEST(CirrowCommandLine, TakesAnEmptyArgumentAsTheFileName) {
  TempDir tmp;
  ProcessResult run = runCirrow(tmp, {""});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, std::string(BannerLines) + "Errors    : 1\n\n");
  EXPECT_EQ(run.err, "Error - Could not open Coff file '' for reading.\n");
}

TEST(CirrowCommandLine, PageLengthTakesTheNextArgumentWhateverItIs) {
  TempDir tmp;
  tmp.write("a.asm", "one\n");
  trellProgram("a.asm").writeTo(tmp.file("a.out"));
  // "-d" is the page length here, so a listing is written and no warning.
  ProcessResult run = runCirrow(tmp, {"-n", "-d", "-v", "a.out"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(tmp.exists("a.lst"));
  EXPECT_TRUE(tmp.exists("a.cod"));
}

TEST(CirrowCommandLine, NoListingIgnoresPageLengthWithAWarning) {
  TempDir tmp;
  tmp.write("a.asm", "one\n");
  trellProgram("a.asm", {1}).writeTo(tmp.file("a.out"));
  ProcessResult run = runCirrow(tmp, {"-N", "40", "/D", "-v", "a.out"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err,
            "Warning - no listing file generated: /n switch ignored\n");
  EXPECT_FALSE(tmp.exists("a.lst"));
  // Only the listing produces line information.
  CodFileReader cod(tmp.read("a.cod"));
  EXPECT_EQ(cod.lineTab(0), 0u);
  EXPECT_EQ(cod.lineEnd(0), 0u);
  EXPECT_NE(cod.symTab(0), 0u);
}

TEST(CirrowCommandLine, CodGoesToTheCurrentDirectoryListingBesideInput) {
  TempDir tmp;
  tmp.write("a.asm", "one\n");
  tmp.write("sub/prog.cof", trellProgram("a.asm").fileBytes());
  ProcessResult run = runCirrow(tmp, {"sub/prog.cof"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(tmp.exists("prog.cod"));
  EXPECT_TRUE(tmp.exists("sub/prog.lst"));
  EXPECT_FALSE(tmp.exists("sub/prog.cod"));
}

TEST(CirrowRefusals, UnreadableInputEndsWithTheSummary) {
  TempDir tmp;
  ProcessResult run = runCirrow(tmp, {"-q", "missing.cof"});
  EXPECT_EQ(run.exitCode, 1);
  run = runCirrow(tmp, {"missing.cof"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Error - "), std::string::npos);
  EXPECT_NE(run.out.find("Errors    : 1\n"), std::string::npos);
}

TEST(CirrowRefusals, SectionBeyondThe32BitCodeRangeIsRefused) {
  TempDir tmp;
  CoffBuilder()
      .processor(0x1001)
      .section(".code", kScnTypeCode)
      .at(0x80000000) // byte address 0x100000000
      .words({0})
      .writeTo(tmp.file("prog.cof"));
  ProcessResult run = runCirrow(tmp, {"-d", "prog.cof"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Error - Section '.code' in Coff file 'prog.cof' lies "
                     "beyond the 32-bit code address range of a Cod "
                     "file.\n");
  EXPECT_FALSE(tmp.exists("prog.cod"));
}

TEST(CirrowRefusals, UnknownDeviceCodeIsAnErrorNotAnAssertion) {
  TempDir tmp;
  trellProgram("a.asm").processor(0xFFFF).writeTo(tmp.file("prog.cof"));
  ProcessResult run = runCirrow(tmp, {"prog.cof"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Error - Unsupported processor type in file "
                     "'prog.cof'\n");
  EXPECT_FALSE(tmp.exists("prog.cod"));
  EXPECT_FALSE(tmp.exists("prog.lst"));
}

TEST(CirrowRefusals, FileWithoutCodeOrRomdataWritesNothing) {
  TempDir tmp;
  CoffBuilder()
      .processor(0x1001)
      .section(".udata", kScnTypeUdata)
      .zeros(4)
      .section(".idata", kScnTypeIdata)
      .bytes({1, 2})
      .section(".empty", kScnTypeCode)
      .writeTo(tmp.file("prog.cof"));
  ProcessResult run = runCirrow(tmp, {"prog.cof"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Error - Coff file 'prog.cof' must contain at least "
                     "one 'code' or 'romdata' section.\n");
  EXPECT_FALSE(tmp.exists("prog.cod"));
}

TEST(CirrowRefusals, SourceNamesUpToSixtyThreeCharactersOnly) {
  TempDir tmp;
  std::string fits = std::string(59, 'f') + ".asm";
  std::string tooLong = "x" + fits;
  trellProgram(fits).writeTo(tmp.file("ok.cof"));
  trellProgram(tooLong).writeTo(tmp.file("long.cof"));

  ProcessResult run = runCirrow(tmp, {"-d", "ok.cof"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  CodFileReader cod(tmp.read("ok.cod"));
  EXPECT_EQ(cod.text(cod.namTab(0), 0), fits);

  run = runCirrow(tmp, {"long.cof"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Error - Source file '" + tooLong +
                         "' name exceeds file format maximum of 63 "
                         "characters.\n");
  EXPECT_FALSE(tmp.exists("long.cod"));
  EXPECT_FALSE(tmp.exists("long.lst"));
}

TEST(CirrowListing, PageHeaderFollowsEveryNthRow) {
  TempDir tmp;
  tmp.write("a.asm", "1\n2\n3\n4\n");
  trellProgram("a.asm").writeTo(tmp.file("prog.cof"));
  ProcessResult run = runCirrow(tmp, {"-n", "2", "prog.cof"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::string listing = tmp.read("prog.lst");
  std::vector<std::string> lines = splitLines(listing);
  // Rows 1-2, header, rows 3-4, header (even with no row after it).
  EXPECT_EQ(countLines(listing, "\f"), 2u);
  EXPECT_EQ(lines.size(), 7u + 2 + 8 + 2 + 8);
  EXPECT_EQ(lines[9], "\f");
  EXPECT_EQ(lines[10], "CIRROW 2.40.00, COFF to COD File Converter");
  EXPECT_EQ(lines[12], lines[2]); // the first page's time on every page
  EXPECT_EQ(lines.back().substr(0, 16), "-------  -------");
  // Eight records per header, one per row.
  CodFileReader cod(tmp.read("prog.cod"));
  EXPECT_EQ(cod.lineInfo(0).size(), 3u * 8 + 4);

  run = runCirrow(tmp, {"prog.cof"}); // one page without -n
  EXPECT_EQ(countLines(tmp.read("prog.lst"), "\f"), 0u);
}

TEST(CirrowListing, MissingSourceIsAWarningAndTheOthersAreListed) {
  TempDir tmp;
  tmp.write("b.asm", "present\n");
  CoffBuilder builder;
  builder.processor(0x1001).fileSymbol("a.asm").symbol(".eof", 0, kScnNumDebug,
                                                       kClassLabel);
  std::uint32_t b = builder.nextSymbolIndex();
  builder.fileSymbol("b.asm")
      .section(".code", kScnTypeCode)
      .words({0x0785})
      .line(1, 0, b)
      .symbol(".eof", 0, kScnNumDebug, kClassLabel)
      .global("main", 0, ".code")
      .writeTo(tmp.file("prog.cof"));
  ProcessResult run = runCirrow(tmp, {"-v", "prog.cof"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "Warning - Could not open source file 'a.asm'.\n"
                     "This file will not be present in the list file.\n");
  std::vector<std::string> rows = bodyRows(tmp.read("prog.lst"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0],
            listRow("000000", "0785", "ADDWF     0x5,0x1", "present", "b.asm"));
  // b.asm is source number 1; a.asm keeps number 0.
  CodFileReader cod(tmp.read("prog.cod"));
  EXPECT_EQ(cod.lineInfo(0).back().fileNum, 1u);
}

TEST(CirrowListing, IncludesAreNestedAndNolistHoldsUntilList) {
  TempDir tmp;
  tmp.write("main.asm", "m1\n  include inc.inc\nm3\nm4\nm5\n");
  tmp.write("inc.inc", "i1\r\ni2\r\n");
  CoffBuilder()
      .processor(0x1001)
      .fileSymbol("main.asm")
      .fileSymbol("inc.inc", 2)
      .symbol(".eof", 0, kScnNumDebug, kClassLabel)
      .symbol(".nolist", 3, kScnNumDebug, kClassLabel)
      .symbol(".list", 5, kScnNumDebug, kClassLabel)
      .section(".code", kScnTypeCode)
      .words({0x0785})
      .line(1, 0, 2) // i1
      .symbol(".eof", 0, kScnNumDebug, kClassLabel)
      .global("main", 0, ".code")
      .writeTo(tmp.file("prog.cof"));
  ProcessResult run = runCirrow(tmp, {"prog.cof"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> expected = {
      listRow("", "", "", "m1", "main.asm"),
      listRow("", "", "", "  include inc.inc", "main.asm"),
      listRow("000000", "0785", "ADDWF     0x5,0x1", "i1", "inc.inc"),
      listRow("", "", "", "i2", "inc.inc"),
      listRow("", "", "", "m5", "main.asm"),
  };
  EXPECT_EQ(bodyRows(tmp.read("prog.lst")), expected);
}

TEST(CirrowCodeImage, SectionAcrossA64KBoundarySplitsBetweenDirectories) {
  TempDir tmp;
  std::vector<std::uint16_t> words;
  for (std::uint16_t i = 0; i < 16; ++i)
    words.push_back(static_cast<std::uint16_t>(0x100 + i));
  CoffBuilder()
      .processor(0x1001)
      .section(".code", kScnTypeCode)
      .at(0x7FF8) // byte addresses 0xFFF0 to 0x1000F
      .words(words)
      .writeTo(tmp.file("prog.cof"));
  ASSERT_EQ(runCirrow(tmp, {"-d", "prog.cof"}).exitCode, 0);
  CodFileReader cod(tmp.read("prog.cod"));
  ASSERT_EQ(cod.nextDir(0), 1u);
  EXPECT_EQ(cod.highAddr(1), 1u);
  unsigned last0 = cod.index(0, 127), first1 = cod.index(1, 0);
  ASSERT_NE(last0, 0u);
  ASSERT_NE(first1, 0u);
  EXPECT_EQ(cod.u16(last0, 496), 0x100u);
  EXPECT_EQ(cod.u16(last0, 510), 0x107u);
  EXPECT_EQ(cod.u16(first1, 0), 0x108u); // content offset 16
  EXPECT_EQ(cod.u16(first1, 14), 0x10Fu);
  EXPECT_EQ(cod.u16(first1, 16), 0u);
  EXPECT_EQ(cod.u16(cod.memMapOfs(0), 0), 0xFFF0u);
  EXPECT_EQ(cod.u16(cod.memMapOfs(0), 2), 0xFFFFu);
  EXPECT_EQ(cod.u16(cod.memMapOfs(1), 0), 0x0000u);
  EXPECT_EQ(cod.u16(cod.memMapOfs(1), 2), 0x000Fu);
}

TEST(CirrowCodeImage, DirectoriesBetweenSectionsStayEmpty) {
  TempDir tmp;
  CoffBuilder()
      .processor(0x1001)
      .section(".high", kScnTypeRomdata)
      .at(0x10000)   // byte address 0x20000
      .bytes({0xAB}) // ends on an even byte: the map covers the word
      .writeTo(tmp.file("prog.cof"));
  ASSERT_EQ(runCirrow(tmp, {"-d", "prog.cof"}).exitCode, 0);
  CodFileReader cod(tmp.read("prog.cod"));
  EXPECT_EQ(cod.nextDir(0), 1u);
  EXPECT_EQ(cod.nextDir(1), 2u);
  EXPECT_EQ(cod.nextDir(2), 0u);
  for (unsigned slice = 0; slice < 128; ++slice)
    EXPECT_EQ(cod.index(1, slice) + cod.index(0, slice), 0u);
  EXPECT_EQ(cod.memMapOfs(0) + cod.memMapOfs(1), 0u);
  ASSERT_EQ(cod.index(2, 0), 3u);
  EXPECT_EQ(cod.u8(3, 0), 0xAB);
  EXPECT_EQ(cod.u16(cod.memMapOfs(2), 0), 0u);
  EXPECT_EQ(cod.u16(cod.memMapOfs(2), 2), 1u);
  EXPECT_EQ(cod.blockCount(), 5u);
}

} // namespace
