#include "CoffBuilder.h"
#include "CoffTestUtil.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>

namespace {

std::vector<std::string> entriesOf(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
        names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

Coff codeObject() {
  return CoffBuilder()
      .processor(0x1234, 16, 8)
      .fileFlags(kFileExecutable)
      .section("long_code_name", kScnTypeCode, kScnAccess)
      .at(0x200)
      .words({1, 2, 3})
      .symbol("s", 0, 1, kClassStatic)
      .build();
}

} // namespace

TEST(CoffWriter, PreWriteKeepsWhatItDoesNotLayOut) {
  Coff coff = codeObject();
  coff.cFileHdr.f_opthdr = 16;
  coff.cOptHdr.vstamp = 9;
  coff.preWrite();
  EXPECT_EQ(coff.cFileHdr.f_flags, kFileExecutable);
  EXPECT_EQ(coff.cOptHdr.vstamp, 9);
  EXPECT_EQ(coff.cOptHdr.rom_width_bits, 16u);
  const scnhdr &hdr = coff.cScnHdr.at("long_code_name");
  EXPECT_EQ(hdr.s_paddr, 0x200u);
  EXPECT_EQ(hdr.s_flags, kScnCode | kScnAccess | kScnAbsolute);
  EXPECT_EQ(Coff::getName(hdr, coff.cStringTbl), "long_code_name");
  EXPECT_NE(coff.cFileHdr.f_timdat, 0u);
}

TEST(CoffWriter, LaidOutTellsWhetherHeadersMatchTheContents) {
  Coff coff = codeObject();
  EXPECT_EQ(coff.isLaidOut(), 1);
  coff.cFileHdr.f_timdat += 5; // the stamp takes no part
  EXPECT_EQ(coff.isLaidOut(), 1);
  Coff grown = coff;
  grown.cRawData.at("long_code_name").append(Data(2));
  EXPECT_EQ(grown.isLaidOut(), 0);
  Coff moreSymbols = coff;
  moreSymbols.cSymbolTbl.push_back(syment());
  moreSymbols.cAuxType.push_back(0);
  EXPECT_EQ(moreSymbols.isLaidOut(), 0);
  Coff oldHeader = coff;
  oldHeader.cFileHdr.f_opthdr = 0;
  EXPECT_EQ(oldHeader.isLaidOut(), 0);
}

TEST(CoffWriter, DuplicateSectionNamesGiveAConsistentFile) {
  std::string bytes = CoffBuilder()
                          .section(".same", kScnTypeCode)
                          .words({1})
                          .section(".same2", kScnTypeCode)
                          .words({2})
                          .fileBytes();
  patch16(bytes, 36 + 40 + 5, 0);
  std::unique_ptr<Coff> coff = makeFromBytes(bytes, "d.o");
  ASSERT_NE(coff, nullptr);
  coff->preWrite();
  std::string written = writtenBytes(*coff);
  EXPECT_EQ(written.size(), coff->size());
  EXPECT_EQ(peek16(written, 2), 2); // two headers counted, two written
  std::unique_ptr<Coff> back = makeFromBytes(written, "d.o");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->cScnNum.size(), 2u);
}

TEST(CoffWriter, NamedWriteReplacesTheFileOnlyOnSuccess) {
  TempDir dir;
  dir.write("out.o", "old contents");
  Coff coff = codeObject();
  coff.cFileName = dir.file("out.o");
  coff.cReloc["long_code_name"].resize(70000); // beyond a 16-bit count
  std::string errors = capturedErrors([&] { EXPECT_EQ(coff.write(), 0); });
  EXPECT_EQ(errors, "Error - Coff file '" + coff.cFileName +
                        "', section 'long_code_name' has too many relocation "
                        "or line-number entries.\n");
  EXPECT_EQ(dir.read("out.o"), "old contents");
  EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"out.o"});

  coff.cReloc.clear();
  EXPECT_EQ(coff.write(), 1);
  EXPECT_EQ(dir.read("out.o").size(), coff.size());

  coff.cFileName = dir.file("no/such/dir/out.o");
  errors = capturedErrors([&] { EXPECT_EQ(coff.write(), 0); });
  EXPECT_EQ(errors, "Error - Could not open Coff file '" + coff.cFileName +
                        "' for writing.\n");
}

TEST(CoffWriter, StreamWriteChecksItsWrites) {
  TempDir dir;
  dir.write("ro.o", "");
  std::FILE *readOnly = std::fopen(dir.file("ro.o").c_str(), "rb");
  ASSERT_NE(readOnly, nullptr);
  Coff coff = codeObject();
  coff.cFileName = "x.o";
  std::string errors =
      capturedErrors([&] { EXPECT_EQ(coff.write(readOnly, 0), 0); });
  std::fclose(readOnly);
  EXPECT_EQ(errors, "Error - Coff file 'x.o' could not write file header.\n");
}
