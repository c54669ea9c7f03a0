// Inputs the fuzz targets found faults with, kept under fuzz_inputs/<target>/
// and run the way the target ran them: each must end with an exit code (an
// "Error - " line when it is not 0), never with a signal or a sanitizer
// report. fuzz_inputs/fixed/ holds the fixed files the targets use.
#include "CoffBuilder.h"
#include "ProcessRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kInputs =
    std::string(ORVANE_SOURCE_DIR) + "/tests/hardening/fuzz_inputs";

struct TargetRun {
  const char *target;    // the directory of its kept inputs
  std::string program;   // what runs them
  std::string inputName; // the name each input is copied to
  std::vector<std::string> args;
};

const std::vector<TargetRun> &targetRuns() {
  static const std::vector<TargetRun> runs = {
      {"coff_reader",
       "_orvane",
       "in.o",
       {"fixed.lkr", "in.o", "/o", "out.cof"}},
      {"library_reader", "tessil", "in.lib", {"/t", "in.lib"}},
      {"linker_command_file",
       "_orvane",
       "in.lkr",
       {"in.lkr", "code.o", "/o", "out.cof", "/m", "out.map"}},
      {"linker_object",
       "_orvane",
       "in.o",
       {"fixed.lkr", "in.o", "/o", "out.cof", "/m", "out.map"}},
      {"linker_library",
       "_orvane",
       "in.lib",
       {"fixed.lkr", "main.o", "in.lib", "/o", "out.cof", "/m", "out.map"}},
      {"hex_converter", "pelmat", "in.cof", {"in.cof"}},
      {"cod_converter", "cirrow", "in.cof", {"in.cof"}},
      {"librarian_list", "tessil", "in.lib", {"/t", "in.lib"}},
      {"librarian_extract", "tessil", "in.lib", {"/x", "in.lib"}},
  };
  return runs;
}

std::set<std::string> filesIn(const std::string &path) {
  std::set<std::string> names;
  if (DIR *dir = opendir(path.c_str())) {
    while (const dirent *entry = readdir(dir))
      if (entry->d_name[0] != '.')
        names.insert(entry->d_name);
    closedir(dir);
  }
  return names;
}

TEST(FuzzRegressionTest, KeptInputsEndWithAnErrorNotACrash) {
  int count = 0;
  for (const TargetRun &run : targetRuns()) {
    const std::string dirPath = kInputs + "/" + run.target;
    for (const std::string &name : filesIn(dirPath)) {
      SCOPED_TRACE(std::string(run.target) + "/" + name);
      ++count;
      TempDir dir;
      for (const std::string &fixed : filesIn(kInputs + "/fixed"))
        dir.write(fixed, readFile(kInputs + "/fixed/" + fixed));
      dir.write(run.inputName, readFile(dirPath + "/" + name));
      ProcessOptions options;
      options.workDir = dir.path();
      options.mergeStreams = true;
      const ProcessResult result =
          runProcess(programPath(run.program), run.args, options);
      EXPECT_EQ(result.signal, 0) << result.out;
      EXPECT_NE(result.exitCode, -1);
      if (result.exitCode != 0) {
        EXPECT_NE(result.out.find("Error - "), std::string::npos) << result.out;
      }
      EXPECT_EQ(result.out.find("Sanitizer"), std::string::npos) << result.out;
      EXPECT_EQ(result.out.find("runtime error"), std::string::npos)
          << result.out;
    }
  }
  EXPECT_GT(count, 0);
}

// The linker merges and places sections by name; one without a name once
// stopped it in its memory model.
TEST(FuzzRegressionTest, CheckerRejectsANamelessSection) {
  Coff coff = CoffBuilder()
                  .processor(0x1055)
                  .section("", kScnTypeCode)
                  .words({0x2800})
                  .build();
  testing::internal::CaptureStderr();
  EXPECT_EQ(coff.verify(), 0);
  EXPECT_NE(
      testing::internal::GetCapturedStderr().find("section[0] has no name."),
      std::string::npos);
}

} // namespace
