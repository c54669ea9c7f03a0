// Opening libraries and importing the members that the inputs need.
#include "Archive.h"
#include "CoffBuilder.h"
#include "LoadTestUtil.h"
#include "Messages.h"
#include "ProcessRunner.h"
#include "TempDir.h"
#include "Trace.h"
#include "linker/Linker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// An object that defines and references the given names.
CoffBuilder object(const std::vector<std::string> &defines,
                   const std::vector<std::string> &references = {}) {
  CoffBuilder builder;
  builder.processor(0x1001).section(".code", kScnTypeCode).words({0, 0});
  for (const std::string &name : references)
    builder.external(name);
  for (const std::string &name : defines)
    builder.global(name, 0, ".code");
  return builder;
}

std::unique_ptr<Coff> named(const std::string &name,
                            const CoffBuilder &builder) {
  auto coff = std::make_unique<Coff>(builder.build());
  coff->cFileName = name;
  return coff;
}

struct ImportFixture : ::testing::Test {
  void input(const std::string &name, const CoffBuilder &builder) {
    linker.cCoff.push_back(named(name, builder));
  }
  void library(const std::string &libName,
               std::vector<std::pair<std::string, CoffBuilder>> members) {
    auto archive = std::make_unique<Archive>();
    archive->cName = libName;
    for (auto &member : members)
      archive->cMembers.push_back(named(member.first, member.second));
    archive->makeSymbols();
    linker.cArchive.push_back(std::move(archive));
  }
  // The file names of the inputs after the object files given first.
  std::vector<std::string> importedAfter(std::size_t objectCount) const {
    std::vector<std::string> result;
    for (std::size_t i = objectCount; i < linker.cCoff.size(); ++i)
      result.push_back(linker.cCoff[i]->cFileName);
    return result;
  }
  int import() { return linker.importLibraryMembers(error); }

  Linker linker;
  std::string error;
};

using Names = std::vector<std::string>;

TEST_F(ImportFixture, ImportsNothingWhenNothingIsReferenced) {
  input("main.o", object({"main"}));
  library("lib", {{"a", object({"a"})}, {"main2", object({"main"})}});
  ASSERT_EQ(import(), 1);
  EXPECT_EQ(importedAfter(1), Names{});
}

TEST_F(ImportFixture, ImportsOnlyMembersThatResolveAReference) {
  input("main.o", object({"main"}, {"used", "main"}));
  library("lib", {{"unused", object({"unused"})},
                  {"used", object({"used"})},
                  {"alsoUnused", object({"other"}, {"missing"})}});
  ASSERT_EQ(import(), 1);
  EXPECT_EQ(importedAfter(1), Names{"used"});
}

TEST_F(ImportFixture, FollowsReferencesOfImportedMembersInLaterPasses) {
  input("main.o", object({"main"}, {"first"}));
  library("lib1", {{"m1", object({"first"}, {"second"})}});
  library("lib2", {{"m2", object({"second"}, {"third"})},
                   {"m3", object({"third"}, {"first"})}});
  ASSERT_EQ(import(), 1);
  EXPECT_EQ(importedAfter(1), (Names{"m1", "m2", "m3"}));
}

TEST_F(ImportFixture, ImportsForTheNameThatSortsFirst) {
  // References in reverse order; an unresolvable name sorts before both.
  input("main.o", object({}, {"zeta", "alpha", "Aardvark"}));
  library("lib", {{"z", object({"zeta"})}, {"a", object({"alpha"})}});
  ASSERT_EQ(import(), 1);
  EXPECT_EQ(importedAfter(1), (Names{"a", "z"}));
}

TEST_F(ImportFixture, TakesANameFromTheLibraryNamedFirst) {
  input("main.o", object({}, {"shared"}));
  library("first", {{"one", object({"shared"})}});
  library("second", {{"two", object({"shared"})}});
  ASSERT_EQ(import(), 1);
  EXPECT_EQ(importedAfter(1), Names{"one"});
}

TEST_F(ImportFixture, ImportsTheSecondDefinerWhenItIsNeededForAnotherName) {
  input("main.o", object({}, {"a", "b"}));
  library("first", {{"one", object({"a"})}});
  library("second", {{"two", object({"a", "b"})}});
  ASSERT_EQ(import(), 1);
  EXPECT_EQ(importedAfter(1), (Names{"one", "two"}));
}

