// pelmat's output read back by an independent Intel HEX implementation
// (the srecord tools), compared with the image the test put into the file.
#include "CoffBuilder.h"
#include "ProcessRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

bool hasSrecord() {
  return access("/usr/bin/srec_cat", X_OK) == 0 &&
         access("/usr/bin/srec_info", X_OK) == 0;
}

ProcessResult tool(const TempDir &dir, const std::string &name,
                   const std::vector<std::string> &args) {
  ProcessOptions options;
  options.workDir = dir.path();
  return runProcess("/usr/bin/" + name, args, options);
}

std::string bytesOf(const std::vector<std::uint8_t> &values) {
  return std::string(values.begin(), values.end());
}

std::vector<std::uint8_t> pattern(std::size_t count, unsigned seed) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

struct Piece {
  std::uint32_t startLoc; // word address
  std::vector<std::uint8_t> bytes;
};

TEST(PelmatSrecord, IndependentReaderSeesTheSameImageInEveryFormat) {
  if (!hasSrecord())
    GTEST_SKIP() << "srecord tools not installed";
  // Sections below 64 K (one odd-sized, so padded, and one whose text is
  // written out in many parts), plus one above it for INHX32 only.
  const std::vector<Piece> low = {{0x0008, pattern(40, 1)},
                                  {0x0100, pattern(37, 9)},
                                  {0x0201, pattern(40001, 5)}};
  const Piece high = {0x10000 - 4, pattern(100, 3)};

  const char *const formats[] = {"INHX32", "INHX8M", "INHX8S"};
  for (const char *format : formats) {
    SCOPED_TRACE(format);
    TempDir dir;
    std::vector<Piece> pieces = low;
    if (std::string(format) == "INHX32")
      pieces.push_back(high);
    CoffBuilder builder;
    builder.processor(0x2001, 16).fileFlags(kFileExecutable);
    std::vector<std::string> expectArgs;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      builder.section(".s" + std::to_string(i), kScnTypeCode)
          .at(pieces[i].startLoc)
          .bytes(pieces[i].bytes);
      std::vector<std::uint8_t> padded = pieces[i].bytes;
      if (padded.size() % 2 != 0)
        padded.push_back(0);
      const std::string bin = "piece" + std::to_string(i) + ".bin";
      dir.write(bin, bytesOf(padded));
      expectArgs.insert(
          expectArgs.end(),
          {bin, "-Binary", "-offset", std::to_string(2 * pieces[i].startLoc)});
    }
    builder.writeTo(dir.file("prog.cof"));
    ProcessOptions options;
    options.workDir = dir.path();
    ProcessResult result = runProcess(
        programPath("pelmat"), {"/q", "/a", format, "prog.cof"}, options);
    ASSERT_EQ(result.exitCode, 0) << result.err;

    std::vector<std::string> readArgs;
    if (std::string(format) == "INHX8S") {
      for (const char *file : {"prog.hxl", "prog.hxh"}) {
        ProcessResult info = tool(dir, "srec_info", {file, "-Intel"});
        EXPECT_EQ(info.exitCode, 0) << file << ": " << info.err;
        EXPECT_EQ(info.err, "") << file;
      }
      readArgs = {"prog.hxl", "-Intel", "-unsplit", "2", "0",
                  "prog.hxh", "-Intel", "-unsplit", "2", "1"};
    } else {
      ProcessResult info = tool(dir, "srec_info", {"prog.hex", "-Intel"});
      EXPECT_EQ(info.exitCode, 0) << info.err;
      EXPECT_EQ(info.err, "");
      readArgs = {"prog.hex", "-Intel"};
    }
    readArgs.insert(readArgs.end(), {"-o", "-", "-HEX_Dump"});
    expectArgs.insert(expectArgs.end(), {"-o", "-", "-HEX_Dump"});
    ProcessResult seen = tool(dir, "srec_cat", readArgs);
    ProcessResult expected = tool(dir, "srec_cat", expectArgs);
    EXPECT_EQ(seen.exitCode, 0) << seen.err;
    EXPECT_EQ(seen.err, "");
    ASSERT_EQ(expected.exitCode, 0) << expected.err;
    EXPECT_FALSE(expected.out.empty());
    EXPECT_EQ(seen.out, expected.out);
  }
}

} // namespace
