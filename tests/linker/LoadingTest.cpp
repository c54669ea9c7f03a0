// Finding and reading object files: the search order, missing and
// repeated files, and objects that fail to read or check.
#include "CoffBuilder.h"
#include "LoadTestUtil.h"
#include "ProcessRunner.h"
#include "TempDir.h"
#include "linker/Linker.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string objectDefining(const std::string &symbol) {
  return CoffBuilder()
      .processor(0x1001)
      .section(".code", kScnTypeCode)
      .words({0x3400})
      .global(symbol, 0, ".code")
      .fileBytes();
}

std::vector<std::string> names(const std::list<std::string> &list) {
  return std::vector<std::string>(list.begin(), list.end());
}

TEST(LoadObjectFiles, SearchesTheCurrentDirectoryThenTheLibraryPath) {
  TempDir dir;
  dir.write("both.o", objectDefining("inCurrent"));
  dir.write("lib/both.o", objectDefining("inLibPath"));
  dir.write("lib/only.o", objectDefining("onlyInLibPath"));
  dir.write("lib2/second.o", objectDefining("second"));
  dir.write("sub/given.o", objectDefining("given"));
  InDirectory here(dir.path());

  Linker linker;
  linker.cObjectFile = {"both.o", "only.o", "second.o", "sub/given.o"};
  // With and without the trailing separator, the candidate is the same.
  linker.cLibPath = {"lib/", "lib2"};
  std::string error;
  ASSERT_EQ(linker.loadObjectFiles(error), 1) << error;
  EXPECT_EQ(names(linker.cObjectFile),
            (std::vector<std::string>{"./both.o", "lib/only.o", "lib2/second.o",
                                      "sub/given.o"}));
  ASSERT_EQ(linker.cCoff.size(), 4u);
  EXPECT_EQ(linker.cCoff[0]->cFileName, "./both.o");
  EXPECT_EQ(Coff::getName(linker.cCoff[0]->cSymbolTbl[0],
                          linker.cCoff[0]->cStringTbl),
            "inCurrent");
}

TEST(LoadObjectFiles, ReportsTheFirstNameThatCannotBeFound) {
  TempDir dir;
  dir.write("a.o", objectDefining("a"));
  dir.write("lib/c.o", objectDefining("c"));
  InDirectory here(dir.path());
  const struct {
    const char *missing;
  } cases[] = {{"missing.o"}, {"lib/missing.o"}, {"c.o"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.missing);
    Linker linker;
    // "c.o" has no directory part and "lib" is not on the library path.
    linker.cObjectFile = {"a.o", c.missing, "other.o"};
    std::string error;
    EXPECT_EQ(linker.loadObjectFiles(error), 0);
    EXPECT_EQ(error, std::string("could not find file '") + c.missing + "'.");
    EXPECT_TRUE(linker.cCoff.empty());
    EXPECT_EQ(linker.cObjectFile.front(), "./a.o");
  }
}

TEST(LoadObjectFiles, RefusesAnEmptyList) {
  Linker linker;
  std::string error;
  EXPECT_EQ(linker.loadObjectFiles(error), 0);
  EXPECT_EQ(error, "no input object files specified.");
}

TEST(LoadObjectFiles, RefusesOneFileNamedTwiceInAnySpelling) {
  TempDir dir;
  dir.write("x.o", objectDefining("x"));
  dir.write("lib/y.o", objectDefining("y"));
  InDirectory here(dir.path());
  const std::vector<std::vector<std::string>> cases = {
      {"x.o", "./x.o"},
      {"./x.o", "x.o"},
      {"y.o", "lib/y.o"},
      {"x.o", dir.file("x.o")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c[0] + " " + c[1]);
    Linker linker;
    linker.cObjectFile = {c[0], c[1]};
    linker.cLibPath = {"lib"};
    std::string error;
    EXPECT_EQ(linker.loadObjectFiles(error), 0);
    EXPECT_EQ(error, "mutliple inclusion of object file '" + c[1] + "' ");
    EXPECT_TRUE(linker.cCoff.empty());
  }
}

// ---- Through the linker program ----

const char *const kCommandFile = "CODEPAGE NAME=page START=0x0 END=0x1FF\n"
                                 "DATABANK NAME=bank START=0x20 END=0x7F\n";

