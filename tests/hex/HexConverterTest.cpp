// Black-box tests of pelmat: linked files built with the test object
// builder, the converter run in a temporary directory, its files compared
// byte for byte.
#include "CoffBuilder.h"
#include "HexRecords.h"
#include "ProcessRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Words = std::vector<std::string>;

const char kEnd[] = ":00000001FF\n";
const char kSegment0[] = ":020000040000FA\n";
const char kSummary[] = "Errors    : 0\n\n";
const char kUsage[] =
    "Usage: pelmat [/a <hexformat>] [/r 0xBBBB-0xEEEE]... [/q] <coffFile>\n"
    "   where, <hexformat> is {INHX32, INHX8S, INHX8M} \n"
    "          0xBBBB is the beginning program memory address of a range to "
    "include\n"
    "          0xEEEE is the ending program memory address of a range to "
    "include\n"
    "   If no /r option is present, all rom sections will be included.\n\n";

std::vector<std::uint8_t> counting(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

// A linked file for a word-addressed processor (two bytes per address).
CoffBuilder linked() {
  CoffBuilder builder;
  builder.processor(0x2001, 16).fileFlags(kFileExecutable);
  return builder;
}

class Pelmat : public ::testing::Test {
protected:
  ProcessResult run(const Words &args) {
    ProcessOptions options;
    options.workDir = cDir.path();
    return runProcess(programPath("pelmat"), args, options);
  }

  // Writes the object as prog.cof and converts it.
  ProcessResult convert(const CoffBuilder &builder, Words args) {
    builder.writeTo(cDir.file("prog.cof"));
    args.push_back("prog.cof");
    return run(args);
  }

  TempDir cDir;
};

TEST_F(Pelmat, PadsOddSectionAndPlacesItAtByteAddress) {
  ProcessResult result = convert(
      linked().section(".code", kScnTypeCode).at(0x10).bytes({1, 2, 3, 4, 5}),
      {});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "PELMAT 2.40.00, COFF to HEX File Converter\n"
                        "Copyright (c) 2026 The Orvane Toolchain Authors\n" +
                            std::string(kSummary));
  EXPECT_EQ(cDir.read("prog.hex"),
            kSegment0 + std::string(":06002000010203040500CB\n") + kEnd);
}

TEST_F(Pelmat, ByteAddressedOddSectionDoesNotPadOverItsNeighbour) {
  // Byte-addressed program memory: a 3-byte romdata section at 0x10 is
  // followed directly by code at 0x13; padding would put 0x00 at 0x13 too.
  CoffBuilder builder;
  builder.processor(0x2001, 8).fileFlags(kFileExecutable);
  builder.section("a_data", kScnTypeRomdata).at(0x10).bytes({1, 2, 3});
  builder.section("b_code", kScnTypeCode).at(0x13).bytes({4, 5});
  ProcessResult result = convert(builder, {});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(cDir.read("prog.hex"), kSegment0 +
                                       std::string(":03001000010203E7\n"
                                                   ":020013000405E2\n") +
                                       kEnd);
}

struct FormatCase {
  const char *format; // nullptr: the default
  std::vector<std::pair<std::string, std::string>> files;
};

TEST_F(Pelmat, WritesEachFormatExactly) {
  const std::string data = ":040100001122334451\n";
  const FormatCase cases[] = {
      {nullptr, {{"prog.hex", kSegment0 + data + kEnd}}},
      {"INHX32", {{"prog.hex", kSegment0 + data + kEnd}}},
      {"INHX8M", {{"prog.hex", data + kEnd}}},
      {"INHX8S",
       {{"prog.hxl", ":0200800011333A\n" + std::string(kEnd)},
        {"prog.hxh", ":02008000224418\n" + std::string(kEnd)}}},
  };
  for (const FormatCase &c : cases) {
    SCOPED_TRACE(c.format ? c.format : "default");
    TempDir dir;
    Words args;
    if (c.format)
      args = {"/a", c.format};
    args.push_back(cDir.file("prog.cof"));
    linked()
        .section(".code", kScnTypeCode)
        .at(0x80)
        .bytes({0x11, 0x22, 0x33, 0x44})
        .writeTo(cDir.file("prog.cof"));
    ProcessOptions options;
    options.workDir = dir.path();
    ProcessResult result = runProcess(programPath("pelmat"), args, options);
    EXPECT_EQ(result.exitCode, 0);
    for (const auto &file : c.files)
      EXPECT_EQ(dir.read(file.first), file.second) << file.first;
    for (const char *name : {"prog.hex", "prog.hxl", "prog.hxh"}) {
      bool expected = false;
      for (const auto &file : c.files)
        expected = expected || file.first == name;
      EXPECT_EQ(dir.exists(name), expected) << name;
    }
  }
}

