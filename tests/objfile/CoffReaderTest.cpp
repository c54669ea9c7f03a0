#include "ByteOrder.h"
#include "CoffBuilder.h"
#include "CoffTestUtil.h"
#include "Messages.h"

#include <gtest/gtest.h>

namespace {

// Offsets inside an image of the current layout.
constexpr std::size_t kNscns = 2, kSymptr = 8, kNsyms = 12;
std::size_t scnField(int section, std::size_t field) {
  return 36 + 40 * section + field;
}
constexpr std::size_t kSize = 16, kScnptr = 20, kRelptr = 24, kNreloc = 32,
                      kNlnno = 34;

std::string smallObject() {
  return CoffBuilder()
      .processor(0x2550)
      .section(".code", kScnTypeCode)
      .words({0x2805, 0x0008})
      .reloc(0, "main", 2)
      .line(5, 0, 0)
      .fileSymbol("main.asm")
      .global("main", 0, ".code")
      .fileBytes();
}

std::string readErrors(const std::string &bytes, bool *gotObject = nullptr) {
  std::unique_ptr<Coff> coff;
  std::string errors =
      capturedErrors([&] { coff = makeFromBytes(bytes, "t.o"); });
  if (gotObject != nullptr)
    *gotObject = coff != nullptr;
  return errors;
}

// Two uninitialised sections claiming the given sizes, with no file data.
std::string zeroFilledSections(std::uint32_t firstBytes,
                               std::uint32_t secondBytes) {
  std::string bytes = CoffBuilder()
                          .section(".u1", kScnTypeUdata)
                          .zeros(1)
                          .section(".u2", kScnTypeUdata)
                          .zeros(1)
                          .symbol("s", 0, 1, kClassStatic)
                          .fileBytes();
  patch32(bytes, scnField(0, kSize), firstBytes);
  patch32(bytes, scnField(1, kSize), secondBytes);
  return bytes;
}

} // namespace

TEST(CoffReader, ReportsEachReadFailureWithItsOwnText) {
  std::string good = smallObject();
  std::string empty = CoffBuilder().fileBytes(); // 40 bytes, no symbols
  struct Case {
    const char *what;
    std::string bytes;
    const char *error;
  };
  std::vector<Case> cases;
  cases.push_back(
      {"short header", good.substr(0, 19), "could not read file header."});
  std::string magic = good;
  magic[0] = 0x35;
  cases.push_back(
      {"wrong magic", magic, "does not appear to be a valid COFF file."});
  cases.push_back({"short optional header", good.substr(0, 30),
                   "could not read optional file header."});
  std::uint32_t stringAt = peek32(good, kSymptr) + 18 * peek32(good, kNsyms);
  cases.push_back({"no string table length", good.substr(0, stringAt),
                   "could not read string table length."});
  cases.push_back({"short string table", good.substr(0, good.size() - 1),
                   "could not read string table."});
  std::string huge = good;
  patch32(huge, kNsyms, 0xFFFFFFFFu);
  cases.push_back(
      {"huge symbol count", huge, "could not read string table length."});
  std::string headers = empty;
  patch16(headers, kNscns, 1);
  cases.push_back(
      {"missing section header", headers, "could not read section header."});
  std::string raw = good;
  patch32(raw, scnField(0, kScnptr), 0xFFFFFFF0u);
  cases.push_back({"raw data beyond the end", raw, "could not read raw data."});
  std::string zeros = good;
  patch32(zeros, scnField(0, kScnptr), 0);
  patch32(zeros, scnField(0, kSize), 0xFFFFFFFFu);
  cases.push_back(
      {"huge zero-filled section", zeros, "could not read raw data."});
  // The bound is on all zero-filled sections together.
  cases.push_back({"zero-filled sections beyond the bound in all",
                   zeroFilledSections(8u << 20, (8u << 20) + 1),
                   "could not read raw data."});
  std::string lines = good;
  patch16(lines, scnField(0, kNlnno), 0xFFFF);
  cases.push_back(
      {"too many line numbers", lines, "could not read line numbers."});
  std::string relocs = good;
  patch32(relocs, scnField(0, kRelptr), 0xFFFFFFFFu);
  cases.push_back({"relocations beyond the end", relocs,
                   "could not read relocation info."});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    bool gotObject = true;
    std::string errors = readErrors(c.bytes, &gotObject);
    EXPECT_EQ(errors, std::string("Error - Coff file 't.o' ") + c.error + "\n");
    EXPECT_FALSE(gotObject);
  }
}

