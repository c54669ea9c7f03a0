// The map file of a linked output and the error map file after allocation.
#include "LinkerSetup.h"

#include "MapFile.h"
#include "Messages.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

const char *const kTime = "Thu Jan  1 00:00:00 2026\n";

// A linked output on a processor with 2-byte program words.
CoffBuilder smallOutput() {
  CoffBuilder out;
  out.processor(0x1001)
      .fileFlags(kFileExecutable)
      .section("code", kScnTypeCode)
      .addresses(0, 0)
      .words({1, 2, 3})
      .section("tbl", kScnTypeRomdata)
      .addresses(3, 0)
      .bytes({1, 2, 3})
      .section("far", kScnTypeCode, kScnAbsolute)
      .addresses(0x10, 0)
      .words({4})
      .section("vars", kScnTypeUdata)
      .addresses(0x20, 0)
      .zeros(4)
      .section("init", kScnTypeIdata, kScnShared)
      .addresses(0x24, 0)
      .bytes({5, 6})
      .section("empty", kScnTypeCode)
      .addresses(8, 0)
      .fileSymbol("main.asm")
      .function("main", 0, "code")
      .symbolIn("helper", 2, "code", kClassStatic)
      .symbolIn("lbl", 0x10, "far", kClassLabel)
      .global("x", 0x20, "vars")
      .symbolIn("y", 0x24, "init", kClassStatic)
      .external("undef")
      .symbol("abs", 5, kScnNumAbsolute, kClassExternal)
      // A ".file" without its file entry names nothing.
      .symbol(".file", 0, kScnNumDebug, kClassFile)
      .symbol(".eof", 0, kScnNumDebug, kClassFile)
      .symbolIn("z", 1, "code", kClassStatic);
  return out;
}

TEST(MapFile, WritesEveryTableOfASmallLink) {
  const std::string expected =
      "ORVANE 2.40.00, Linker\n"
      "Linker Map File - Created Thu Jan  1 00:00:00 2026\n"
      "\n"
      "                                 Section Info\n"
      "                  Section       Type    Address   Location "
      "Size(Bytes)\n"
      "                ---------  ---------  ---------  ---------  "
      "---------\n"
      "                     code       code   0x000000    program   "
      "0x000006\n"
      "                      tbl    romdata   0x000003    program   "
      "0x000003\n"
      "                    empty       code   0x000008    program   "
      "0x000000\n"
      "                      far       code   0x000010    program   "
      "0x000002\n"
      "                     vars      udata   0x000020       data   "
      "0x000004\n"
      "                     init      idata   0x000024       data   "
      "0x000002\n"
      "\n"
      "\n"
      "\n"
      "                              Program Memory Usage \n"
      "                               Start         End      \n"
      "                           ---------   ---------      \n"
      "                            0x000000    0x000004      \n"
      "                            0x000010    0x000010      \n"
      "            6 out of 512 program addresses used, program memory "
      "utilization is 1%\n"
      "\n"
      "\n"
      "\n"
      "                              Symbols - Sorted by Name\n"
      "                     Name    Address   Location    Storage File      "
      "               \n"
      "                ---------  ---------  ---------  --------- --------- "
      "               \n"
      "                   helper   0x000002    program     static main.asm  "
      "               \n"
      "                      lbl   0x000010    program     static main.asm  "
      "               \n"
      "                     main   0x000000    program     extern main.asm  "
      "               \n"
      "                        z   0x000001    program     static           "
      "               \n"
      "                        x   0x000020       data     extern main.asm  "
      "               \n"
      "                        y   0x000024       data     static main.asm  "
      "               \n"
      "\n"
      "\n"
      "\n"
      "                              Symbols - Sorted by Address\n"
      "                     Name    Address   Location    Storage File      "
      "               \n"
      "                ---------  ---------  ---------  --------- --------- "
      "               \n"
      "                     main   0x000000    program     extern main.asm  "
      "               \n"
      "                        z   0x000001    program     static           "
      "               \n"
      "                   helper   0x000002    program     static main.asm  "
      "               \n"
      "                      lbl   0x000010    program     static main.asm  "
      "               \n"
      "                        x   0x000020       data     extern main.asm  "
      "               \n"
      "                        y   0x000024       data     static main.asm  "
      "               \n"
      "\n"
      "\n";
  EXPECT_EQ(MapFile::text(smallOutput().build(), 512, kTime), expected);
}

