// Whole links through _orvane for each processor family, the output read
// back with the COFF reader: addresses, patched contents, symbols, line
// numbers, initial-data images, the init table, the stack, fill sections,
// stripping and the map files.
#include "ByteOrder.h"
#include "CoffBuilder.h"
#include "LinkerRun.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kRelAll = 8; // the whole 16-bit value

struct Family {
  const char *name;
  std::uint16_t deviceCode;
  std::uint32_t romWidthBits;
  std::uint16_t fillWord;
  const char *memories; // the memory lines of the command file
  bool retlwImages;     // initial data as one RETLW word per byte
  std::uint16_t retlw;  // RETLW opcode bits
  bool wideInitTable;   // 32-bit init-table fields
};

const Family kFamilies[] = {
    {"Trell", 0x1001, 14, 0x3FFF,
     "CODEPAGE NAME=page START=0 END=0x3F FILL=0x3FFF\n"
     "DATABANK NAME=gpr START=0x20 END=0x6F\n",
     true, 0x3400, false},
    {"Brask", 0x2001, 16, 0xFFFF,
     "CODEPAGE NAME=page START=0 END=0x3F FILL=0xFFFF\n"
     "DATABANK NAME=gpr START=0x20 END=0x7F\n",
     false, 0, false},
    {"Vesk", 0x3001, 12, 0x0FFF,
     "CODEPAGE NAME=page START=0 END=0x3F FILL=0x0FFF\n"
     "DATABANK NAME=gpr START=0x08 END=0x1F\n",
     true, 0x0800, false},
    {"Quolm", 0x4001, 8, 0xFFFF,
     "CODEPAGE NAME=page START=0 END=0x7F FILL=0xFFFF\n"
     "DATABANK NAME=gpr START=0x00 END=0x7F\n",
     false, 0, true},
};

std::uint32_t locationsPerWord(const Family &family) {
  return family.romWidthBits == 8 ? 2 : 1;
}