TEST_F(ImportFixture, KeepsTwoMembersOfOneNameFromTwoLibraries) {
  input("main.o", object({}, {"fromFirst", "fromSecond"}));
  library("first", {{"util", object({"fromFirst"})}});
  library("second", {{"util", object({"fromSecond"})}});
  ASSERT_EQ(import(), 1);
  ASSERT_EQ(importedAfter(1), (Names{"util", "util"}));
  // Each input keeps its own symbols.
  EXPECT_EQ(Coff::getName(linker.cCoff[1]->cSymbolTbl.back(),
                          linker.cCoff[1]->cStringTbl),
            "fromFirst");
  EXPECT_EQ(Coff::getName(linker.cCoff[2]->cSymbolTbl.back(),
                          linker.cCoff[2]->cStringTbl),
            "fromSecond");
}

TEST_F(ImportFixture, ImportsAMemberOnceWhateverNamesAskForIt) {
  input("main.o", object({}, {"a", "b", "c"}));
  library("lib", {{"abc", object({"a", "b", "c"}, {"a"})}});
  ASSERT_EQ(import(), 1);
  EXPECT_EQ(importedAfter(1), Names{"abc"});
}

TEST_F(ImportFixture, RefusesAMemberThatFailsTheObjectCheck) {
  input("main.o", object({}, {"bad"}));
  CoffBuilder broken = object({"bad"});
  broken.relocIndex(0, 9999, 1);
  library("lib", {{"broken", broken}});
  EXPECT_EQ(import(), 0);
  EXPECT_EQ(error, "");
  EXPECT_EQ(importedAfter(1), Names{});
}

