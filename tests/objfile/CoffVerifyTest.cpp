#include "CoffBuilder.h"
#include "CoffTestUtil.h"

#include <gtest/gtest.h>

namespace {

// Two sections, a file symbol, a function with its aux entry, a tag with
// its aux entry and a relocation: everything verify looks at.
CoffBuilder validObject() {
  CoffBuilder b;
  b.section(".code", kScnTypeCode)
      .words({1, 2})
      .reloc(0, "fn", 2)
      .line(3, 0, 0, 2, kLineHasFcnNdx)
      .section(".data", kScnTypeUdata)
      .zeros(2)
      .fileSymbol("x.asm")
      .function("fn", 0, ".code")
      .aux(aux_fcn{0, 2, 0, 0})
      .symbolIn("tag", 0, ".code", kClassStructTag)
      .aux(aux_tag{2, 0});
  return b;
}

std::string verifyErrors(const Coff &coff, int expectedResult) {
  std::string errors;
  errors = capturedErrors([&] { EXPECT_EQ(coff.verify(), expectedResult); });
  return errors;
}

} // namespace

TEST(CoffVerify, AcceptsAConsistentObject) {
  Coff coff = validObject().build();
  EXPECT_EQ(verifyErrors(coff, 1), "");
}

TEST(CoffVerify, ReportsEachBrokenIndexWithItsText) {
  struct Case {
    const char *what;
    void (*breakIt)(Coff &);
    const char *error;
  } cases[] = {
      {"section number", [](Coff &c) { c.cSymbolTbl[2].n_scnum = 3; },
       "Coff file 'v.o' symbol[2] has an invalid n_scnum."},
      {"symbol long name", [](Coff &c) { c.cSymbolTbl[2].setNameOffset(1000); },
       "Coff file 'v.o' symbol[2] has an invalid n_offset."},
      {"section long name",
       [](Coff &c) { c.cScnHdr.at(".data").setNameOffset(1000); },
       "Coff file 'v.o' section[1] has an invalid s_offset."},
      {"relocation symbol",
       [](Coff &c) { c.cReloc.at(".code")[0].r_symndx = 6; },
       "Coff file 'v.o', section '.code' reloc[0] has an invalid r_symndx."},
      {"function aux end index, under the aux entry's own index",
       [](Coff &c) {
         writeAux(c.cSymbolTbl[3], aux_fcn{0, 2, 0, 6});
       },
       "Coff file 'v.o' symbol[3] has an invalid x_tagndx or x_endndx."},
      {"tag aux end index",
       [](Coff &c) {
         writeAux(c.cSymbolTbl[5], aux_tag{2, 99});
       },
       "Coff file 'v.o' symbol[5] has an invalid x_tagndx or x_endndx."},
      {"line source index",
       [](Coff &c) { c.cLineNum.at(".code")[0].l_srcndx = 6; },
       "Coff file 'v.o', section '.code' line[0] has an invalid l_srcndx."},
      {"line function index",
       [](Coff &c) { c.cLineNum.at(".code")[0].l_fcnndx = 0xFFFFFFFFu; },
       "Coff file 'v.o', section '.code' line[0] has an invalid l_fcnndx."},
      {"header and number maps disagree",
       [](Coff &c) { c.cScnNum[3] = ".code"; },
       "Coff file 'v.o', cScnHdr.size() != cScnNum.size() . "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Coff coff = validObject().build();
    coff.cFileName = "v.o";
    c.breakIt(coff);
    EXPECT_EQ(verifyErrors(coff, 0), std::string("Error - ") + c.error + "\n");
  }
}

TEST(CoffVerify, EmptySymbolTableIsReportedOncePerSectionAndNoIndexIsInvalid) {
  CoffBuilder b;
  b.section(".a", kScnTypeCode)
      .words({0})
      .relocIndex(0, 5, 1)
      .relocIndex(0, 9, 1)
      .line(1, 0, 77, 77)
      .section(".b", kScnTypeCode)
      .words({0})
      .relocIndex(0, 1, 1);
  Coff coff = b.build();
  coff.cFileName = "e.o";
  std::string once = "Error - Coff file 'e.o' has relocation entries but an "
                     "empty symbol table.\n";
  EXPECT_EQ(verifyErrors(coff, 0), once + once);
  coff.cReloc.clear();
  EXPECT_EQ(verifyErrors(coff, 1), "");
}

TEST(CoffVerify, ReportsEveryFailureAndTheSizeMismatchLast) {
  std::string bytes = CoffBuilder()
                          .section(".same", kScnTypeCode)
                          .words({1})
                          .section(".same2", kScnTypeCode)
                          .words({2})
                          .symbol("s", 0, 7, kClassStatic)
                          .fileBytes();
  patch16(bytes, 36 + 40 + 5, 0); // ".same2" becomes ".same"
  std::unique_ptr<Coff> coff = makeFromBytes(bytes, "d.o");
  ASSERT_NE(coff, nullptr);
  EXPECT_EQ(verifyErrors(*coff, 0),
            "Error - Coff file 'd.o' symbol[0] has an invalid n_scnum.\n"
            "Error - Coff file 'd.o', cScnHdr.size() != cScnNum.size() . \n");
}

// A table this large is checked on several threads before any report; the
// reports must still come in the order of the checks and of the entries.
TEST(CoffVerify, LargeTableReportsEveryFailureInOrder) {
  Coff coff = validObject().build();
  coff.cFileName = "big.o";
  const std::size_t first = coff.cSymbolTbl.size();
  for (std::size_t i = 0; i < 40000; ++i) {
    syment sym;
    coff.cStringTbl[static_cast<int>(1000 + 16 * i)] = "long_symbol_name";
    sym.setNameOffset(static_cast<std::uint32_t>(1000 + 16 * i));
    sym.n_scnum = 1;
    sym.n_sclass = kClassStatic;
    coff.cSymbolTbl.push_back(sym);
    coff.cAuxType.push_back(kAuxNone);
  }
  EXPECT_EQ(verifyErrors(coff, 1), "");

  coff.cSymbolTbl[first + 39000].n_scnum = 9;
  coff.cSymbolTbl[first + 7].n_scnum = 9;
  coff.cSymbolTbl[first + 5].setNameOffset(1001);
  coff.cLineNum.at(".code")[0].l_srcndx = 50000;
  const std::string at = "Error - Coff file 'big.o' ";
  EXPECT_EQ(verifyErrors(coff, 0),
            at + "symbol[" + std::to_string(first + 7) +
                "] has an invalid n_scnum.\n" + at + "symbol[" +
                std::to_string(first + 39000) + "] has an invalid n_scnum.\n" +
                at + "symbol[" + std::to_string(first + 5) +
                "] has an invalid n_offset.\n" +
                "Error - Coff file 'big.o', section '.code' line[0] has an "
                "invalid l_srcndx.\n");
}
