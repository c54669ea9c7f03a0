#include "Coff.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

syment makeSym(const char *name, std::uint8_t sclass, std::uint16_t type,
               std::uint8_t numaux, std::int16_t scnum = 1) {
  syment sym;
  std::strncpy(sym._n_name, name, 8);
  sym.n_sclass = sclass;
  sym.n_type = type;
  sym.n_numaux = numaux;
  sym.n_scnum = scnum;
  return sym;
}

} // namespace

TEST(CoffRecords, EncodesEveryRecordInItsFileLayout) {
  coff_lineno line;
  line.l_srcndx = 0x01020304;
  line.l_lnno = 0x0506;
  line.l_paddr = 0x0708090A;
  line.l_flags = 0x0B0C;
  line.l_fcnndx = 0x0D0E0F10;
  std::uint8_t bytes[16];
  line.encode(bytes);
  const std::uint8_t expected[16] = {4, 3, 2,   1,   6,    5,   0xA, 9,
                                     8, 7, 0xC, 0xB, 0x10, 0xF, 0xE, 0xD};
  EXPECT_EQ(0, std::memcmp(bytes, expected, 16));
  coff_lineno back = coff_lineno::decode(bytes);
  EXPECT_EQ(back.l_paddr, line.l_paddr);
  EXPECT_EQ(back.l_fcnndx, line.l_fcnndx);

  reloc rel;
  rel.r_offset = -2;
  std::uint8_t relBytes[12];
  rel.encode(relBytes);
  EXPECT_EQ(relBytes[8], 0xFE);
  EXPECT_EQ(relBytes[9], 0xFF);
  EXPECT_EQ(reloc::decode(relBytes).r_offset, -2);

  syment sym = makeSym("abc", 2, 0, 0, -2);
  std::uint8_t symBytes[18];
  sym.encode(symBytes);
  EXPECT_EQ(symBytes[12], 0xFE);
  EXPECT_EQ(symBytes[13], 0xFF);
  EXPECT_EQ(syment::decode(symBytes).n_scnum, -2);
}

TEST(CoffRecords, AuxEntriesKeepReservedBytes) {
  syment entry;
  std::uint8_t bytes[18];
  for (int i = 0; i < 18; ++i)
    bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  entry = syment::decode(bytes);
  aux_fcn fcn = readAux<aux_fcn>(entry);
  EXPECT_EQ(fcn.x_lnnoptr, 0xABAAA9A8u);
  fcn.x_lnnoptr = 0x11223344;
  writeAux(entry, fcn);
  entry.encode(bytes);
  EXPECT_EQ(bytes[8], 0x44);
  EXPECT_EQ(bytes[16], 0xB0); // reserved, untouched
  EXPECT_EQ(bytes[17], 0xB1);
}

TEST(CoffRecords, AuxTypeFollowsItsTestOrder) {
  struct Case {
    const char *what;
    syment sym;
    int kind;
  } cases[] = {
      {"no aux entry", makeSym("f", kClassFile, 0, 0), kAuxNone},
      {"file beats function", makeSym("f", kClassFile, 0x20, 1), kAuxFile},
      {"end of struct", makeSym("x", kClassEndOfStruct, 0, 1), kAuxEos},
      {"array of functions", makeSym("x", 2, 0x20 | 0xC0, 1), kAuxArr},
      {"array at level 2", makeSym("x", 2, 0xC0, 1), kAuxArr},
      {"function named .bf", makeSym(".bf", 2, 0x20, 1), kAuxFcn},
      {"function only above level 1", makeSym("x", 2, 0x80, 1), kAuxNone},
      {".bf", makeSym(".bf", 101, 0, 1), kAuxBobf},
      {".ef", makeSym(".ef", 101, 0, 1), kAuxEobf},
      {".bb", makeSym(".bb", 100, 0, 1), kAuxBobf},
      {".eb", makeSym(".eb", 100, 0, 1), kAuxEobf},
      {"tag", makeSym("t", kClassUnionTag, 0, 1), kAuxTag},
      {"tag type", makeSym("v", 2, 8, 1), kAuxVar},
      {"section class", makeSym("s", kClassSection, 0, 1), kAuxScn},
      {"static dot name", makeSym(".code", kClassStatic, 0, 1), kAuxScn},
      {"static plain name", makeSym("code", kClassStatic, 0, 1), kAuxNone},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Coff::auxType(c.sym), c.kind);
  }
  syment longName = makeSym("", kClassStatic, 0, 1);
  longName.setNameOffset(4);
  EXPECT_EQ(Coff::isSection(longName), 0);
}

TEST(CoffRecords, SymbolTestsFollowClassAndSection) {
  EXPECT_EQ(Coff::isExtDef(makeSym("a", 2, 0, 0, 1)), 1);
  EXPECT_EQ(Coff::isExtDef(makeSym("a", 2, 0, 0, 0)), 0);
  EXPECT_EQ(Coff::isExtRef(makeSym("a", 2, 0, 0, 0)), 1);
  EXPECT_EQ(Coff::isExtRef(makeSym("a", 3, 0, 0, 0)), 0);
  for (std::uint8_t sclass : {2, 3, 6, 100, 101}) {
    SCOPED_TRACE(int(sclass));
    EXPECT_EQ(Coff::needsRelocation(makeSym("a", sclass, 0, 0, 1)), 1);
    EXPECT_EQ(Coff::needsRelocation(makeSym("a", sclass, 0, 0, -1)), 0);
  }
  EXPECT_EQ(Coff::needsRelocation(makeSym("a", 103, 0, 0, 1)), 0);
}