TEST_F(ImportFixture, ReportsOnlyTheBrokenMembersItImports) {
  // Enough members for their checks to be shared among threads: a broken
  // member that nothing needs says nothing, one that is needed is
  // reported once, in its turn.
  std::vector<std::pair<std::string, CoffBuilder>> members;
  for (int i = 0; i < 200; ++i) {
    CoffBuilder member = object({"s" + std::to_string(i)});
    if (i == 50 || i == 150)
      member.relocIndex(0, 9999, 1);
    members.emplace_back("m" + std::to_string(i), member);
  }
  library("lib", std::move(members));
  input("main.o", object({}, {"s10", "s150"}));
  const int errorsBefore = errorCount();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(import(), 0);
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(errorCount() - errorsBefore, 1);
  EXPECT_NE(printed.find("Coff file 'm150'"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("'m50'"), std::string::npos) << printed;
  EXPECT_EQ(importedAfter(1), Names{"m10"});
}

TEST_F(ImportFixture, StaysFastWithThousandsOfMembers) {
  // A chain: each member needs the next one, so every pass imports one.
  constexpr int kMembers = 3000;
  std::vector<std::pair<std::string, CoffBuilder>> members;
  for (int i = 0; i < kMembers; ++i) {
    const std::string next =
        i + 1 < kMembers ? "s" + std::to_string(i + 1) : "s0";
    members.emplace_back("m" + std::to_string(i),
                         object({"s" + std::to_string(i)}, {next}));
  }
  library("big", std::move(members));
  input("main.o", object({}, {"s0"}));
  ASSERT_EQ(import(), 1);
  EXPECT_EQ(linker.cCoff.size(), kMembers + 1u);
}

// The import rule spelled out on names: the candidates are the references
// defined by no input (nor chosen) but by some library; the first in
// std::string order is chosen, its first library's member joins unless it
// has joined already.
struct ModelObject {
  std::string file;
  std::vector<std::string> defines;
  std::vector<std::string> references;
};
using ModelLibrary = std::pair<std::string, std::vector<ModelObject>>;

std::vector<std::string> importsByRule(const std::vector<ModelObject> &inputs,
                                       const std::vector<ModelLibrary> &libs,
                                       std::string &trace) {
  std::map<std::string, const ModelObject *> definer;
  std::map<const ModelObject *, const std::string *> libraryOf;
  for (const ModelLibrary &lib : libs)
    for (const ModelObject &member : lib.second) {
      libraryOf[&member] = &lib.first;
      for (const std::string &name : member.defines)
        definer.emplace(name, &member);
    }
  std::set<std::string> settled;
  std::set<std::string> candidates;
  auto add = [&](const ModelObject &object) {
    for (const std::string &name : object.defines) {
      settled.insert(name);
      candidates.erase(name);
    }
    for (const std::string &name : object.references)
      if (settled.count(name) == 0 && definer.count(name) != 0)
        candidates.insert(name);
  };
  for (const ModelObject &input : inputs)
    add(input);
  std::set<const ModelObject *> imported;
  std::vector<std::string> files;
  while (!candidates.empty()) {
    const std::string name = *candidates.begin();
    candidates.erase(candidates.begin());
    settled.insert(name);
    const ModelObject *member = definer[name];
    if (!imported.insert(member).second)
      continue;
    files.push_back(member->file);
    trace += "Linker::importLibraryMembers() - imported library '" +
             *libraryOf[member] + "', member '" + member->file +
             "' for symbol '" + name + "'.\n";
    add(*member);
  }
  return files;
}

TEST_F(ImportFixture, ImportsInRuleOrderAcrossLibrariesAndLongChains) {
  // Enough libraries, members and inputs for every step to be shared among
  // threads; names short and long, defined by one library or several,
  // some by none.
  std::uint32_t seed = 12345;
  auto next = [&](std::uint32_t below) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % below;
  };
  const char *const prefixes[] = {"f", "Zed_", "long_name_", "_"};
  auto poolName = [&](std::uint32_t k) {
    return prefixes[k % 4] + std::to_string(k * 7919u % 100003u);
  };
  constexpr std::uint32_t kPool = 3300; // the last 200 defined nowhere
  const std::uint32_t firstDefined[] = {0, 1000, 1500};
  const std::uint32_t memberCount[] = {700, 600, 800};
  std::vector<ModelLibrary> libs;
  for (int lib = 0; lib < 3; ++lib) {
    libs.emplace_back("lib" + std::to_string(lib), std::vector<ModelObject>());
    std::uint32_t k = firstDefined[lib];
    for (std::uint32_t m = 0; m < memberCount[lib]; ++m) {
      ModelObject member;
      member.file = "l" + std::to_string(lib) + "m" + std::to_string(m);
      for (std::uint32_t n = next(3) + 1; n > 0 && k < kPool - 200; --n)
        member.defines.push_back(poolName(k++));
      for (std::uint32_t n = next(4); n > 0; --n)
        member.references.push_back(poolName(next(kPool)));
      libs.back().second.push_back(member);
    }
  }
  std::vector<ModelObject> inputs;
  for (int i = 0; i < 120; ++i)
    inputs.push_back({"in" + std::to_string(i),
                      {poolName(next(kPool)), poolName(next(kPool))},
                      {poolName(next(kPool)), poolName(next(kPool)),
                       poolName(next(kPool))}});
  std::string expectedTrace;
  const std::vector<std::string> expected =
      importsByRule(inputs, libs, expectedTrace);
  ASSERT_GT(expected.size(), 300u);

  for (const ModelObject &in : inputs)
    input(in.file, object(in.defines, in.references));
  for (const ModelLibrary &lib : libs) {
    std::vector<std::pair<std::string, CoffBuilder>> members;
    for (const ModelObject &member : lib.second)
      members.emplace_back(member.file,
                           object(member.defines, member.references));
    library(lib.first, std::move(members));
  }
  traceSet("Linker::importLibraryMembers", 1);
  ::testing::internal::CaptureStdout();
  const int imported = import();
  const std::string trace = ::testing::internal::GetCapturedStdout();
  traceSet("Linker::importLibraryMembers", 0);
  ASSERT_EQ(imported, 1);
  EXPECT_EQ(importedAfter(inputs.size()), expected);
  EXPECT_EQ(trace, expectedTrace);
}

// ---- Finding and opening libraries ----

std::string libraryBytes(const std::string &member, const std::string &name) {
  return CoffBuilder::libraryBytes({{member, object({name}).fileBytes()}});
}