// The usage lines and summary of a map file.
std::string usageOf(const std::string &text) {
  const std::size_t from = text.find("---------      \n");
  const std::size_t to = text.find("\n\n\n", from);
  return text.substr(from + 16, to - from - 16);
}

TEST(MapFile, CountsProgramAddressesOfEachRun) {
  struct Case {
    const char *what;
    std::uint32_t count;
    std::vector<std::uint8_t> bytes;
    const char *usage;
  };
  const std::string line = "                           ";
  const Case cases[] = {
      {"three bytes take two addresses",
       100,
       {1, 2, 3},
       "                            0x000000    0x000001      \n"
       "            2 out of 100 program addresses used, program memory "
       "utilization is 2%"},
      {"everything used",
       2,
       {1, 2, 3, 4},
       "                            0x000000    0x000001      \n"
       "            2 out of 2 program addresses used, program memory "
       "utilization is 100%"},
      {"no address count",
       0,
       {1, 2},
       "                            0x000000    0x000000      \n"
       "            1 out of 0 program addresses used, program memory "
       "utilization is 100%"},
      {"nothing used",
       10,
       {},
       "            0 out of 10 program addresses used, program memory "
       "utilization is 0%"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CoffBuilder out;
    out.processor(0x1001).section("code", kScnTypeCode).bytes(c.bytes);
    EXPECT_EQ(usageOf(MapFile::text(out.build(), c.count, kTime)), c.usage);
  }
}

TEST(MapFile, CountsSectionsOfMoreThan65535Addresses) {
  CoffBuilder out;
  out.processor(0x4001, 8)
      .section("big", kScnTypeCode)
      .bytes(std::vector<std::uint8_t>(0x10000, 0));
  EXPECT_EQ(usageOf(MapFile::text(out.build(), 0x20000, kTime)),
            "                            0x000000    0x00ffff      \n"
            "            65536 out of 131072 program addresses used, program "
            "memory utilization is 50%");
}

TEST(MapFile, KeepsStaticsOfEachFileWithTheirFileName) {
  CoffBuilder out;
  out.processor(0x1001)
      .section("code", kScnTypeCode)
      .words({0, 0})
      .fileSymbol("a.asm")
      .symbolIn("same", 0, "code", kClassStatic)
      .symbol(".eof", 0, kScnNumDebug, kClassFile)
      .fileSymbol("b.asm")
      .symbolIn("same", 1, "code", kClassStatic);
  const std::string text = MapFile::text(out.build(), 100, kTime);
  EXPECT_NE(text.find("     same   0x000000    program     static a.asm"),
            std::string::npos);
  EXPECT_NE(text.find("     same   0x000001    program     static b.asm"),
            std::string::npos);
}

// A table large enough to be gathered on several threads, its files opened
// and closed (some nested) across the threads' slices: each row shows the
// file open at its symbol, none before the first or after the last.
TEST(MapFile, GivesEachRowOfALargeTableTheFileOpenAtIt) {
  CoffBuilder out;
  out.processor(0x1001).section("code", kScnTypeCode).words({0});
  std::map<std::string, std::string> fileOf;
  auto add = [&](const std::string &name, const std::string &file) {
    out.symbolIn(name, 0, "code", kClassStatic);
    fileOf[name] = file;
  };
  add("before", "");
  for (int group = 0; group < 200; ++group) {
    const std::string outer = "f" + std::to_string(group) + ".asm";
    out.fileSymbol(outer);
    for (int i = 0; i < 150; ++i)
      add("s" + std::to_string(group) + "_" + std::to_string(i), outer);
    if (group % 3 == 0) {
      const std::string inner = "n" + std::to_string(group) + ".asm";
      out.fileSymbol(inner);
      for (int i = 0; i < 50; ++i)
        add("n" + std::to_string(group) + "_" + std::to_string(i), inner);
      out.symbol(".eof", 0, kScnNumDebug, kClassFile);
      add("t" + std::to_string(group), outer);
    }
    out.symbol(".eof", 0, kScnNumDebug, kClassFile);
  }
  add("after", "");
  const std::string text = MapFile::text(out.build(), 0x100, kTime);
  std::istringstream in(text.substr(text.find("Sorted by Name")));
  std::string line;
  for (int skip = 0; skip < 3; ++skip)
    std::getline(in, line);
  std::size_t rows = 0;
  while (std::getline(in, line) && !line.empty()) {
    std::istringstream fields(line);
    std::string name, address, location, storage, file;
    fields >> name >> address >> location >> storage >> file;
    ASSERT_EQ(file, fileOf.at(name)) << name;
    ++rows;
  }
  EXPECT_EQ(rows, fileOf.size());
}

// The name rows of a map text: name and address of each, in order.
std::vector<std::pair<std::string, std::string>>
nameTableOf(const std::string &text) {
  std::vector<std::pair<std::string, std::string>> rows;
  std::istringstream in(text.substr(text.find("Sorted by Name")));
  std::string line;
  std::getline(in, line); // title
  std::getline(in, line); // heads
  std::getline(in, line); // rules
  while (std::getline(in, line) && !line.empty()) {
    std::istringstream fields(line);
    std::string name;
    std::string address;
    fields >> name >> address;
    rows.emplace_back(name, address);
  }
  return rows;
}

// Tables large enough to be sorted on several threads: names repeat (equal
// names keep table order), share long prefixes and differ in length.
TEST(MapFile, SortsLargeTablesAsAStableSortByName) {
  constexpr std::uint32_t kCount = 40000;
  CoffBuilder out;
  out.processor(0x1001)
      .section("code", kScnTypeCode)
      .words({0})
      .section("vars", kScnTypeUdata)
      .zeros(1);
  // Name, location (0 program), table position.
  std::vector<std::tuple<std::string, int, std::uint32_t>> expected;
  char name[64];
  for (std::uint32_t i = 0; i < 2 * kCount; ++i) {
    const std::uint32_t key = (i * 7919u) % 3001u;
    switch (i % 4) {
    case 0:
      std::snprintf(name, sizeof name, "f%u", key);
      break;
    case 1:
      std::snprintf(name, sizeof name, "a_long_shared_prefix_%u", key % 97);
      break;
    case 2:
      std::snprintf(name, sizeof name, "a_long_shared_prefix_%u_tail", key);
      break;
    default:
      std::snprintf(name, sizeof name, "v%u", key % 13);
    }
    const bool isData = i % 3 == 0;
    out.symbolIn(name, i, isData ? "vars" : "code", kClassExternal);
    expected.emplace_back(name, isData ? 1 : 0, i);
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto &a, const auto &b) {
                     if (std::get<1>(a) != std::get<1>(b))
                       return std::get<1>(a) < std::get<1>(b);
                     return std::get<0>(a) < std::get<0>(b);
                   });
  const Coff output = out.build();
  const std::string text = MapFile::text(output, 0x10000, kTime);
  const auto rows = nameTableOf(text);
  ASSERT_EQ(rows.size(), expected.size());
  char address[16];
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::snprintf(address, sizeof address, "0x%06x", std::get<2>(expected[i]));
    ASSERT_EQ(rows[i],
              std::make_pair(std::get<0>(expected[i]), std::string(address)))
        << "row " << i;
  }

  // The file, written in pieces, holds the same text.
  TempDir dir;
  ASSERT_EQ(MapFile::write(dir.file("out.map"), output, 0x10000), 1);
  std::string written = dir.read("out.map");
  const auto timeLine = [](std::string &mapText) {
    const std::size_t from = mapText.find("Created ");
    mapText.erase(from, mapText.find('\n', from) - from);
  };
  std::string made = text;
  timeLine(written);
  timeLine(made);
  EXPECT_TRUE(written == made);
}