TEST(CoffRecords, SectionTypeAndFlags) {
  scnhdr hdr;
  Coff::setScnFlags(hdr, kScnTypeUdata, 0, 0, 0);
  EXPECT_EQ(hdr.s_flags, 0x80u);
  Coff::setScnFlags(hdr, kScnTypeNone, 1, 1, 1);
  EXPECT_EQ(hdr.s_flags, 0x1000u | 0x2000u | 0x8000u);
  Coff::setScnFlags(hdr, kScnTypeRomdata, 0, 0, 0);
  EXPECT_EQ(hdr.s_flags, 0x100u);
  hdr.s_flags = 0x60;
  EXPECT_EQ(Coff::scnType(hdr), kScnTypeCode);
  hdr.s_flags = 0x4000;
  EXPECT_EQ(Coff::scnType(hdr), kScnTypeNone);
  EXPECT_EQ(Coff::isOverlay(hdr), 1);
}

TEST(CoffNames, InlineAndLongNamesRoundTrip) {
  std::map<int, std::string> strTbl = {
      {4, "a_long_name"}, {16, "dup_name_x"}, {27, "dup_name_x"}};
  scnhdr hdr;
  Coff::setName(hdr, strTbl, "eightchr");
  EXPECT_EQ(std::memcmp(hdr._s_name, "eightchr", 8), 0);
  EXPECT_EQ(Coff::getName(hdr, strTbl), "eightchr");
  Coff::setName(hdr, strTbl, "a_long_name");
  EXPECT_TRUE(hdr.hasLongName());
  EXPECT_EQ(hdr.nameOffset(), 4u);
  EXPECT_EQ(Coff::getName(hdr, strTbl), "a_long_name");
  syment sym;
  Coff::setName(sym, strTbl, "dup_name_x");
  EXPECT_EQ(sym.nameOffset(), 16u);
  Coff::setName(sym, strTbl, "ab");
  EXPECT_EQ(Coff::getName(sym, strTbl), "ab");
  aux_file file;
  file.x_offset = 27;
  EXPECT_EQ(Coff::getName(file, strTbl), "dup_name_x");
}

TEST(CoffNamesDeathTest, MissingNamesEndTheProgram) {
  std::map<int, std::string> strTbl;
  syment sym;
  EXPECT_EXIT(Coff::setName(sym, strTbl, "not_in_table"),
              testing::ExitedWithCode(255),
              "Error - Could not find symbol name 'not_in_table' in string "
              "table.");
  scnhdr hdr;
  EXPECT_EXIT(Coff::setName(hdr, strTbl, "not_in_table"),
              testing::ExitedWithCode(255),
              "Could not find section name 'not_in_table' in string table.");
  hdr.setNameOffset(4);
  EXPECT_EXIT(Coff::getName(hdr, strTbl), testing::ExitedWithCode(255),
              "Unable to find section name in string table.");
  sym.setNameOffset(4);
  EXPECT_EXIT(Coff::getName(sym, strTbl), testing::ExitedWithCode(255),
              "Unable to find symbol name in string table.");
  EXPECT_EXIT(Coff::getName(aux_file(), strTbl), testing::ExitedWithCode(255),
              "Unable to find aux_file name in string table.");
}

TEST(CoffData, CopiesDeeplyAndAppends) {
  Data empty;
  EXPECT_EQ(empty.bytes(), nullptr);
  const std::uint8_t raw[] = {1, 2, 3};
  Data a(3, raw);
  Data b = a;
  b.bytes()[0] = 9;
  EXPECT_EQ(a.bytes()[0], 1);
  Data c;
  c.append(a);
  EXPECT_EQ(c.size(), 3u);
  c.append(empty);
  EXPECT_EQ(c.size(), 3u);
  c.append(b);
  EXPECT_EQ(c.size(), 6u);
  EXPECT_EQ(c.bytes()[3], 9);
  // Assigned to itself through another name, as a container may do.
  const Data &same = c;
  c = same;
  EXPECT_EQ(c.size(), 6u);
  Data zeros(4);
  EXPECT_EQ(zeros.bytes()[3], 0);
}

TEST(CoffData, HexDumpBreaksLinesAfter32Bytes) {
  std::vector<std::uint8_t> raw(33);
  for (int i = 0; i < 33; ++i)
    raw[i] = static_cast<std::uint8_t>(i);
  Data data(33, raw.data());
  std::ostringstream out;
  data.print(out);
  EXPECT_EQ(out.str(), "00010203 04050607 08090a0b 0c0d0e0f 10111213 "
                       "14151617 18191a1b 1c1d1e1f \n20\n");
}