TEST(LoadLibraryFiles, SearchesOnlyTheLibraryPath) {
  TempDir dir;
  dir.write("here.lib", libraryBytes("h", "h"));
  dir.write("libs/there.lib", libraryBytes("t", "t"));
  InDirectory here(dir.path());
  struct SearchCase {
    std::vector<std::string> libPath;
    std::string name;
    std::string found; // "" when not found
  };
  const SearchCase cases[] = {
      {{}, "here.lib", ""},
      {{"."}, "here.lib", "./here.lib"},
      {{"libs"}, "here.lib", ""},
      {{"libs"}, "there.lib", "libs/there.lib"},
      {{"none", "libs/"}, "there.lib", "libs/there.lib"},
      {{}, "libs/there.lib", "libs/there.lib"},
      {{"libs"}, "libs/gone.lib", ""},
  };
  for (const SearchCase &c : cases) {
    SCOPED_TRACE(c.name);
    Linker linker;
    linker.cLibPath.assign(c.libPath.begin(), c.libPath.end());
    linker.cLibraryFile = {c.name};
    std::string error;
    const int result = linker.loadLibraryFiles(error);
    if (c.found.empty()) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(error, "could not find file '" + c.name + "'.");
      EXPECT_TRUE(linker.cArchive.empty());
    } else {
      ASSERT_EQ(result, 1) << error;
      EXPECT_EQ(linker.cLibraryFile.front(), c.found);
      ASSERT_EQ(linker.cArchive.size(), 1u);
      EXPECT_EQ(linker.cArchive[0]->cName, c.found);
    }
  }
}

TEST(LoadLibraryFiles, AcceptsNoLibraries) {
  Linker linker;
  std::string error;
  EXPECT_EQ(linker.loadLibraryFiles(error), 1);
  EXPECT_TRUE(linker.cArchive.empty());
}

// ---- Through the linker program ----

TEST(LinkerLibraries, ReportsLibraryFailuresWithExitCodeOne) {
  TempDir dir;
  dir.write("link.lkr", "CODEPAGE NAME=page START=0x0 END=0x1FF\n"
                        "LIBPATH .\n");
  dir.write("main.o", object({"main"}, {"bad"}).fileBytes());
  dir.write("notalib.lib", "this is no library");
  CoffBuilder broken = object({"bad"});
  broken.relocIndex(0, 9999, 1);
  dir.write("broken.lib",
            CoffBuilder::libraryBytes({{"broken", broken.fileBytes()}}));
  struct FailureCase {
    std::vector<std::string> args;
    std::string text;
  };
  const FailureCase cases[] = {
      {{"main.o", "gone.lib"}, "Error - could not find file 'gone.lib'."},
      {{"main.o", "notalib.lib"},
       "Error - File './notalib.lib' is not a valid library file."},
      {{"main.o", "broken.lib"},
       "Error - Coff file 'broken', section '.code' reloc[0] has an invalid "
       "r_symndx."},
  };
  for (const FailureCase &c : cases) {
    SCOPED_TRACE(c.args[1]);
    const ProcessResult result = runLinker(dir, c.args);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find(c.text), std::string::npos) << result.out;
  }
}

TEST(LinkerLibraries, AMemberWithAnUnnamedReferenceFailsOnlyWhenTaken) {
  TempDir dir;
  dir.write("link.lkr", "CODEPAGE NAME=page START=0x0 END=0x1FF\n"
                        "LIBPATH .\n");
  // The reference's long name is the string table's last: its first byte
  // made NUL, the name is gone and the member still reads.
  auto unnamed = [](const std::string &defined) {
    std::string bytes =
        object({defined}, {"a_long_missing_reference"}).fileBytes();
    bytes[bytes.rfind("a_long_missing_reference")] = '\0';
    return bytes;
  };
  dir.write("x.lib",
            CoffBuilder::libraryBytes({{"spare", unnamed("spare")},
                                       {"good", object({"good"}).fileBytes()},
                                       {"taken", unnamed("taken")}}));
  dir.write("good.o", object({"main"}, {"good"}).fileBytes());
  dir.write("taking.o", object({"main"}, {"good", "taken"}).fileBytes());
  const ProcessResult good = runLinker(dir, {"good.o", "x.lib"});
  EXPECT_EQ(good.exitCode, 0) << good.out;
  const ProcessResult taking = runLinker(dir, {"taking.o", "x.lib"});
  EXPECT_EQ(taking.exitCode, 1) << taking.out;
  EXPECT_NE(
      taking.out.find("Error - Coff file 'taken' symbol[0] has an invalid "
                      "n_offset.\nErrors    : 1"),
      std::string::npos)
      << taking.out;
}

