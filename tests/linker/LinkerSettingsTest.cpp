#include "linker/Linker.h"

#include <gtest/gtest.h>

namespace {

Memory rom(const std::string &name, std::uint32_t start, std::uint32_t end) {
  return Memory(name, start, end, kProgramMemory, 0, 0, "");
}

Memory ram(const std::string &name, std::uint32_t start, std::uint32_t end) {
  return Memory(name, start, end, kDataMemory, 0, 0, "");
}

enum class Kind { Code, Data, Share, Access };

struct Declaration {
  Kind kind;
  Memory memory;
};

int declare(Linker &linker, const Declaration &d, std::string &error) {
  switch (d.kind) {
  case Kind::Code:
    return linker.addCodePage(d.memory, error);
  case Kind::Data:
    return linker.addDataBank(d.memory, error);
  case Kind::Share:
    return linker.addShareBank(d.memory, error);
  case Kind::Access:
    return linker.addAccessBank(d.memory, error);
  }
  return 0;
}

struct MemoryCase {
  const char *what;
  std::vector<Declaration> declarations;
  std::string error; // of the last declaration; empty: all accepted
};

TEST(LinkerSettingsTest, ChecksMemoriesAgainstThoseDeclaredBefore) {
  const std::vector<MemoryCase> cases = {
      {"adjacent code pages",
       {{Kind::Code, rom("p0", 0, 0x7FF)},
        {Kind::Code, rom("p1", 0x800, 0xFFF)}},
       ""},
      {"code pages sharing one address",
       {{Kind::Code, rom("p0", 0, 0x800)},
        {Kind::Code, rom("p1", 0x800, 0xFFF)}},
       "memory 'p1' overlaps memory 'p0' "},
      {"a code page and a bank on one range",
       {{Kind::Code, rom("p0", 0, 0x7F)}, {Kind::Data, ram("b0", 0, 0x7F)}},
       ""},
      {"a code page and a bank of one name",
       {{Kind::Code, rom("x", 0, 0x7F)}, {Kind::Data, ram("x", 0x100, 0x17F)}},
       "duplicate definition of memory 'x' "},
      {"a data bank named like a share bank",
       {{Kind::Share, ram("s", 0x70, 0x7F)},
        {Kind::Data, ram("s", 0x20, 0x6F)}},
       "duplicate definition of memory 's' "},
      {"a share bank named like a data bank",
       {{Kind::Data, ram("s", 0x20, 0x6F)},
        {Kind::Share, ram("s", 0x70, 0x7F)}},
       "duplicate definition of memory 's' "},
      {"share banks of one name and length",
       {{Kind::Share, ram("s", 0x70, 0x7F)},
        {Kind::Share, ram("s", 0xF0, 0xFF)}},
       ""},
      {"share banks of one name and two lengths",
       {{Kind::Share, ram("s", 0x70, 0x7F)},
        {Kind::Share, ram("s", 0xF0, 0xF7)}},
       "inconsistent length definitions of SHAREBANK 's' "},
      {"share banks of one name overlapping",
       {{Kind::Share, ram("s", 0x70, 0x7F)},
        {Kind::Share, ram("s", 0x78, 0x87)}},
       "memory 's' overlaps memory 's' "},
      {"an access bank over a data bank",
       {{Kind::Data, ram("b0", 0x20, 0x7F)},
        {Kind::Access, ram("a", 0x7F, 0x80)}},
       "memory 'a' overlaps memory 'b0' "},
      {"the first of several overlapped banks is named",
       {{Kind::Access, ram("a", 0x00, 0x1F)},
        {Kind::Data, ram("b", 0x20, 0x3F)},
        {Kind::Share, ram("c", 0x00, 0x3F)}},
       "memory 'c' overlaps memory 'b' "},
  };
  for (const MemoryCase &c : cases) {
    SCOPED_TRACE(c.what);
    Linker linker;
    std::string error;
    for (std::size_t i = 0; i + 1 < c.declarations.size(); ++i)
      ASSERT_EQ(declare(linker, c.declarations[i], error), 1) << error;
    const int accepted = declare(linker, c.declarations.back(), error);
    EXPECT_EQ(accepted, c.error.empty() ? 1 : 0);
    EXPECT_EQ(error, c.error);
  }
}

TEST(LinkerSettingsTest, RefusedMemoriesLeaveTheListsUnchanged) {
  Linker linker;
  std::string error;
  ASSERT_EQ(linker.addCodePage(rom("p0", 0, 0x7FF), error), 1);
  EXPECT_EQ(linker.addCodePage(rom("p1", 0x7FF, 0xFFF), error), 0);
  EXPECT_EQ(linker.cCodePage.size(), 1u);
  EXPECT_EQ(linker.programMemorySize(), 0x800u);
}

TEST(LinkerSettingsTest, SectionsMayNameOnlyMemoriesDeclaredBefore) {
  Linker linker;
  std::string error;
  ASSERT_EQ(linker.addCodePage(rom("page", 0, 0x7FF), error), 1);
  ASSERT_EQ(linker.addAccessBank(ram("acc", 0, 0x5F), error), 1);

  EXPECT_EQ(linker.addSection(SectionDesc("a", "page", "acc"), error), 1);
  EXPECT_EQ(linker.addSection(SectionDesc("a", "", "acc"), error), 0);
  EXPECT_EQ(error, "duplicate definitions of SECTION 'a' ");
  EXPECT_EQ(linker.addSection(SectionDesc("b", "later", ""), error), 0);
  EXPECT_EQ(error, "undefined CODEPAGE 'later' for SECTION 'b' ");
  EXPECT_EQ(linker.addSection(SectionDesc("c", "", "page"), error), 0);
  EXPECT_EQ(error, "undefined DATABANK/SHAREBANK 'page' for SECTION 'c' ");
  EXPECT_EQ(linker.cSectionDesc.size(), 1u);
}

TEST(LinkerSettingsTest, ChecksManySectionDirectivesQuickly) {
  // Guards against comparing each new SECTION with every earlier one.
  Linker linker;
  std::string error;
  ASSERT_EQ(linker.addCodePage(rom("page", 0, 0x7FF), error), 1);
  const int count = 50000;
  for (int i = 0; i < count; ++i)
    ASSERT_EQ(linker.addSection(
                  SectionDesc("s" + std::to_string(i), "page", ""), error),
              1)
        << i;
  EXPECT_EQ(linker.addSection(SectionDesc("s0", "page", ""), error), 0);
  EXPECT_EQ(error, "duplicate definitions of SECTION 's0' ");
  EXPECT_EQ(linker.cSectionDesc.size(), static_cast<std::size_t>(count));
}

TEST(LinkerSettingsTest, AcceptsOneStackAndOneHeap) {
  Linker linker;
  std::string error;
  EXPECT_EQ(linker.setStack(StackDesc(0x20, "nowhere"), error), 0);
  EXPECT_EQ(error, "undefined DATABANK/SHAREBANK 'nowhere' for STACK. ");
  EXPECT_EQ(linker.setStack(StackDesc(0x20, ""), error), 1);
  EXPECT_EQ(linker.setStack(StackDesc(0x20, ""), error), 0);
  EXPECT_EQ(error, "multiple STACK definitions ");
  EXPECT_EQ(linker.cStackDesc.getSize(), 0x20u);

  EXPECT_EQ(linker.cMinHeapSize, 32u);
  EXPECT_EQ(linker.setMinHeapSize(64, error), 1);
  EXPECT_EQ(linker.setMinHeapSize(16, error), 0);
  EXPECT_EQ(error, "multiple min heap sizes declared: '64', '16'");
}

TEST(LinkerSettingsTest, RefusesRepeatedFileSettings) {
  Linker linker;
  std::string error;
  EXPECT_EQ(linker.setOutputFile("x.cof", error), 1);
  EXPECT_EQ(linker.setOutputFile("x.cof", error), 0);
  EXPECT_EQ(error, "multiple output files declared: 'x.cof', 'x.cof'");
  EXPECT_EQ(linker.setMapFile("x.map", error), 1);
  EXPECT_EQ(linker.setMapFile("y.map", error), 0);
  EXPECT_EQ(error, "multiple map files declared: 'x.map', 'y.map'");

  EXPECT_EQ(linker.addObjectFile("a.o", error), 1);
  EXPECT_EQ(linker.addObjectFile("./a.o", error), 1);
  EXPECT_EQ(linker.addObjectFile("A.o", error), 1);
  EXPECT_EQ(linker.addObjectFile("a.o", error), 0);
  EXPECT_EQ(error, "mutliple inclusion of object file 'a.o' ");
  EXPECT_EQ(linker.addLibraryFile("m.lib", error), 1);
  EXPECT_EQ(linker.addLibraryFile("m.lib", error), 0);
  EXPECT_EQ(error, "mutliple inclusion of library file 'm.lib' ");
  EXPECT_EQ(linker.cObjectFile,
            (std::list<std::string>{"a.o", "./a.o", "A.o"}));
}

TEST(LinkerSettingsTest, RefusesAMapFileThatIsTheOutputFile) {
  struct Case {
    const char *output;
    const char *map;
  };
  for (const Case &c : {Case{"", "a.out"}, Case{"x.cof", "./x.cof"},
                        Case{"d/x.cof", "d/../d/x.cof"}}) {
    SCOPED_TRACE(c.map);
    Linker linker;
    std::string error;
    if (*c.output)
      linker.setOutputFile(c.output, error);
    linker.setMapFile(c.map, error);
    EXPECT_EQ(linker.link(error), 0);
    EXPECT_EQ(error, std::string("Map file and output file must differ: '") +
                         c.map + "'.");
  }
}

} // namespace