TEST(CoffReader, TruncationAtEveryByteGivesAMessageNotAnObject) {
  std::string good = smallObject();
  for (std::size_t length = 0; length < good.size(); ++length) {
    SCOPED_TRACE(length);
    bool gotObject = true;
    std::string errors = readErrors(good.substr(0, length), &gotObject);
    EXPECT_FALSE(gotObject);
    EXPECT_EQ(errors.rfind("Error - Coff file 't.o' ", 0), 0u);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
  }
}

TEST(CoffReader, ReadsImageAtAnOffsetInsideAFile) {
  std::string good = smallObject();
  std::unique_ptr<Coff> coff = makeFromBytes("0123456789" + good, "m", 10);
  ASSERT_NE(coff, nullptr);
  EXPECT_EQ(coff->cRawData.at(".code").size(), 4u);
  EXPECT_EQ(coff->cStringTbl.at(4), "main.asm");
  EXPECT_EQ(makeFromBytes(good, "m", 1 << 20), nullptr);
}

TEST(CoffReader, ObjectWithoutSymbolsReadsWithEmptyTables) {
  // A stripped link output: no symbol table, f_symptr 0.
  std::string bytes =
      CoffBuilder()
          .fileFlags(kFileExecutable | kFileNoLineNumbers | kFileNoLocalSymbols)
          .section(".code", kScnTypeCode)
          .words({1})
          .section("a_long_section", kScnTypeCode)
          .words({2})
          .fileBytes();
  ASSERT_EQ(peek32(bytes, kNsyms), 0u);
  std::unique_ptr<Coff> coff;
  std::string errors =
      capturedErrors([&] { coff = makeFromBytes(bytes, "stripped.o"); });
  EXPECT_EQ(errors, "");
  ASSERT_NE(coff, nullptr);
  EXPECT_TRUE(coff->cSymbolTbl.empty());
  EXPECT_EQ(coff->cScnNum.at(2), "a_long_section");
  EXPECT_EQ(coff->verify(), 1);
  EXPECT_EQ(writtenBytes(*coff), bytes);

  std::string noStrings = CoffBuilder().section(".c", 1).words({1}).fileBytes();
  coff = makeFromBytes(noStrings.substr(0, noStrings.size() - 4), "s.o");
  ASSERT_NE(coff, nullptr);
  EXPECT_TRUE(coff->cStringTbl.empty());
}

TEST(CoffReader, StringTableStopsAtTheFirstEmptyString) {
  std::string bytes = CoffBuilder().symbol("s", 0, -1, 3).fileBytes();
  ASSERT_EQ(peek32(bytes, bytes.size() - 4), 4u);
  std::unique_ptr<Coff> coff = makeFromBytes(bytes);
  ASSERT_NE(coff, nullptr);
  EXPECT_TRUE(coff->cStringTbl.empty());

  bytes.resize(bytes.size() - 4);
  appendLE32(bytes, 4 + 10);
  bytes += std::string("ab\0\0cd\0ef\0\0", 10);
  coff = makeFromBytes(bytes);
  ASSERT_NE(coff, nullptr);
  EXPECT_EQ(coff->cStringTbl, (std::map<int, std::string>{{4, "ab"}}));
  bytes.resize(bytes.size() - 14);
  appendLE32(bytes, 4 + 5);
  bytes += std::string("ab\0cd", 5); // the last string has no NUL
  coff = makeFromBytes(bytes);
  ASSERT_NE(coff, nullptr);
  EXPECT_EQ(coff->cStringTbl, (std::map<int, std::string>{{4, "ab"}}));
}

