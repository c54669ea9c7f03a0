// Runs _orvane in a fresh directory, the way the black-box tests need it.
#pragma once

#include "ProcessRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class LinkerRun : public ::testing::Test {
protected:
  ProcessResult link(const std::vector<std::string> &args) {
    ProcessOptions options;
    options.workDir = cDir.path();
    return runProcess(programPath("_orvane"), args, options);
  }

  // The lines of a refused command line: one error, the summary, exit 1.
  void expectRefused(const std::vector<std::string> &args,
                     const std::string &message) {
    const ProcessResult result = link(args);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Error - " + message + "\n");
    EXPECT_EQ(result.out, kBanner + "Errors    : 1\n\n");
  }

  const std::string kBanner = "ORVANE 2.40.00, Linker\n"
                              "Copyright (c) 2026 The Orvane Toolchain "
                              "Authors\n";
  TempDir cDir;
};
