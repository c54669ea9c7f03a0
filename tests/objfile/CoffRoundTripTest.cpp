#include "CoffBuilder.h"
#include "CoffTestUtil.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

CoffBuilder sampleObject() {
  CoffBuilder b;
  b.processor(0x2550, 14, 8)
      .optMagic(0x5678, 1)
      .fileFlags(kFileFamilyGeneric)
      .section(".code", kScnTypeCode)
      .at(0x10)
      .words({0x2805, 0x3001, 0x0008})
      .reloc(0, "main", 2)
      .reloc(2, "a_long_symbol_name", 4, -3)
      .line(10, 0x10, 0, 4, kLineHasFcnNdx)
      .line(11, 0x11, 0, 4, kLineHasFcnNdx)
      .section("initialised_data", kScnTypeIdata)
      .bytes({1, 2, 3})
      .section(".udata", kScnTypeUdata)
      .zeros(0x40)
      .section(".rom", kScnTypeRomdata, kScnShared)
      .bytes({0xAA})
      .fileSymbol("some/long/source_file.asm")
      .sectionSymbol(".code")
      .function("main", 0, ".code");
  b.aux(aux_fcn{0, 6, 0, 7});
  b.global("a_long_symbol_name", 1, "initialised_data")
      .external("ext")
      .symbolIn("tag", 0, ".code", kClassStructTag)
      .aux(aux_tag{4, 8});
  return b;
}

std::string encoded(const syment &sym) {
  std::uint8_t bytes[18];
  sym.encode(bytes);
  return std::string(reinterpret_cast<char *>(bytes), 18);
}

template <class Record> std::string encodedRecord(const Record &rec) {
  std::uint8_t bytes[Record::sizeInBytes];
  rec.encode(bytes);
  return std::string(reinterpret_cast<char *>(bytes), sizeof bytes);
}

void expectSameObject(const Coff &a, const Coff &b) {
  EXPECT_EQ(encodedRecord(a.cFileHdr), encodedRecord(b.cFileHdr));
  EXPECT_EQ(encodedRecord(a.cOptHdr), encodedRecord(b.cOptHdr));
  EXPECT_EQ(a.cScnNum, b.cScnNum);
  ASSERT_EQ(a.cScnHdr.size(), b.cScnHdr.size());
  for (const auto &entry : a.cScnHdr) {
    SCOPED_TRACE(entry.first);
    ASSERT_EQ(b.cScnHdr.count(entry.first), 1u);
    EXPECT_EQ(encodedRecord(entry.second),
              encodedRecord(b.cScnHdr.at(entry.first)));
  }
  ASSERT_EQ(a.cRawData.size(), b.cRawData.size());
  for (const auto &entry : a.cRawData) {
    const Data &other = b.cRawData.at(entry.first);
    ASSERT_EQ(entry.second.size(), other.size());
    EXPECT_EQ(0,
              std::memcmp(entry.second.bytes(), other.bytes(), other.size()));
  }
  EXPECT_EQ(a.cReloc.size(), b.cReloc.size());
  for (const auto &entry : a.cReloc) {
    const auto &other = b.cReloc.at(entry.first);
    ASSERT_EQ(entry.second.size(), other.size());
    for (std::size_t i = 0; i < other.size(); ++i)
      EXPECT_EQ(encodedRecord(entry.second[i]), encodedRecord(other[i]));
  }
  EXPECT_EQ(a.cLineNum.size(), b.cLineNum.size());
  for (const auto &entry : a.cLineNum) {
    const auto &other = b.cLineNum.at(entry.first);
    ASSERT_EQ(entry.second.size(), other.size());
    for (std::size_t i = 0; i < other.size(); ++i)
      EXPECT_EQ(encodedRecord(entry.second[i]), encodedRecord(other[i]));
  }
  ASSERT_EQ(a.cSymbolTbl.size(), b.cSymbolTbl.size());
  for (std::size_t i = 0; i < a.cSymbolTbl.size(); ++i)
    EXPECT_EQ(encoded(a.cSymbolTbl[i]), encoded(b.cSymbolTbl[i])) << i;
  EXPECT_EQ(a.cAuxType, b.cAuxType);
  EXPECT_EQ(a.cStringTbl, b.cStringTbl);
}

} // namespace