CoffBuilder codeObject(const std::string &section,
                       const std::vector<std::string> &defines,
                       const std::vector<std::string> &references = {}) {
  CoffBuilder builder;
  builder.processor(0x1001).section(section, kScnTypeCode).words({0, 0});
  for (const std::string &name : references)
    builder.external(name);
  for (const std::string &name : defines)
    builder.global(name, 0, section);
  return builder;
}

TEST(LinkerLibraries, LinksOnlyTheMembersThatResolveSomething) {
  TempDir dir;
  dir.write("link.lkr", "CODEPAGE NAME=page START=0x0 END=0x1FF\n"
                        "LIBPATH libs\n");
  dir.write("main.o",
            codeObject(".main", {"main"}, {"fromA", "fromB"}).fileBytes());
  // Two libraries with a member "util" each, and a member nobody needs.
  dir.write("libs/a.lib",
            CoffBuilder::libraryBytes(
                {{"util", codeObject(".utilA", {"fromA"}).fileBytes()},
                 {"spare", codeObject(".spare", {"spare"}).fileBytes()}}));
  dir.write("libs/b.lib",
            CoffBuilder::libraryBytes(
                {{"util", codeObject(".utilB", {"fromB"}).fileBytes()}}));
  const ProcessResult result =
      runLinker(dir, {"main.o", "a.lib", "b.lib", "/o", "out.cof"});
  ASSERT_EQ(result.exitCode, 0) << result.out;
  std::unique_ptr<Coff> out = Coff::make(dir.file("out.cof"));
  ASSERT_TRUE(out);
  EXPECT_TRUE(hasSymbol(*out, "fromA"));
  EXPECT_TRUE(hasSymbol(*out, "fromB"));
  EXPECT_FALSE(hasSymbol(*out, "spare"));
  EXPECT_EQ(out->cScnHdr.count(".utilA"), 1u);
  EXPECT_EQ(out->cScnHdr.count(".utilB"), 1u);
  EXPECT_EQ(out->cScnHdr.count(".spare"), 0u);
}

TEST(LinkerSections, PlacesOddSizedCodePiecesWithoutOverlap) {
  TempDir dir;
  dir.write("link.lkr", "CODEPAGE NAME=page START=0x0 END=0x1FF\n");
  CoffBuilder first;
  first.processor(0x1001).section(".code", kScnTypeCode).bytes({1, 2, 3});
  CoffBuilder second;
  second.processor(0x1001).section(".code", kScnTypeCode).bytes({4, 5, 6});
  dir.write("a.o", first.fileBytes());
  dir.write("b.o", second.fileBytes());
  const ProcessResult result = runLinker(dir, {"a.o", "b.o"});
  ASSERT_EQ(result.exitCode, 0) << result.out;
  std::unique_ptr<Coff> out = Coff::make(dir.file("a.out"));
  ASSERT_TRUE(out);
  ASSERT_EQ(out->cScnHdr.count(".code"), 1u);
  const scnhdr &code = out->cScnHdr[".code"];
  EXPECT_EQ(code.s_size, 8u);
  // The second piece starts on the location after the first one's last.
  const Data &bytes = out->cRawData[".code"];
  ASSERT_GE(bytes.size(), 7u);
  EXPECT_EQ(bytes.bytes()[4], 4);
  EXPECT_EQ(bytes.bytes()[6], 6);
  // Nothing else is placed on the four locations of ".code".
  for (const auto &section : out->cScnHdr) {
    if (section.first == ".code" || section.second.s_size == 0)
      continue;
    SCOPED_TRACE(section.first);
    const bool before =
        section.second.s_paddr + section.second.s_size / 2 <= code.s_paddr;
    const bool after = section.second.s_paddr >= code.s_paddr + 4;
    EXPECT_TRUE(before || after);
  }
}

} // namespace