TEST(CoffReader, SectionCountsFollowSizeAndPointer) {
  std::string bytes = CoffBuilder()
                          .section(".a", kScnTypeCode)
                          .words({1, 2})
                          .section(".b", kScnTypeUdata)
                          .zeros(16)
                          .symbol("s", 0, 1, kClassStatic)
                          .fileBytes();
  patch32(bytes, scnField(0, kSize), 0);
  patch16(bytes, scnField(0, kNreloc), 3);
  patch32(bytes, scnField(0, kRelptr), 0xFFFFFF00u);
  std::unique_ptr<Coff> coff = makeFromBytes(bytes);
  ASSERT_NE(coff, nullptr);
  EXPECT_EQ(coff->cReloc.count(".a"), 0u);
  EXPECT_EQ(coff->cRawData.count(".a"), 0u);
  EXPECT_EQ(coff->cRawData.at(".b").size(), 16u);
  EXPECT_EQ(coff->cLineNum.count(".b"), 0u);
}

TEST(CoffReader, SectionsSharingANameKeepTheLastHeaderAndEveryEntry) {
  // Names alike in their first 16 bytes; the third section is renamed to
  // the first one's name, the fourth (data) to the second one's.
  std::string bytes = CoffBuilder()
                          .section("x_long_section_name_b", kScnTypeCode)
                          .words({1, 2})
                          .reloc(0, "s", 2)
                          .line(5, 0)
                          .section("x_long_section_name_a", kScnTypeCode)
                          .words({3})
                          .section("x_long_section_name_c", kScnTypeCode)
                          .words({4})
                          .reloc(0, "s", 3)
                          .line(6, 1)
                          .section("x_long_section_name_d", kScnTypeUdata)
                          .zeros(6)
                          .symbol("s", 0, 1, kClassStatic)
                          .fileBytes();
  patch32(bytes, scnField(2, 4), peek32(bytes, scnField(0, 4)));
  patch32(bytes, scnField(3, 4), peek32(bytes, scnField(1, 4)));
  const std::string a = "x_long_section_name_a", b = "x_long_section_name_b";
  for (Coff::Parts parts : {Coff::Parts::All, Coff::Parts::NamesFromImage,
                            Coff::Parts::ProgramMemory}) {
    std::unique_ptr<Coff> coff =
        Coff::make(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                   bytes.size(), "t.o", parts);
    ASSERT_NE(coff, nullptr);
    // Only a full read keeps the numbers.
    EXPECT_EQ(coff->cScnNum.size(), parts == Coff::Parts::All ? 4u : 0u);
    EXPECT_EQ(coff->cScnHdr.at(b).s_size, 2u);
    ASSERT_EQ(coff->cRawData.at(b).size(), 2u);
    EXPECT_EQ(coff->cRawData.at(b).bytes()[0], 4);
    if (parts == Coff::Parts::ProgramMemory) {
      // The data header that stays leaves the other name out.
      EXPECT_EQ(coff->cScnHdr.size(), 1u);
      EXPECT_EQ(coff->cRawData.size(), 1u);
      continue;
    }
    ASSERT_EQ(coff->cScnHdr.size(), 2u);
    EXPECT_EQ(Coff::scnType(coff->cScnHdr.at(a)), kScnTypeUdata);
    EXPECT_EQ(coff->cRawData.count(a), parts == Coff::Parts::All ? 1u : 0u);
    if (parts == Coff::Parts::NamesFromImage) {
      EXPECT_TRUE(coff->cLineNum.empty()); // read in the image
      continue;
    }
    const std::vector<coff_lineno> &lines = coff->cLineNum.at(b);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].l_lnno, 6);
    if (parts != Coff::Parts::All)
      continue;
    EXPECT_EQ(coff->cScnNum,
              (std::map<int, std::string>{{1, b}, {2, a}, {3, b}, {4, a}}));
    EXPECT_EQ(coff->cRawData.at(a).size(), 6u);
    const std::vector<reloc> &relocs = coff->cReloc.at(b);
    ASSERT_EQ(relocs.size(), 2u);
    EXPECT_EQ(relocs[1].r_type, 3);
  }
}

TEST(CoffReader, OnlyTheFirstAuxEntryIsRecognised) {
  CoffBuilder b;
  b.section(".code", kScnTypeCode).words({0});
  b.function("fn", 0, ".code").aux(aux_fcn{}).aux(aux_fcn{});
  b.symbol("x", 0, 1, kClassStatic).aux(aux_fcn{}); // kind 0: read as symbol
  std::unique_ptr<Coff> coff = makeFromBytes(b.fileBytes());
  ASSERT_NE(coff, nullptr);
  EXPECT_EQ(coff->cAuxType, (std::vector<int>{0, kAuxFcn, 0, 0, 0}));
}