TEST(LinkerLoading, FindsObjectsInTheCurrentDirectoryFirstThenTheLibraryPath) {
  TempDir dir;
  dir.write("link.lkr", kCommandFile);
  dir.write("objs/main.o", objectDefining("fromLibPath"));
  dir.write("objs/other.o", objectDefining("other"));
  const ProcessResult found =
      runLinker(dir, {"/l", "objs", "main.o", "other.o"});
  ASSERT_EQ(found.exitCode, 0) << found.out;
  std::unique_ptr<Coff> out = Coff::make(dir.file("a.out"));
  ASSERT_TRUE(out);
  EXPECT_TRUE(hasSymbol(*out, "fromLibPath"));

  dir.write("main.o", objectDefining("fromCurrent"));
  const ProcessResult current =
      runLinker(dir, {"/l", "objs", "main.o", "other.o"});
  ASSERT_EQ(current.exitCode, 0) << current.out;
  out = Coff::make(dir.file("a.out"));
  ASSERT_TRUE(out);
  EXPECT_TRUE(hasSymbol(*out, "fromCurrent"));
  EXPECT_FALSE(hasSymbol(*out, "fromLibPath"));

  const ProcessResult missing = runLinker(dir, {"other.o"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.out.find("Error - could not find file 'other.o'."),
            std::string::npos)
      << missing.out;
}

TEST(LinkerLoading, ReportsLoadingFailuresWithExitCodeOne) {
  struct FailureCase {
    const char *label;
    std::vector<std::string> args;
    const char *text;
  };
  TempDir dir;
  dir.write("link.lkr", kCommandFile);
  dir.write("a.o", objectDefining("a"));
  dir.write("trellb.o", CoffBuilder()
                            .processor(0x1002)
                            .section(".other", kScnTypeCode)
                            .words({0})
                            .fileBytes());
  dir.write("unknown.o", CoffBuilder().processor(0x0BAD).fileBytes());
  dir.write("broken.o", "not an object");
  const FailureCase cases[] = {
      {"missing", {"gone.o"}, "Error - could not find file 'gone.o'."},
      {"twice",
       {"a.o", "./a.o"},
       "Error - mutliple inclusion of object file './a.o' "},
      {"processors",
       {"a.o", "trellb.o"},
       "Error - processor types do not agree across all input files."},
      {"unknown device",
       {"a.o", "unknown.o"},
       "Error - Unsupported processor type in file './unknown.o'"},
      {"unreadable", {"broken.o"}, "Error - Coff file './broken.o'"},
  };
  for (const FailureCase &c : cases) {
    SCOPED_TRACE(c.label);
    const ProcessResult result = runLinker(dir, c.args);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find(c.text), std::string::npos) << result.out;
    EXPECT_FALSE(dir.exists("a.out"));
  }
}

TEST(LinkerLoading, OpensNoInputAfterTheFirstThatFails) {
  TempDir dir;
  dir.write("link.lkr", kCommandFile);
  dir.write("bad.o", objectDefining("a").substr(0, 10));
  // Opening a pipe with no writer blocks: only a read ahead would open it.
  ASSERT_EQ(mkfifo(dir.file("pipe.o").c_str(), 0644), 0);
  ProcessOptions options;
  options.workDir = dir.path();
  options.timeoutSeconds = 20;
  const ProcessResult result = runProcess(
      programPath("_orvane"), {"bad.o", "pipe.o", "link.lkr"}, options);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "Error - Coff file './bad.o' could not read file "
                        "header.\n");
}

TEST(LinkerLoading, LinksAFamilyGenericInputForTheOtherInputsProcessor) {
  TempDir dir;
  dir.write("link.lkr", kCommandFile);
  dir.write("generic.o", CoffBuilder()
                             .processor(0x1002)
                             .fileFlags(kFileFamilyGeneric)
                             .section(".lib", kScnTypeCode)
                             .words({0})
                             .fileBytes());
  dir.write("a.o", objectDefining("a"));
  const ProcessResult result = runLinker(dir, {"generic.o", "a.o"});
  ASSERT_EQ(result.exitCode, 0) << result.out;
  std::unique_ptr<Coff> out = Coff::make(dir.file("a.out"));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->cOptHdr.proc_type, 0x1001u);
}

TEST(LinkerLoading, ReportsSectionDisagreementsWithTheirTexts) {
  TempDir dir;
  dir.write("link.lkr",
            std::string(kCommandFile) + "SECTION NAME=.code RAM=bank\n");
  dir.write("a.o", objectDefining("a"));
  dir.write("b.o", CoffBuilder()
                       .processor(0x1001)
                       .section(".code", kScnTypeCode, kScnShared)
                       .words({0})
                       .fileBytes());
  dir.write("cinit.o", CoffBuilder()
                           .processor(0x1001)
                           .section(".cinit", kScnTypeRomdata)
                           .words({0})
                           .fileBytes());
  const ProcessResult shared = runLinker(dir, {"a.o", "b.o"});
  EXPECT_EQ(shared.exitCode, 1);
  EXPECT_NE(shared.out.find("Error - section share types for '.code' do not "
                            "match across input files."),
            std::string::npos)
      << shared.out;
  const ProcessResult memory = runLinker(dir, {"a.o"});
  EXPECT_EQ(memory.exitCode, 1);
  EXPECT_NE(memory.out.find("Error - section '.code' contains code and can "
                            "not have a 'RAM' memory attribute specified in "
                            "the linker command file."),
            std::string::npos)
      << memory.out;
  const ProcessResult reserved = runLinker(dir, {"cinit.o"});
  EXPECT_EQ(reserved.exitCode, 1);
  EXPECT_NE(reserved.out.find("Error - Section '.cinit' in './cinit.o' has a "
                              "name reserved for the linker."),
            std::string::npos)
      << reserved.out;
}

} // namespace

TEST(LoadObjectFiles, ManyObjectsReportOnlyTheFirstThatFailsToRead) {
  TempDir dir;
  std::vector<std::string> given;
  for (int i = 0; i < 60; ++i) {
    const std::string name = "o" + std::to_string(i) + ".o";
    dir.write(name, objectDefining("s" + std::to_string(i)));
    given.push_back(name);
  }
  dir.write("o20.o", "not an object");
  dir.write("o40.o", "not one either");
  InDirectory here(dir.path());
  Linker linker;
  linker.cObjectFile.assign(given.begin(), given.end());
  std::string error;
  testing::internal::CaptureStderr();
  EXPECT_EQ(linker.loadObjectFiles(error), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error - Coff file './o20.o' could not read file header.\n");
  // Every object before it was kept, in the order given.
  ASSERT_EQ(linker.cCoff.size(), 20u);
  EXPECT_EQ(linker.cCoff[19]->cFileName, "./o19.o");
}