class LinkFamily : public LinkerRun,
                   public ::testing::WithParamInterface<Family> {
protected:
  // a.o: an absolute reset word pointing at start, two code words (the
  // second patched with helper's address), initialised data; b.o: one
  // code word patched with buf's address and uninitialised data.
  void writeInputs() {
    const Family &f = GetParam();
    const std::uint32_t unit = locationsPerWord(f);
    cDir.write("a.o", CoffBuilder()
                          .processor(f.deviceCode, f.romWidthBits)
                          .section("reset", kScnTypeCode)
                          .at(0)
                          .words({0})
                          .reloc(0, "start", kRelAll)
                          .section("code", kScnTypeCode)
                          .words({0x1111, 0})
                          .reloc(2, "helper", kRelAll)
                          .line(5, 0)
                          .line(6, unit)
                          .section("idat", kScnTypeIdata)
                          .bytes({1, 2, 3})
                          .fileSymbol("a.asm")
                          .function("start", 0, "code")
                          .symbolIn("second", unit, "code", kClassLabel)
                          .global("var", 1, "idat")
                          .external("helper")
                          .symbol(".eof", 0, kScnNumDebug, kClassFile)
                          .fileBytes());
    cDir.write("b.o", CoffBuilder()
                          .processor(f.deviceCode, f.romWidthBits)
                          .section("code", kScnTypeCode)
                          .words({0})
                          .reloc(0, "buf", kRelAll)
                          .section("bss", kScnTypeUdata)
                          .zeros(2)
                          .fileSymbol("b.asm")
                          .global("helper", 0, "code")
                          .global("buf", 0, "bss")
                          .symbol(".eof", 0, kScnNumDebug, kClassFile)
                          .fileBytes());
    cDir.write("link.lkr", std::string(f.memories) + "STACK SIZE=4\n");
  }

  std::unique_ptr<Coff> linkInputs(std::vector<std::string> extra = {}) {
    writeInputs();
    std::vector<std::string> args = {"a.o", "b.o", "link.lkr", "/o", "out.cof"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ProcessResult result = link(args);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    return Coff::make(cDir.file("out.cof"));
  }
};

const scnhdr &header(const Coff &coff, const std::string &name) {
  return coff.cScnHdr.at(name);
}

Bytes contents(const Coff &coff, const std::string &name) {
  const auto it = coff.cRawData.find(name);
  if (it == coff.cRawData.end())
    return {};
  return Bytes(it->second.bytes(), it->second.bytes() + it->second.size());
}

Bytes le16(std::initializer_list<std::uint32_t> values) {
  Bytes out;
  for (std::uint32_t value : values) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  return out;
}

Bytes le32(std::initializer_list<std::uint32_t> values) {
  Bytes out;
  for (std::uint32_t value : values)
    for (int shift = 0; shift < 32; shift += 8)
      out.push_back(static_cast<std::uint8_t>(value >> shift));
  return out;
}

Bytes romImage(const Family &f, const Bytes &bytes) {
  if (!f.retlwImages)
    return bytes;
  Bytes image;
  for (std::uint8_t b : bytes) {
    image.push_back(b);
    image.push_back(static_cast<std::uint8_t>(f.retlw >> 8));
  }
  return image;
}

// The first entry of that name; with definedOnly, the first one that
// names a section.
const syment *findSymbol(const Coff &coff, const std::string &name,
                         bool definedOnly = true) {
  for (std::size_t i = 0; i < coff.cSymbolTbl.size();
       i += 1 + coff.cSymbolTbl[i].n_numaux) {
    const syment &sym = coff.cSymbolTbl[i];
    if (definedOnly && sym.n_scnum <= 0)
      continue;
    if (Coff::getName(sym, coff.cStringTbl) == name)
      return &sym;
  }
  return nullptr;
}

int sectionNumber(const Coff &coff, const std::string &name) {
  for (const auto &entry : coff.cScnNum)
    if (entry.second == name)
      return entry.first;
  return 0;
}

TEST_P(LinkFamily, PlacesAndPatchesEverySection) {
  const Family &f = GetParam();
  const std::unique_ptr<Coff> out = linkInputs();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->cFileHdr.f_flags, 0x0002);
  EXPECT_EQ(out->cOptHdr.proc_type, f.deviceCode);
  EXPECT_EQ(out->cOptHdr.rom_width_bits, f.romWidthBits);
  EXPECT_TRUE(out->cReloc.empty() || out->cReloc.begin()->second.empty());

  const std::uint32_t code = header(*out, "code").s_paddr;
  const std::uint32_t helper = code + 2 * locationsPerWord(f);
  const std::uint32_t buf = header(*out, "bss").s_paddr;
  EXPECT_EQ(contents(*out, "reset"), le16({code}));
  EXPECT_EQ(contents(*out, "code"), le16({0x1111, helper, buf}));
  EXPECT_EQ(header(*out, "code").s_flags, kScnCode);
  EXPECT_EQ(header(*out, "bss").s_flags, kScnUdata);
  EXPECT_EQ(header(*out, "bss").s_size, 2u);
  EXPECT_EQ(header(*out, "bss").s_scnptr, 0u);
  EXPECT_EQ(header(*out, "reset").s_flags, kScnCode | kScnAbsolute);
  EXPECT_EQ(header(*out, "reset").s_paddr, 0u);
}

TEST_P(LinkFamily, WritesInitialDataImagesAndTheInitTable) {
  const Family &f = GetParam();
  const std::unique_ptr<Coff> out = linkInputs();
  ASSERT_NE(out, nullptr);
  const std::uint32_t data = header(*out, "idat").s_paddr;
  const std::uint32_t image = header(*out, "idat_i").s_paddr;
  EXPECT_EQ(contents(*out, "idat"), (Bytes{1, 2, 3}));
  EXPECT_EQ(header(*out, "idat").s_flags, kScnIdata);
  EXPECT_EQ(contents(*out, "idat_i"), romImage(f, {1, 2, 3}));
  EXPECT_EQ(header(*out, "idat_i").s_flags, kScnRomdata);
  EXPECT_EQ(sectionNumber(*out, "idat_i"), sectionNumber(*out, "idat") + 1);

  Bytes table = le16({1});
  const Bytes entry =
      f.wideInitTable ? le32({image, data, 3}) : le16({image, data, 3});
  table.insert(table.end(), entry.begin(), entry.end());
  EXPECT_EQ(contents(*out, ".cinit"), romImage(f, table));
  EXPECT_EQ(header(*out, ".cinit").s_flags, kScnRomdata);

  EXPECT_EQ(header(*out, ".stack").s_size, 4u);
  EXPECT_EQ(header(*out, ".stack").s_flags, kScnUdata);
}

