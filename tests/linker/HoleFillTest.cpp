// Fill sections for the free ranges of code pages with a FILL pattern.
#include "LinkerSetup.h"

#include "Messages.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(HoleFill, RepeatsThePatternThroughTheHole) {
  struct Case {
    const char *what;
    ProcessorId id;
    const char *fill;
    std::uint32_t locations;
    Bytes bytes;
    int warns;
  };
  const Case cases[] = {
      {"word per location",
       1,
       "0x3FFF",
       3,
       {0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F},
       0},
      {"odd byte count", 140, "0x1234", 5, {0x34, 0x12, 0x34, 0x12, 0x34}, 1},
      {"two groups, hole of three words",
       1,
       "0x11112222",
       3,
       {0x11, 0x11, 0x22, 0x22, 0x11, 0x11},
       1},
      {"two groups, whole pattern",
       140,
       "0X11112222",
       4,
       {0x11, 0x11, 0x22, 0x22},
       0},
      {"two groups, odd end in the second group",
       140,
       "0x11112222",
       3,
       {0x11, 0x11, 0x22},
       1},
      {"decimal", 1, "65535", 2, {0xFF, 0xFF, 0xFF, 0xFF}, 0},
      {"decimal cut to 16 bits", 95, "65794", 1, {0x02, 0x01}, 0},
      {"decimal, odd byte count", 140, "258", 3, {0x02, 0x01, 0x02}, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    LinkerSetup s;
    s.useProcessor(c.id);
    s.codePage("page", 0x10, 0x10 + c.locations - 1, c.fill);
    const int warningsBefore = warningCount();
    std::string error;
    ASSERT_EQ(s.linker.buildOutputHoles(error), 1);
    EXPECT_EQ(s.outputBytes(".fill_1"), c.bytes);
    EXPECT_EQ(warningCount() - warningsBefore, c.warns);
    const scnhdr &hdr = s.linker.cOutput.cScnHdr.at(".fill_1");
    EXPECT_EQ(hdr.s_paddr, 0x10u);
    EXPECT_EQ(hdr.s_flags, kScnCode);
  }
}

TEST(HoleFill, MakesOneSectionPerFreeRangeAfterAllOtherSections) {
  LinkerSetup s;
  s.useProcessor(1);
  Memory &filled = s.codePage("filled", 0, 0xF, "0x0000");
  s.placeAt(filled, "code", 4, 8);
  s.codePage("plain", 0x10, 0x1F);
  Memory &full = s.codePage("full", 0x20, 0x21, "0x3FFF");
  s.place(full, "other", 4);
  s.linker.cOutput.cScnNum = {{1, "code"}, {2, "other"}};

  std::string error;
  ASSERT_EQ(s.linker.buildOutputHoles(error), 1);
  const std::map<int, std::string> numbers = {
      {1, "code"}, {2, "other"}, {3, ".fill_1"}, {4, ".fill_2"}};
  EXPECT_EQ(s.linker.cOutput.cScnNum, numbers);
  EXPECT_EQ(s.linker.cOutput.cScnHdr.at(".fill_1").s_paddr, 0u);
  EXPECT_EQ(s.outputData(".fill_1").size(), 8u);
  EXPECT_EQ(s.linker.cOutput.cScnHdr.at(".fill_2").s_paddr, 8u);
  EXPECT_EQ(s.outputData(".fill_2").size(), 16u);
  EXPECT_EQ(s.linker.cFillCount, 2);
}

TEST(HoleFill, PutsLongFillNamesInTheStringTable) {
  LinkerSetup s;
  s.useProcessor(1);
  s.codePage("page", 0, 3, "0x3FFF");
  s.linker.cFillCount = 99;
  s.linker.cOutput.cStringTbl[4] = "a_long_section";
  std::string error;
  ASSERT_EQ(s.linker.buildOutputHoles(error), 1);
  const std::map<int, std::string> strings = {{4, "a_long_section"},
                                              {19, ".fill_100"}};
  EXPECT_EQ(s.linker.cOutput.cStringTbl, strings);
  const scnhdr &hdr = s.linker.cOutput.cScnHdr.at(".fill_100");
  EXPECT_EQ(Coff::getName(hdr, s.linker.cOutput.cStringTbl), ".fill_100");
}

TEST(HoleFill, WarnsWithTheMemoryNameWhenVerbose) {
  LinkerSetup s;
  s.useProcessor(140);
  s.codePage("odd", 0, 2, "0x1234");
  setVerbose(1);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  std::string error;
  s.linker.buildOutputHoles(error);
  const std::string text = testing::internal::GetCapturedStderr() +
                           testing::internal::GetCapturedStdout();
  setVerbose(0);
  EXPECT_EQ(text, "Warning - Fill pattern for memory 'odd' doesn't divide "
                  "evenly into\n          unused program locations.  Last "
                  "value was truncated.\n");
}

} // namespace