// A name missing from the string table stops the map with one message,
// also in a table gathered on several threads (the name in a middle slice).
TEST(MapFile, StopsAtANameTheStringTableLacksWithOneMessage) {
  for (const int count : {100, 40000}) {
    SCOPED_TRACE(count);
    CoffBuilder out;
    out.processor(0x1001).section("code", kScnTypeCode).words({0});
    syment missing;
    std::memset(missing._n_name, 0, sizeof missing._n_name);
    missing._n_name[4] = 0x7F; // an offset past the string table
    missing.n_scnum = 1;
    missing.n_sclass = kClassExternal;
    for (int i = 0; i < count; ++i) {
      out.symbolIn("a_long_symbol_name_" + std::to_string(i), 0, "code",
                   kClassExternal);
      if (i == count / 2)
        out.rawEntry(missing);
    }
    const Coff output = out.build();
    EXPECT_EXIT(
        {
          dup2(2, 1); // the messages, where the death test sees them
          MapFile::text(output, 0x100, kTime);
          std::exit(0);
        },
        ::testing::ExitedWithCode(255),
        "^Error - Unable to find symbol name in string table\\.\n"
        "Errors    : 1\n");
  }
}

TEST(MapFile, ReportsAMapFileThatCannotBeOpened) {
  TempDir dir;
  const int errorsBefore = errorCount();
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  const int written =
      MapFile::write(dir.file("missing/out.map"), smallOutput().build(), 10);
  const std::string text = testing::internal::GetCapturedStderr() +
                           testing::internal::GetCapturedStdout();
  EXPECT_EQ(written, 0);
  EXPECT_EQ(errorCount() - errorsBefore, 1);
  EXPECT_EQ(text, "Error - Could not open map file '" +
                      dir.file("missing/out.map") + "' for writing.\n");
}