TEST(CoffReader, ConvertsTheOldLayout) {
  int errorsBefore = errorCount();
  std::unique_ptr<Coff> coff;
  std::string errors =
      capturedErrors([&] { coff = makeFromBytes(oldLayoutObject(), "old.o"); });
  EXPECT_EQ(errors,
            "Error - Coff file 'old.o' missing optional file header.\n");
  EXPECT_EQ(errorCount(), errorsBefore + 1);
  ASSERT_NE(coff, nullptr);
  EXPECT_EQ(coff->cFileHdr.f_opthdr, 0);
  EXPECT_EQ(coff->cOptHdr.proc_type, 0u);
  EXPECT_EQ(coff->cScnNum.at(1), ".code");
  EXPECT_EQ(coff->cRawData.at(".code").bytes()[3], 4);
  EXPECT_EQ(coff->cStringTbl,
            (std::map<int, std::string>{
                {4, "a_long_symbol"}, {18, "abcde"}, {24, "fghij"}}));
  EXPECT_EQ(readAux<aux_file>(coff->cSymbolTbl[1]).x_offset, 18u);
  EXPECT_EQ(readAux<aux_file>(coff->cSymbolTbl[3]).x_offset, 24u);
  EXPECT_EQ(Coff::getName(coff->cSymbolTbl[4], coff->cStringTbl),
            "a_long_symbol");
  const std::vector<coff_lineno> &lines = coff->cLineNum.at(".code");
  ASSERT_EQ(lines.size(), 2u);
  for (const coff_lineno &line : lines) {
    EXPECT_EQ(line.l_flags, kLineHasFcnNdx);
    EXPECT_EQ(line.l_fcnndx, 7u);
    EXPECT_EQ(line.l_srcndx, 0u);
  }
  EXPECT_EQ(lines[0].l_paddr, 0x10u);
  EXPECT_EQ(lines[1].l_lnno, 4);
  const reloc &rel = coff->cReloc.at(".code").at(0);
  EXPECT_EQ(rel.r_vaddr, 2u);
  EXPECT_EQ(rel.r_symndx, 4u);
  EXPECT_EQ(rel.r_type, 4);
  EXPECT_EQ(rel.r_offset, 0);

  // Not laid out for the current layout until preWrite runs.
  EXPECT_EQ(coff->isLaidOut(), 0);
  coff->cFileHdr.f_opthdr = kOptHdrSizeInBytes;
  coff->preWrite();
  EXPECT_EQ(coff->isLaidOut(), 1);
  errors = capturedErrors([&] {
    std::unique_ptr<Coff> back = makeFromBytes(writtenBytes(*coff), "new.o");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->cStringTbl, coff->cStringTbl);
    EXPECT_EQ(back->cLineNum.at(".code").size(), 2u);
  });
  EXPECT_EQ(errors, "");
}

TEST(CoffReader, ZeroFilledSectionsUpToTheBoundInAllAreRead) {
  std::unique_ptr<Coff> coff =
      makeFromBytes(zeroFilledSections(8u << 20, 8u << 20));
  ASSERT_NE(coff, nullptr);
  EXPECT_EQ(coff->cRawData.at(".u2").size(), 8u << 20);
}

// An empty name inside the string table would end it for every later
// reader: the names after it would be lost once the object is written.
TEST(CoffReader, EmptyOldLayoutFileNameStaysOutOfTheStringTable) {
  std::unique_ptr<Coff> coff;
  capturedErrors(
      [&] { coff = makeFromBytes(oldLayoutObject(2, "", "abc"), "old.o"); });
  ASSERT_NE(coff, nullptr);
  const std::map<int, std::string> strings{{4, "a_long_symbol"}, {18, "abc"}};
  EXPECT_EQ(coff->cStringTbl, strings);
  EXPECT_EQ(readAux<aux_file>(coff->cSymbolTbl[1]).x_offset, 0u);
  EXPECT_EQ(readAux<aux_file>(coff->cSymbolTbl[3]).x_offset, 18u);
  coff->cFileHdr.f_opthdr = kOptHdrSizeInBytes;
  coff->preWrite();
  std::unique_ptr<Coff> back = makeFromBytes(writtenBytes(*coff), "new.o");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->cStringTbl, strings);
}