TEST_P(LinkFamily, FillsEveryFreeProgramLocationWithThePattern) {
  const Family &f = GetParam();
  const std::unique_ptr<Coff> out = linkInputs();
  ASSERT_NE(out, nullptr);
  const std::uint32_t bytesPerLoc = f.romWidthBits == 8 ? 1 : 2;
  const std::uint32_t pageEnd = f.romWidthBits == 8 ? 0x7F : 0x3F;
  std::vector<int> covered(pageEnd + 1, 0);
  int fills = 0;
  for (const auto &number : out->cScnNum) {
    const scnhdr &hdr = header(*out, number.second);
    if (Coff::scnType(hdr) != kScnTypeCode &&
        Coff::scnType(hdr) != kScnTypeRomdata)
      continue;
    const std::uint32_t locs = (hdr.s_size + bytesPerLoc - 1) / bytesPerLoc;
    for (std::uint32_t loc = hdr.s_paddr; loc < hdr.s_paddr + locs; ++loc)
      ++covered.at(loc);
    if (number.second.rfind(".fill_", 0) != 0)
      continue;
    ++fills;
    EXPECT_EQ(number.second, ".fill_" + std::to_string(fills));
    EXPECT_EQ(hdr.s_flags, kScnCode);
    const Bytes bytes = contents(*out, number.second);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      ASSERT_EQ(bytes[i], i % 2 ? f.fillWord >> 8 : f.fillWord & 0xFF);
  }
  EXPECT_GT(fills, 0);
  EXPECT_EQ(covered, std::vector<int>(pageEnd + 1, 1));
}

TEST_P(LinkFamily, GivesSymbolsAndLineNumbersTheirFinalValues) {
  const Family &f = GetParam();
  const std::unique_ptr<Coff> out = linkInputs();
  ASSERT_NE(out, nullptr);
  const std::uint32_t code = header(*out, "code").s_paddr;
  const std::uint32_t unit = locationsPerWord(f);
  struct Expected {
    const char *name;
    std::uint32_t value;
    const char *section;
  };
  const Expected symbols[] = {
      {"start", code, "code"},
      {"second", code + unit, "code"},
      {"var", header(*out, "idat").s_paddr + 1, "idat"},
      {"helper", code + 2 * unit, "code"},
      {"buf", header(*out, "bss").s_paddr, "bss"},
  };
  for (const Expected &e : symbols) {
    SCOPED_TRACE(e.name);
    const syment *sym = findSymbol(*out, e.name);
    ASSERT_NE(sym, nullptr);
    EXPECT_EQ(sym->n_value, e.value);
    EXPECT_EQ(sym->n_scnum, sectionNumber(*out, e.section));
  }
  // a.o's reference comes first and holds the resolved value.
  const syment *reference = findSymbol(*out, "helper", false);
  ASSERT_NE(reference, nullptr);
  EXPECT_EQ(reference->n_scnum, kScnNumUndefined);
  EXPECT_EQ(reference->n_value, code + 2 * unit);

  const std::vector<coff_lineno> &lines = out->cLineNum.at("code");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].l_lnno, 5);
  EXPECT_EQ(lines[0].l_paddr, code);
  EXPECT_EQ(lines[1].l_lnno, 6);
  EXPECT_EQ(lines[1].l_paddr, code + unit);
  EXPECT_EQ(lines[0].l_srcndx, 0u);
}

