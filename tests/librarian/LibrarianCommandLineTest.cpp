// The librarian's command line: help screen, usage errors, quiet and the
// case of switch letters and file names.
#include "LibrarianRun.h"

namespace {

const char kHelpScreen[] =
    "Syntax:   tessil [/q] /{ctdrxh} LIBRARY [MEMBER...]  \n"
    "  /q      : quiet mode                       \n"
    "  /c      : create library LIBRARY           \n"
    "  /t      : list library LIBRARY             \n"
    "  /d      : delete MEMBER from LIBRARY       \n"
    "  /r      : add or replace MEMBER in LIBRARY \n"
    "  /x      : extract MEMBER from LIBRARY      \n"
    "  /h, /?  : show this help screen            \n"
    "\n";

using Words = std::vector<std::string>;

} // namespace

TEST_F(LibrarianRun, ShowsHelpWithoutSummaryAndExits255) {
  const Words cases[] = {
      {},
      {"/h"},
      {"-H"},
      {"/?"},
      {"/q", "/h"},
      {"x.lib", "/c", "x.lib"}, // a file before the command
      {"/z", "/c", "x.lib"},
      {"/cx", "x.lib"},
      {cDir.file("x.lib")}, // an absolute path is no switch
  };
  for (const Words &args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ProcessResult r = run(args);
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.err, kHelpScreen);
    bool quiet = !args.empty() && args[0] == "/q";
    EXPECT_EQ(r.out, quiet ? "" : banner());
    EXPECT_FALSE(cDir.exists("x.lib"));
  }
}

TEST_F(LibrarianRun, QuietWithoutCommandFailsSilently) {
  ProcessResult r = run({"/q"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(LibrarianRun, ReportsUsageErrorsWithSummaryAndExits1) {
  cDir.write("a.o", object({"a"}));
  struct Case {
    Words args;
    const char *error;
  };
  const Case cases[] = {
      {{"/c"}, "library filename is required"},
      {{"/c", ""}, "library filename is required"},
      {{"/c", "x.o"}, "library filename is required"},
      {{"/c", ".lib"}, "library filename is required"},
      {{"/c", "_x.lib"}, "library filename is required"},
      {{"/t", "/d"}, "library filename is required"},
      {{"/c", "x.lib", "a.c"}, "invalid object filename"},
      {{"/c", "x.lib", "a.o", ""}, "invalid object filename"},
      {{"/c", "x.lib", "a.o", "/t"}, "invalid object filename"},
      {{"/c", "x.lib", ".o"}, "invalid object filename"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ProcessResult r = run(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, std::string("Error - ") + c.error + "\n");
    EXPECT_EQ(r.out, banner() + "Errors    : 1\n\n");
    EXPECT_FALSE(cDir.exists("x.lib"));
  }
}

TEST_F(LibrarianRun, TakesUpperCaseLettersAndFileNamesAsTyped) {
  cDir.write("Src/Alpha.O", object({"alpha"}));
  cDir.write("Lib/keep", "");
  // Absolute paths begin with '/' and must not be taken for switches.
  const std::string lib = cDir.file("Lib/Mixed.LIB");
  ProcessResult r = run({"-C", lib, cDir.file("Src/Alpha.O")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cDir.read("Lib/Mixed.LIB"),
            CoffBuilder::libraryBytes({{"Alpha", object({"alpha"})}}));
  EXPECT_FALSE(cDir.exists("lib/mixed.lib"));

  r = run({"/Q", "/X", lib, "Src/Alpha.O"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(cDir.read("Alpha"), object({"alpha"}));
}
