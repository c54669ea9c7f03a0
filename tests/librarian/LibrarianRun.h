// Runs tessil in a fresh directory (the current directory of the run) with
// TZ=UTC, on objects built with the test object builder.
#pragma once

#include "CoffBuilder.h"
#include "ProcessRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class LibrarianRun : public ::testing::Test {
protected:
  // TZ is set through env so that it replaces any TZ of the caller.
  ProcessResult run(const std::vector<std::string> &args,
                    const std::string &shellPrefix = "") {
    ProcessOptions options;
    options.workDir = cDir.path();
    std::vector<std::string> words{"TZ=UTC"};
    if (!shellPrefix.empty()) {
      // A shell sets limits first, then becomes tessil.
      words.insert(words.end(),
                   {"/bin/sh", "-c", shellPrefix + "; exec \"$0\" \"$@\""});
    }
    words.push_back(programPath("tessil"));
    words.insert(words.end(), args.begin(), args.end());
    return runProcess("/usr/bin/env", words, options);
  }

  // An object defining the given external symbols in its code section.
  static std::string object(const std::vector<std::string> &symbols,
                            std::uint32_t stamp = 0x60000000,
                            std::uint16_t firstWord = 1) {
    CoffBuilder b;
    b.processor(0x2550)
        .timeStamp(stamp)
        .section(".code", kScnTypeCode)
        .words({firstWord, 2, 3})
        .fileSymbol("source.asm");
    std::uint32_t value = 0;
    for (const std::string &symbol : symbols)
      b.global(symbol, value++, ".code");
    b.external("elsewhere");
    return b.fileBytes();
  }

  std::string banner() const {
    return "TESSIL 2.40.00, Librarian\n"
           "Copyright (c) 2026 The Orvane Toolchain Authors\n\n";
  }

  TempDir cDir;
};