TEST_P(LinkFamily, StripDropsSymbolsAndLineNumbers) {
  const std::unique_ptr<Coff> out = linkInputs({"/s"});
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->cFileHdr.f_flags, 0x0086);
  EXPECT_TRUE(out->cSymbolTbl.empty());
  EXPECT_EQ(out->cFileHdr.f_symptr, 0u);
  for (const auto &entry : out->cLineNum)
    EXPECT_TRUE(entry.second.empty()) << entry.first;
  // Contents are patched all the same.
  EXPECT_EQ(contents(*out, "reset"), le16({header(*out, "code").s_paddr}));
}

TEST_P(LinkFamily, WritesTheMapFileOverTheErrorMapFile) {
  const std::unique_ptr<Coff> out = linkInputs({"/m", "out.map"});
  ASSERT_NE(out, nullptr);
  const std::string map = cDir.read("out.map");
  EXPECT_EQ(map.rfind("ORVANE 2.40.00, Linker\nLinker Map File - Created ", 0),
            0u);
  for (const char *section : {"reset", "code", "idat_i", ".cinit", ".fill_1",
                              "idat", "bss", ".stack"})
    EXPECT_NE(map.find(std::string(" ") + section + " "), std::string::npos)
        << section;
  EXPECT_NE(map.find("                    start "), std::string::npos);
  EXPECT_EQ(map.find("partial map file"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Families, LinkFamily, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family> &info) {
                           return std::string(info.param.name);
                         });

// The map file with its time line replaced.
std::string maskedMap(const std::string &text) {
  const std::size_t from = text.find("Created ");
  const std::size_t to = text.find('\n', from);
  if (from == std::string::npos || to == std::string::npos)
    return text;
  return text.substr(0, from + 8) + "<time>" + text.substr(to);
}

class LinkMapFile : public LinkerRun {
protected:
  // One object and a command file with room to spare.
  void writeSmallLink() {
    cDir.write("a.o", CoffBuilder()
                          .processor(0x1001)
                          .section("code", kScnTypeCode)
                          .words({0x2800, 0x0000})
                          .global("start", 0, "code")
                          .fileBytes());
    cDir.write("link.lkr", "CODEPAGE NAME=page START=0 END=0x7F\n");
  }
};

TEST_F(LinkMapFile, WritesTheExactMapOfASmallLink) {
  cDir.write("a.o", CoffBuilder()
                        .processor(0x1001)
                        .section("reset", kScnTypeCode)
                        .at(0)
                        .words({0x2800})
                        .section("vars", kScnTypeUdata)
                        .at(0x20)
                        .zeros(1)
                        .fileSymbol("a.asm")
                        .function("start", 0, "reset")
                        .symbolIn("flag", 0x20, "vars", kClassStatic)
                        .fileBytes());
  cDir.write("link.lkr", "CODEPAGE NAME=page START=0 END=0x1F\n"
                         "DATABANK NAME=gpr START=0x20 END=0x2F\n");
  const ProcessResult result =
      link({"a.o", "link.lkr", "/m", "out.map", "/o", "out.cof", "/q"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(
      maskedMap(cDir.read("out.map")),
      "ORVANE 2.40.00, Linker\n"
      "Linker Map File - Created <time>\n"
      "\n"
      "                                 Section Info\n"
      "                  Section       Type    Address   Location "
      "Size(Bytes)\n"
      "                ---------  ---------  ---------  ---------  "
      "---------\n"
      "                    reset       code   0x000000    program   "
      "0x000002\n"
      "                   .cinit    romdata   0x000001    program   "
      "0x000004\n"
      "                     vars      udata   0x000020       data   "
      "0x000001\n"
      "\n"
      "\n"
      "\n"
      "                              Program Memory Usage \n"
      "                               Start         End      \n"
      "                           ---------   ---------      \n"
      "                            0x000000    0x000002      \n"
      "            3 out of 32 program addresses used, program memory "
      "utilization is 9%\n"
      "\n"
      "\n"
      "\n"
      "                              Symbols - Sorted by Name\n"
      "                     Name    Address   Location    Storage File      "
      "               \n"
      "                ---------  ---------  ---------  --------- --------- "
      "               \n"
      "                    start   0x000000    program     extern a.asm     "
      "               \n"
      "                     flag   0x000020       data     static a.asm     "
      "               \n"
      "\n"
      "\n"
      "\n"
      "                              Symbols - Sorted by Address\n"
      "                     Name    Address   Location    Storage File      "
      "               \n"
      "                ---------  ---------  ---------  --------- --------- "
      "               \n"
      "                    start   0x000000    program     extern a.asm     "
      "               \n"
      "                     flag   0x000020       data     static a.asm     "
      "               \n"
      "\n"
      "\n");
}

TEST_F(LinkMapFile, LeavesTheErrorMapAndNoOutputWhenAllocationFails) {
  cDir.write("a.o", CoffBuilder()
                        .processor(0x1001)
                        .section("reset", kScnTypeCode)
                        .at(0)
                        .words({0x2800})
                        .section("big", kScnTypeCode)
                        .words(std::vector<std::uint16_t>(16, 0))
                        .fileBytes());
  cDir.write("link.lkr", "CODEPAGE NAME=page START=0 END=0x7\n"
                         "DATABANK NAME=gpr START=0x20 END=0x2F\n");
  const ProcessResult result =
      link({"a.o", "link.lkr", "/m", "out.map", "/o", "out.cof"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "Error - section 'big' can not fit the section. "
                        "Section 'big' length=0x00000020\n");
  EXPECT_FALSE(cDir.exists("out.cof"));
  EXPECT_EQ(
      maskedMap(cDir.read("out.map")),
      "ORVANE 2.40.00, Linker\n"
      "Linker Error Map File - Created <time>\n"
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
      "      page     0x0000     0x0007                reset     0x0000     "
      "0x0002\n"
      "                                               .cinit     0x0001     "
      "0x0004\n"
      "\n"
      "\n"
      "SHAREBANKS:\n"
      "\n"
      "DATABANKS:\n"
      "    Memory      Start        End              Section    Address "
      "Size(Bytes)\n"
      " ---------  ---------  ---------            ---------  ---------  "
      "---------\n"
      "       gpr     0x0020     0x002f                                     "
      "      \n"
      "\n"
      "\n"
      "ACCESSBANKS:\n"
      "\n");
}

TEST_F(LinkMapFile, KeepsAnOldOutputWhenTheLinkFails) {
  cDir.write("out.cof", "old contents");
  cDir.write("a.o", CoffBuilder()
                        .processor(0x1001)
                        .section("code", kScnTypeCode)
                        .words({0})
                        .reloc(0, "missing", kRelAll)
                        .external("missing")
                        .fileBytes());
  cDir.write("link.lkr", "CODEPAGE NAME=page START=0 END=0x7\n");
  const ProcessResult result = link({"a.o", "link.lkr", "/o", "out.cof"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(cDir.read("out.cof"), "old contents");
}

// The map is made while the output is written: it must still replace the
// error map only when the output was written, and speak after it.
TEST_F(LinkMapFile, KeepsTheErrorMapWhenTheOutputCannotBeWritten) {
  writeSmallLink();
  const ProcessResult result =
      link({"a.o", "link.lkr", "/m", "out.map", "/o", "nodir/out.cof"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "Error - Could not open Coff file 'nodir/out.cof' "
                        "for writing.\n");
  EXPECT_EQ(maskedMap(cDir.read("out.map"))
                .rfind("ORVANE 2.40.00, Linker\nLinker Error Map File", 0),
            0u);
}

TEST_F(LinkMapFile, ReportsAMapItCannotWriteAfterWritingTheOutput) {
  writeSmallLink();
  const ProcessResult result =
      link({"a.o", "link.lkr", "/m", "nodir/out.map", "/o", "out.cof"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err,
            "Error - Could not open map file 'nodir/out.map' for writing.\n"
            "Error - Could not open map file 'nodir/out.map' for writing.\n");
  EXPECT_TRUE(cDir.exists("out.cof"));
}

} // namespace