// A section too large to stand in memory as text at once comes out as
// the records of one run, in every format.
TEST_F(Pelmat, LargeSectionGivesTheRecordsOfOneRun) {
  const std::vector<std::uint8_t> bytes = counting(40001); // padded: 40002
  std::vector<std::uint8_t> padded = bytes;
  padded.push_back(0);
  linked()
      .section(".code", kScnTypeCode)
      .at(0x123)
      .bytes(bytes)
      .writeTo(cDir.file("prog.cof"));
  const std::pair<const char *, HexFormat> formats[] = {
      {"INHX32", HexFormat::Inhx32},
      {"INHX8M", HexFormat::Inhx8m},
      {"INHX8S", HexFormat::Inhx8s}};
  for (const auto &format : formats) {
    SCOPED_TRACE(format.first);
    HexRecordWriter expected(format.second);
    ASSERT_TRUE(expected.addBytes(2 * 0x123, padded.data(), padded.size()));
    expected.finish();
    ProcessResult result = run({"/q", "/a", format.first, "prog.cof"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    if (format.second == HexFormat::Inhx8s) {
      EXPECT_EQ(cDir.read("prog.hxl"), expected.text());
      EXPECT_EQ(cDir.read("prog.hxh"), expected.highText());
    } else {
      EXPECT_EQ(cDir.read("prog.hex"), expected.text());
    }
  }
}

TEST_F(Pelmat, TakesOnlyProgramMemorySectionsInAddressOrder) {
  ProcessResult result = convert(linked()
                                     .section(".a", kScnTypeCode)
                                     .at(0x40)
                                     .bytes({0xC0, 0xC1})
                                     .section(".b", kScnTypeRomdata)
                                     .at(0x20)
                                     .bytes({0xB0, 0xB1})
                                     .section(".c", kScnTypeCode)
                                     .at(0)
                                     .bytes({0xA0, 0xA1})
                                     .section(".d", kScnTypeIdata)
                                     .at(0x60)
                                     .bytes({0xD0, 0xD1})
                                     .section(".e", kScnTypeUdata)
                                     .at(0x70)
                                     .zeros(2),
                                 {"/a", "INHX8M"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(cDir.read("prog.hex"), ":02000000A0A1BD\n"
                                   ":02004000B0B15D\n"
                                   ":02008000C0C1FD\n" +
                                       std::string(kEnd));
}

TEST_F(Pelmat, WritesOnlyEndRecordWithoutProgramMemoryData) {
  ProcessResult result =
      convert(linked().section(".udata", kScnTypeUdata).at(0x20).zeros(4), {});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(cDir.read("prog.hex"), kEnd);
}

struct RangeCase {
  const char *name;
  Words ranges;
  std::string records;
};

TEST_F(Pelmat, SelectsAddressRangesInWordUnits) {
  const RangeCase cases[] = {
      {"one range", {"/r", "0x10-0x11"}, ":040020002021222356\n"},
      {"decimal range", {"/r", "16-17"}, ":040020002021222356\n"},
      {"two runs in one section",
       {"/r", "2-2", "/r", "0x8-0x9"},
       ":020004000405F1\n:0400100010111213A6\n"},
      {"range across two sections",
       {"/r", "0x0E-0x20"},
       ":04001C001C1D1E1F6A\n:080020002021222324252627BC\n"
       ":02004000B0B15D\n"},
  };
  for (const RangeCase &c : cases) {
    SCOPED_TRACE(c.name);
    Words args = c.ranges;
    args.insert(args.end(), {"/a", "INHX8M"});
    ProcessResult result = convert(linked()
                                       .section(".code", kScnTypeCode)
                                       .at(0)
                                       .bytes(counting(0x28))
                                       .section(".more", kScnTypeCode)
                                       .at(0x20)
                                       .bytes({0xB0, 0xB1}),
                                   args);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(cDir.read("prog.hex"), c.records + kEnd);
  }
}

TEST_F(Pelmat, FailsWithoutFileWhenRangesSelectNothing) {
  ProcessResult result =
      convert(linked().section(".code", kScnTypeCode).at(0).bytes({1, 2}),
              {"/r", "0x100-0x200"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find(kSummary), std::string::npos);
  EXPECT_FALSE(cDir.exists("prog.hex"));
}

TEST_F(Pelmat, SelectsRangesInBytesForByteAddressedMemory) {
  CoffBuilder builder;
  builder.processor(0x4001, 8).fileFlags(kFileExecutable);
  builder.section(".code", kScnTypeCode).at(0x101).bytes({1, 2, 3});
  ProcessResult result = convert(builder, {"/a", "INHX8M"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(cDir.read("prog.hex"), ":03010100010203F5\n" + std::string(kEnd));
  result = convert(builder, {"/a", "INHX8M", "/r", "0x102-0x103"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(cDir.read("prog.hex"), ":020102000203F6\n" + std::string(kEnd));
}

TEST_F(Pelmat, Inhx32SwitchesSegmentAbove64K) {
  ProcessResult result = convert(
      linked().section(".code", kScnTypeCode).at(0x7FF8).bytes(counting(32)),
      {});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(cDir.read("prog.hex"),
            kSegment0 +
                std::string(":10FFF000000102030405060708090A0B0C0D0E0F89\n"
                            ":020000040001F9\n"
                            ":10000000101112131415161718191A1B1C1D1E1F78\n") +
                kEnd);
}

struct LimitCase {
  const char *format;
  std::uint32_t startLoc;
  bool fits;
};

TEST_F(Pelmat, EightBitFormatsStopAt64KWithoutLeavingFiles) {
  const LimitCase cases[] = {
      {"INHX8M", 0x7FFF, true},
      {"INHX8M", 0x8000, false},
      {"INHX8S", 0xFFFF, true},
      {"INHX8S", 0x10000, false},
  };
  for (const LimitCase &c : cases) {
    SCOPED_TRACE(std::string(c.format) + " at " + std::to_string(c.startLoc));
    std::remove(cDir.file("prog.hex").c_str());
    std::remove(cDir.file("prog.hxl").c_str());
    std::remove(cDir.file("prog.hxh").c_str());
    ProcessResult result = convert(linked()
                                       .section(".code", kScnTypeCode)
                                       .at(c.startLoc)
                                       .bytes({0xAA, 0xBB}),
                                   {"/a", c.format});
    const bool split = std::string(c.format) == "INHX8S";
    if (c.fits) {
      EXPECT_EQ(result.exitCode, 0);
      EXPECT_EQ(cDir.read(split ? "prog.hxl" : "prog.hex"),
                (split ? ":01FFFF00AA57\n" : ":02FFFE00AABB9C\n") +
                    std::string(kEnd));
      continue;
    }
    EXPECT_EQ(result.exitCode, 255);
    EXPECT_EQ(result.err, "Error - Selected hex format does not support byte "
                          "addresses above 64kb; use INHX32 format!\n");
    EXPECT_NE(result.out.find("Errors    : 1\n\n"), std::string::npos);
    EXPECT_FALSE(cDir.exists("prog.hex"));
    EXPECT_FALSE(cDir.exists("prog.hxl"));
    EXPECT_FALSE(cDir.exists("prog.hxh"));
  }
}

struct BadArgsCase {
  Words args;
  std::string err;
};

// pelmat keeps only the long names its sections use from the string
// table; a section name must still resolve exactly, and a name offset that
// points into the middle of a string must still end the program.
TEST_F(Pelmat, ResolvesLongSectionNamesAmongOtherStrings) {
  CoffBuilder builder = linked();
  builder.section("a_long_code_section", kScnTypeCode).at(0x10).bytes({1, 2});
  builder.symbol("a_long_symbol_name", 0, 1, kClassExternal);
  builder.section("another_long_section", kScnTypeCode).at(0x20).bytes({3, 4});
  ProcessResult result = convert(builder, {});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(cDir.read("prog.hex"),
            kSegment0 + std::string(":020020000102DB\n:020040000304B7\n") +
                kEnd);

  std::string bytes = builder.fileBytes();
  // The first section header's name offset, one byte into its string.
  std::size_t at = 20 + kOptHdrSizeInBytes + 4;
  std::uint32_t offset = static_cast<std::uint8_t>(bytes[at]) |
                         static_cast<std::uint8_t>(bytes[at + 1]) << 8;
  bytes[at] = static_cast<char>((offset + 1) & 0xFF);
  bytes[at + 1] = static_cast<char>((offset + 1) >> 8);
  cDir.write("bad.cof", bytes);
  result = run({"bad.cof"});
  EXPECT_EQ(result.exitCode, 255);
  EXPECT_NE(
      result.err.find("Error - Unable to find section name in string table."),
      std::string::npos);
  EXPECT_FALSE(cDir.exists("bad.hex"));
}

TEST_F(Pelmat, RejectsBadCommandLinesWithoutSummary) {
  const std::string rangeError =
      "/r requires 0xBBBB-0xEEEE where 0xEEEE >= 0xBBBB\n";
  const std::string formatError =
      "-a switch requires {INHX32, INHX8S, INHX8M}\n";
  const BadArgsCase cases[] = {
      {{"/r", "0x20-0x10", "prog.cof"}, rangeError},
      {{"/r", "0x10", "prog.cof"}, rangeError},
      {{"-R", "1-2-3", "prog.cof"}, rangeError},
      {{"/a", "inhx8m", "prog.cof"}, formatError},
      {{"prog.cof", "/a"}, formatError},
      {{"prog.cof", "/r"}, kUsage},
      {{}, kUsage},
      {{"/v"}, kUsage},
      {{"prog.cof", "other.cof"}, kUsage},
      {{"", "prog.cof"}, kUsage},
  };
  linked()
      .section(".code", kScnTypeCode)
      .at(0)
      .bytes({1, 2})
      .writeTo(cDir.file("prog.cof"));
  for (const BadArgsCase &c : cases) {
    std::string trace;
    for (const std::string &arg : c.args)
      trace += arg + " ";
    SCOPED_TRACE(trace);
    ProcessResult result = run(c.args);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out.find("Errors"), std::string::npos);
    EXPECT_FALSE(cDir.exists("prog.hex"));

    Words quiet = c.args;
    quiet.push_back("/q");
    if (c.args.size() == 2 && c.args[0] == "prog.cof" && c.args[1] == "/r")
      continue; // "/q" would become the range text
    result = run(quiet);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out + result.err, "");
  }
}

TEST_F(Pelmat, ReportsUnreadableInputAfterSummary) {
  ProcessResult result = run({"missing.cof"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.rfind("Error - ", 0), 0u) << result.err;
  EXPECT_NE(result.out.find("Errors    : 1\n\n"), std::string::npos);
  EXPECT_FALSE(cDir.exists("missing.hex"));
}

struct GeometryCase {
  std::uint32_t romWidthBits;
  std::uint32_t startLoc;
  std::string err;
};

TEST_F(Pelmat, RejectsImagesItCannotPlace) {
  const GeometryCase cases[] = {
      {0, 0x10, "Error - Program memory width of 0 bits in 'prog.cof'.\n"},
      {16, 0x80000000,
       "Error - Section '.code' extends beyond byte address 0xffffffff.\n"},
      {8, 0xFFFFFFFF,
       "Error - Section '.code' extends beyond byte address 0xffffffff.\n"},
  };
  for (const GeometryCase &c : cases) {
    SCOPED_TRACE(c.err);
    CoffBuilder builder;
    builder.processor(0x2001, c.romWidthBits).fileFlags(kFileExecutable);
    builder.section(".code", kScnTypeCode).at(c.startLoc).bytes({1, 2});
    ProcessResult result = convert(builder, {});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_FALSE(cDir.exists("prog.hex"));
  }
}

TEST_F(Pelmat, WritesIntoCurrentDirectoryUnderInputBaseName) {
  cDir.write(
      "sub/dir/firmware.v2.cof",
      linked().section(".code", kScnTypeCode).at(0).bytes({1, 2}).fileBytes());
  ProcessResult result = run({"sub/dir/firmware.v2.cof", "/q"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_TRUE(cDir.exists("firmware.v2.hex"));
  EXPECT_FALSE(cDir.exists("sub/dir/firmware.v2.hex"));
}

TEST_F(Pelmat, ReportsFileThatCannotBeWrittenAndKeepsOldOne) {
  cDir.write("prog.hex/keep", "x");
  ProcessResult result =
      convert(linked().section(".code", kScnTypeCode).at(0).bytes({1, 2}), {});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err,
            "Error - Could not open hex file 'prog.hex' for writing.\n");
  EXPECT_EQ(cDir.read("prog.hex/keep"), "x");
}

// The two files of an INHX8S pair belong together: when the high-byte file
// cannot be written whole, the low-byte file of the same run must not
// replace the old one either.
TEST_F(Pelmat, KeepsBothOldFilesOfAPairWhenOneCannotBeWritten) {
  if (access("/dev/full", W_OK) != 0)
    GTEST_SKIP() << "no /dev/full";
  cDir.write("prog.hxl", "old low bytes\n");
  ASSERT_EQ(symlink("/dev/full", cDir.file("prog.hxh").c_str()), 0);
  ProcessResult result =
      convert(linked().section(".code", kScnTypeCode).at(0).bytes({1, 2, 3, 4}),
              {"/a", "INHX8S"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "Error - Could not write hex file 'prog.hxh'.\n");
  EXPECT_EQ(cDir.read("prog.hxl"), "old low bytes\n");
}

} // namespace