TEST(CoffRoundTrip, BuiltObjectReadsBackEqual) {
  CoffBuilder builder = sampleObject();
  Coff built = builder.build();
  std::string bytes = builder.fileBytes();
  EXPECT_EQ(bytes.size(), built.size());
  std::unique_ptr<Coff> read = makeFromBytes(bytes, "sample.o");
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->cFileName, "sample.o");
  // Reading leaves no raw data entry for... every section here has data.
  expectSameObject(built, *read);
  EXPECT_EQ(read->verify(), 1);
  EXPECT_EQ(read->isLaidOut(), 1);
  EXPECT_EQ(writtenBytes(*read), bytes);
}

TEST(CoffRoundTrip, WritesToNamedFileAndReadsItBack) {
  TempDir dir;
  Coff built = sampleObject().build();
  built.cFileName = dir.file("out.o");
  ASSERT_EQ(built.write(), 1);
  std::unique_ptr<Coff> read = Coff::make(dir.file("out.o"));
  ASSERT_NE(read, nullptr);
  read->cFileName = built.cFileName;
  expectSameObject(built, *read);
}

TEST(CoffLayout, EmptyObjectIsFortyBytes) {
  Coff coff;
  coff.cFileHdr.f_opthdr = 16;
  coff.preWrite();
  EXPECT_EQ(coff.cFileHdr.f_magic, kCoffMagic);
  EXPECT_EQ(coff.cFileHdr.f_nscns, 0);
  EXPECT_EQ(coff.cFileHdr.f_symptr, 0u);
  EXPECT_EQ(coff.cFileHdr.f_nsyms, 0u);
  EXPECT_EQ(coff.size(), 40u);
  std::string bytes = writtenBytes(coff);
  ASSERT_EQ(bytes.size(), 40u);
  EXPECT_EQ(peek32(bytes, 36), 4u);
}

TEST(CoffLayout, PlacesBlocksWithoutGaps) {
  Coff coff = sampleObject().build();
  const scnhdr &code = coff.cScnHdr.at(".code");
  const scnhdr &idata = coff.cScnHdr.at("initialised_data");
  const scnhdr &udata = coff.cScnHdr.at(".udata");
  const scnhdr &rom = coff.cScnHdr.at(".rom");
  std::uint32_t rawStart = 36 + 40 * 4;
  EXPECT_EQ(code.s_scnptr, rawStart);
  EXPECT_EQ(idata.s_scnptr, rawStart + 6);
  EXPECT_EQ(udata.s_size, 0x40u);
  EXPECT_EQ(udata.s_scnptr, 0u);
  EXPECT_EQ(rom.s_scnptr, rawStart + 9); // as if the udata section were absent
  std::uint32_t relocStart = rawStart + 10;
  EXPECT_EQ(code.s_relptr, relocStart);
  EXPECT_EQ(code.s_nreloc, 2);
  EXPECT_EQ(idata.s_relptr, 0u);
  EXPECT_EQ(idata.s_nreloc, 0);
  EXPECT_EQ(code.s_lnnoptr, relocStart + 24);
  EXPECT_EQ(code.s_nlnno, 2);
  EXPECT_EQ(coff.cFileHdr.f_symptr, relocStart + 24 + 32);
  EXPECT_EQ(coff.cFileHdr.f_nsyms, coff.cSymbolTbl.size());
  EXPECT_EQ(coff.cFileHdr.f_nscns, 4);
}

TEST(CoffLayout, FunctionLinePointerTakesTheLastMatchingLine) {
  CoffBuilder b;
  b.section(".code", kScnTypeCode).words({0, 0});
  for (int i = 0; i < 5; ++i)
    b.symbolIn("s" + std::to_string(i), 0, ".code", kClassStatic);
  b.function("fn", 0, ".code").aux(aux_fcn{});
  ASSERT_EQ(b.symbolIndex("fn"), 5u);
  for (int p = 0; p < 9; ++p)
    b.line(static_cast<std::uint16_t>(p + 1), 0, 0, p == 2 || p == 7 ? 5 : 1,
           p == 2 || p == 7 ? kLineHasFcnNdx : 0);
  Coff coff = b.build();
  std::uint32_t lines = coff.cScnHdr.at(".code").s_lnnoptr;
  EXPECT_EQ(readAux<aux_fcn>(coff.cSymbolTbl[6]).x_lnnoptr, lines + 112);
}