TEST(CoffReader, UnreadableNamedFileIsReported) {
  std::string errors = capturedErrors(
      [] { EXPECT_EQ(Coff::make("/nonexistent/dir/x.o"), nullptr); });
  EXPECT_EQ(errors, "Error - Could not open Coff file '/nonexistent/dir/x.o' "
                    "for reading.\n");
}

TEST(CoffReaderDeathTest, MissingLongSectionNameEndsTheProgram) {
  std::string bytes = CoffBuilder()
                          .section("long_section_name", kScnTypeCode)
                          .words({1})
                          .symbol("s", 0, 1, kClassStatic)
                          .fileBytes();
  patch32(bytes, scnField(0, 4), 999);
  EXPECT_EXIT(makeFromBytes(bytes), testing::ExitedWithCode(255),
              "Error - Unable to find section name in string table.");
}

TEST(CoffReader, PartsKeepWhatTheyNameAndCheckEverything) {
  const std::string bytes =
      CoffBuilder()
          .processor(0x2550)
          .section(".a_long_section_name", kScnTypeCode)
          .words({0x2805, 0x0008})
          .reloc(0, "a_long_symbol_name", 2)
          .line(5, 0, 0)
          .fileSymbol("a_long_source_name.asm")
          .global("a_long_symbol_name", 0, ".a_long_section_name")
          .fileBytes();
  auto read = [](const std::string &image, Coff::Parts parts) {
    return Coff::make(reinterpret_cast<const std::uint8_t *>(image.data()),
                      image.size(), "t.o", parts);
  };
  std::unique_ptr<Coff> all = read(bytes, Coff::Parts::All);
  ASSERT_NE(all, nullptr);
  ASSERT_GT(all->cStringTbl.size(), 1u);
  std::unique_ptr<Coff> names = read(bytes, Coff::Parts::NamesFromImage);
  ASSERT_NE(names, nullptr);
  EXPECT_TRUE(names->cStringTbl.empty());
  EXPECT_TRUE(names->cScnNum.empty());
  EXPECT_TRUE(names->cSymbolTbl.empty()); // read in the image
  EXPECT_TRUE(names->cAuxType.empty());
  EXPECT_TRUE(names->cLineNum.empty()); // read in the image
  EXPECT_EQ(names->cRawData.at(".a_long_section_name").size(), 4u);
  EXPECT_TRUE(names->cReloc.empty());

  std::unique_ptr<Coff> sections = read(bytes, Coff::Parts::ProgramMemory);
  ASSERT_NE(sections, nullptr);
  EXPECT_EQ(sections->cScnHdr.size(), 1u);
  EXPECT_EQ(sections->cRawData.at(".a_long_section_name").size(), 4u);
  EXPECT_TRUE(sections->cScnNum.empty());
  EXPECT_TRUE(sections->cStringTbl.empty());
  EXPECT_TRUE(sections->cSymbolTbl.empty());
  EXPECT_TRUE(sections->cLineNum.empty());
  EXPECT_TRUE(sections->cReloc.empty());

  // A block the kept parts do not need is still checked.
  std::string cut = bytes;
  patch16(cut, scnField(0, kNreloc), 0x7FFF);
  for (Coff::Parts parts :
       {Coff::Parts::ProgramMemory, Coff::Parts::NamesFromImage}) {
    std::unique_ptr<Coff> coff;
    EXPECT_EQ(capturedErrors([&] { coff = read(cut, parts); }),
              "Error - Coff file 't.o' could not read relocation info.\n");
    EXPECT_EQ(coff, nullptr);
  }

  // The old layout's file names move into the string table in any case,
  // and its symbols, changed as they are read, are kept.
  std::unique_ptr<Coff> old;
  capturedErrors([&] {
    const std::string image = oldLayoutObject();
    old = read(image, Coff::Parts::NamesFromImage);
  });
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->cStringTbl,
            (std::map<int, std::string>{{18, "abcde"}, {24, "fghij"}}));
  EXPECT_FALSE(old->cSymbolTbl.empty());
  EXPECT_FALSE(old->cLineNum.empty());
}
