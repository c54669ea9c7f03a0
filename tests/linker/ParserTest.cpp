#include "Parser.h"
#include "ObjectFileNames.h"
#include "SectionDesc.h"
#include "StackDesc.h"
#include "memtarg/Memory.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

Memory readCodePage(const std::string &attributes) {
  Parser parser;
  std::istringstream in(attributes + " ");
  return parser.parseMemory(in, "CODEPAGE", kProgramMemory, "x.lkr", 1);
}

TEST(ParserTest, WidensHexFillsToWholeWords) {
  const std::pair<const char *, const char *> cases[] = {
      {"0x3", "0x0003"},
      {"0X3FFF", "0X3FFF"},
      {"0xABCDE", "0x000ABCDE"},
      {"0x12345678", "0x12345678"},
      {"1x2", "0x0002"},
      {"255", "255"},
      {"0x", "0x"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.first);
    const Memory page =
        readCodePage(std::string("NAME=p START=0 END=0xFF FILL=") + c.first);
    EXPECT_EQ(page.hasFill(), 1);
    EXPECT_EQ(page.getFill(), c.second);
  }
}

TEST(ParserTest, BuildsMemoriesSectionsAndStacksFromAttributes) {
  const Memory page = readCodePage("PROTECTED END=0x7FF NAME=page START=0x10");
  EXPECT_EQ(page.getName(), "page");
  EXPECT_EQ(page.getStart(), 0x10u);
  EXPECT_EQ(page.getEnd(), 0x7FFu);
  EXPECT_EQ(page.getType(), kProgramMemory);
  EXPECT_EQ(page.isProtected(), 1);
  EXPECT_EQ(page.hasFill(), 0);

  Parser parser;
  std::istringstream section("RAM=gpr NAME=.udata_x ");
  const SectionDesc desc = parser.parseSection(section, "x.lkr", 2);
  EXPECT_EQ(desc.getName(), ".udata_x");
  EXPECT_EQ(desc.getLoadMemory(), "");
  EXPECT_EQ(desc.getRunMemory(), "gpr");

  std::istringstream stack("SIZE=0x40 ");
  const StackDesc stackDesc = parser.parseStack(stack, "x.lkr", 3);
  EXPECT_EQ(stackDesc.getSize(), 0x40u);
  EXPECT_EQ(stackDesc.getRunMemory(), "");

  std::istringstream heap("MINSIZE=100 ");
  EXPECT_EQ(parser.parseHeap(heap, "x.lkr", 4), 100u);
}

TEST(ParserTest, TellsFileKindsByName) {
  struct Case {
    const char *name;
    bool object, library, command, validName;
  };
  const Case cases[] = {
      {"a.o", true, false, false, true},
      {"dir/A.O", true, false, false, true},
      {"/abs/9.o", true, false, false, true},
      {".o", false, false, false, false},
      {"_a.o", false, false, false, false},
      {"m.LiB", false, true, false, true},
      {".lib", false, false, false, false},
      {"x.LKR", false, false, true, true},
      {"x.lkr.o", true, false, false, true},
      {"dir/", false, false, false, false},
      {"dir/ x", false, false, false, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isObjectFile(c.name), c.object);
    EXPECT_EQ(isLibraryFile(c.name), c.library);
    EXPECT_EQ(isCommandFile(c.name), c.command);
    EXPECT_EQ(isValidFileName(c.name), c.validName);
  }
  EXPECT_TRUE(isDigits("0123"));
  EXPECT_FALSE(isDigits(""));
  EXPECT_FALSE(isDigits("12 "));
}

TEST(ParserTest, StripsCommentsEvenInsideQuotes) {
  std::string line = "FILES \"a//b.o\" c.o";
  stripComment(line);
  EXPECT_EQ(line, "FILES \"a");
  std::string url = "// all comment";
  stripComment(url);
  EXPECT_EQ(url, "");
}

} // namespace