TEST(ErrorMapFile, ShowsTheAllocationOfEveryMemoryList) {
  LinkerSetup s;
  s.useProcessor(1);
  Memory &page = s.codePage("page0", 0, 0x7FF);
  s.codePage("page1", 0x800, 0xFFF);
  Memory &bank = s.dataBank("gpr0", 0x20, 0x6F);
  s.linker.cShareBanks.emplace_back("shr", 0x70, 0x7F, kDataMemory, 0, 0, "");
  s.place(page, "code", 8);
  s.place(bank, "vars", 3);
  const std::string expected =
      "ORVANE 2.40.00, Linker\n"
      "Linker Error Map File - Created Thu Jan  1 00:00:00 2026\n"
      "\n"
      "*Warning* - This is only a partial map file due to a link time "
      "error.\n"
      "   Only sections which were allocated prior to the error are shown "
      "below.\n"
      "\n"
      "CODEPAGES:\n"
      "    Memory      Start        End              Section    Address "
      "Size(Bytes)\n"
      " ---------  ---------  ---------            ---------  ---------  "
      "---------\n"
      "     page0     0x0000     0x07ff                 code     0x0000     "
      "0x0008\n"
      "\n"
      "     page1     0x0800     0x0fff"
      "                                           \n"
      "\n"
      "\n"
      "SHAREBANKS:\n"
      "    Memory      Start        End              Section    Address "
      "Size(Bytes)\n"
      " ---------  ---------  ---------            ---------  ---------  "
      "---------\n"
      "       shr     0x0070     0x007f"
      "                                           \n"
      "\n"
      "\n"
      "DATABANKS:\n"
      "    Memory      Start        End              Section    Address "
      "Size(Bytes)\n"
      " ---------  ---------  ---------            ---------  ---------  "
      "---------\n"
      "      gpr0     0x0020     0x006f                 vars     0x0020     "
      "0x0003\n"
      "\n"
      "\n"
      "ACCESSBANKS:\n"
      "\n";
  EXPECT_EQ(s.linker.errorMapText(kTime), expected);
}

} // namespace
