// The driver with the real programs, found through PATH in the build's
// program directory.
#include "CoffBuilder.h"
#include "ProcessRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool isBuilt(const std::string &program) {
  return access(programPath(program).c_str(), X_OK) == 0;
}

ProcessResult runDriver(const TempDir &dir,
                        const std::vector<std::string> &args) {
  std::vector<std::string> envArgs{"PATH=" + programPath("") + ":/usr/bin:/bin",
                                   programPath("orvane")};
  envArgs.insert(envArgs.end(), args.begin(), args.end());
  ProcessOptions options;
  options.workDir = dir.path();
  return runProcess("/usr/bin/env", envArgs, options);
}

TEST(DriverChain, LinkerFailureStopsTheChain) {
  if (!isBuilt("_orvane"))
    GTEST_SKIP() << "the linker is not built yet";
  TempDir dir;
  ProcessResult result = runDriver(dir, {"/o", "prog.cof", "prog.o"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "Error - linker command file required.\n");
  EXPECT_FALSE(dir.exists("prog.cod"));
  EXPECT_FALSE(dir.exists("prog.hex"));

  result = runDriver(dir, {});
  EXPECT_EQ(result.exitCode, 255);
  EXPECT_NE(result.err.find("Syntax:   orvane"), std::string::npos);
}

TEST(DriverChain, OneCommandGoesFromObjectToHexCodAndListing) {
  for (const char *program : {"_orvane", "cirrow", "pelmat"})
    if (!isBuilt(program))
      GTEST_SKIP() << program << " is not built yet";
  TempDir dir;
  CoffBuilder()
      .processor(0x1001, 14, 8)
      .section(".code", kScnTypeCode)
      .words({0x2805, 0x3400})
      .fileSymbol("prog.asm")
      .global("main", 0, ".code")
      .writeTo(dir.file("prog.o"));
  dir.write("prog.asm", "main  goto 5\n      retlw 0\n");
  dir.write("prog.lkr", "CODEPAGE NAME=page START=0x0 END=0x1FF\n"
                        "DATABANK NAME=gpr0 START=0x20 END=0x6F\n");

  ProcessResult result = runDriver(
      dir, {"prog.o", "prog.lkr", "/o", "prog.cof", "/m", "prog.map"});
  if (result.err.find(" is not implemented.") != std::string::npos)
    GTEST_SKIP() << "the linker is not complete yet";
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(result.err, "");
  for (const char *file :
       {"prog.cof", "prog.map", "prog.cod", "prog.lst", "prog.hex"})
    EXPECT_NE(dir.read(file), "") << file;
  EXPECT_NE(dir.read("prog.hex").find("05280034"), std::string::npos)
      << dir.read("prog.hex");
}

TEST(DriverChain, BundledExampleRunsThroughTheWholeChain) {
  for (const char *program : {"orvane", "_orvane", "cirrow", "pelmat"})
    if (!isBuilt(program))
      GTEST_SKIP() << program << " is not built yet";
  const std::string generator =
      std::string(ORVANE_TEST_BIN_DIR) + "/../examples/make_example";
  if (access(generator.c_str(), X_OK) != 0)
    GTEST_SKIP() << "the example generator is not built";
  TempDir dir;
  ProcessResult result = runProcess(
      "/usr/bin/env", {"PATH=" + programPath("") + ":/usr/bin:/bin",
                       "MAKE_EXAMPLE=" + generator, "EXAMPLE_OUT=" + dir.path(),
                       std::string(ORVANE_SOURCE_DIR) + "/examples/run.sh"});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("+ orvane "), std::string::npos) << result.out;
  EXPECT_EQ(result.err.find("Error - "), std::string::npos) << result.err;
  for (const char *file : {"example.cof", "example.map", "example.cod",
                           "example.lst", "example.hex"})
    EXPECT_NE(dir.read(file), "") << file;
}

} // namespace
