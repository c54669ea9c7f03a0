// The bundled example, run as scripts/example.sh runs it: generated
// objects and library, one driver command, all the way to HEX, COD and
// listing files.
#include "ByteOrder.h"
#include "Coff.h"
#include "ProcessRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::uint16_t wordAt(const Coff &coff, const std::string &section,
                     std::uint32_t index) {
  const Data &data = coff.cRawData.at(section);
  EXPECT_LE(2 * index + 2, data.size());
  return readLE16(data.bytes() + 2 * index);
}

TEST(Example, LinksAndConvertsTheBundledExample) {
  TempDir out;
  ProcessOptions options;
  options.pathPrepend = ORVANE_PROGRAM_DIR;
  options.env = {"EXAMPLE_OUT=" + out.path(), std::string("MAKE_EXAMPLE=") +
                                                  ORVANE_TEST_BIN_DIR +
                                                  "/../examples/make_example"};
  options.mergeStreams = true;
  const ProcessResult result = runProcess(
      "/bin/bash", {std::string(ORVANE_SOURCE_DIR) + "/examples/run.sh"},
      options);
  ASSERT_EQ(result.exitCode, 0) << result.out;

  for (const char *name : {"example.cof", "example.map", "example.cod",
                           "example.lst", "example.hex"})
    EXPECT_TRUE(out.exists(name)) << name;
  const auto linked = Coff::make(out.file("example.cof"));
  ASSERT_NE(linked, nullptr);
  // "goto start" in the reset vector and "call delay" from the library
  // member reach their targets.
  const std::uint32_t start = linked->cScnHdr.at("main_program").s_paddr;
  const std::uint32_t delay = linked->cScnHdr.at("delay").s_paddr;
  EXPECT_EQ(wordAt(*linked, "reset", 0), 0x2800 | start);
  EXPECT_EQ(wordAt(*linked, "main_program", 4), 0x2000 | delay);
  EXPECT_EQ(linked->cScnHdr.count("spare"), 0u);
  EXPECT_NE(out.read("example.map").find("ledinit_i"), std::string::npos);
}

} // namespace
