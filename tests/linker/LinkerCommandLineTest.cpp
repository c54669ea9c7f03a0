#include "LinkerRun.h"

#include <unistd.h>

namespace {

const char *const kHelp =
    "Syntax:   orvane { cmdfile | [objfile] | [libfile] | [option] } ...  \n"
    "  'cmdfile' is the name of a linker command file.              \n"
    "       All linker command files must have the extension '.lkr' \n"
    "  'objfile' is the name of an assembler or compiler generated object "
    "file. \n"
    "       All object files must have the extension '.o'.          \n"
    "  'libfile' is the name of a librarian created library file.   \n"
    "       All library files must have the extension '.lib'.       \n"
    "  'option'  is a linker command line option described below.   \n"
    "\n"
    "Linker command line options:                                   \n"
    "   /o <filename>   : specify output file 'filename', default is 'a.out'  "
    "\n"
    "   /m <filename>   : create map file 'filename'                          "
    "\n"
    "   /l <pathlist>   : list of directories to search for library/object "
    "files\n"
    "   /k <pathlist>   : list of directories to search for linker command "
    "files\n"
    "   /n <length>     : number of lines per listing page (0 = no "
    "pagination)\n"
    "   /h, /?          : show this help screen                   \n"
    "   /a <hexformat>  : specify format of hex programming file  \n"
    "                     valid formats are INHX8M, INHX8S, INHX32\n"
    "   /d              : don't create listing file               \n"
    "   /q              : quiet mode operation (display no warnings or "
    "errors)\n"
    "   /v              : verbose mode operation (display all warnings and "
    "errors)\n";

using LinkerCommandLineTest = LinkerRun;

TEST_F(LinkerCommandLineTest, ShowsHelpWithoutArgumentsOrWhenAsked) {
  const std::vector<std::vector<std::string>> calls = {
      {}, {"/h"}, {"-?"}, {"/H"}, {"a.o", "/?"}};
  for (const auto &args : calls) {
    SCOPED_TRACE(args.empty() ? "no arguments" : args.back());
    const ProcessResult result = link(args);
    EXPECT_EQ(result.exitCode, 255);
    EXPECT_EQ(result.out, kBanner); // no summary
    EXPECT_EQ(result.err, kHelp);
  }
  // The help screen ignores the quiet switch.
  const ProcessResult quiet = link({"/q", "/h"});
  EXPECT_EQ(quiet.exitCode, 255);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, kHelp);
}

TEST_F(LinkerCommandLineTest, QuietAnywhereSilencesEverything) {
  const ProcessResult alone = link({"/q"});
  EXPECT_EQ(alone.exitCode, 1); // "linker command file required." counted
  EXPECT_EQ(alone.out, "");
  EXPECT_EQ(alone.err, "");

  cDir.write("x.lkr", "CODEPAGE NAME=p START=0 END=0xFF\n");
  for (const char *quiet : {"-q", "/q", "-Q", "/Q"}) {
    SCOPED_TRACE(quiet);
    const ProcessResult result = link({"x.lkr", "bad.txt", quiet});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(LinkerCommandLineTest, RefusesBadSwitchesAndInputs) {
  struct Case {
    std::vector<std::string> args;
    const char *message;
  };
  const std::vector<Case> cases = {
      {{"/o"}, "-o switch requires <filename>"},
      {{"/o", "out/"}, "-o switch requires <filename>"},
      {{"/o", "_out"}, "-o switch requires <filename>"},
      {{"/o", "dir/ out"}, "-o switch requires <filename>"},
      {{"-m"}, "-m switch requires <filename>"},
      {{"/l", "a;;b"}, "-l switch requires <pathlist>"},
      {{"/l", ""}, "-l switch requires <pathlist>"},
      {{"/k", ";"}, "-k switch requires <pathlist>"},
      {{"/n", "12a"}, "-n switch requires <length>"},
      {{"/a", "inhx8m"}, "-a switch requires <hexformat>"},
      {{"/x"}, "unknown switch: /x"},
      {{"-Z9"}, "unknown switch: -z9"},
      {{"-"}, "unknown switch: -"},
      {{".o"}, "unrecognized input: .o"},
      {{"_a.o"}, "unrecognized input: _a.o"},
      {{"notes.txt"}, "unrecognized input: notes.txt"},
      {{"a.o", "m.lib"}, "linker command file required."},
      {{"/o", "a.cof", "/oB.cof"},
       "multiple output files declared: 'a.cof', 'B.cof'"},
      {{"/ma.map", "/M", "a.map"},
       "multiple map files declared: 'a.map', 'a.map'"},
      {{"a.o", "A.O", "a.o"}, "mutliple inclusion of object file 'a.o' "},
      {{"m.lib", "m.lib"}, "mutliple inclusion of library file 'm.lib' "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    expectRefused(c.args, c.message);
  }
}

TEST_F(LinkerCommandLineTest,
       AcceptsValidSwitchValuesAndTellsPathsFromSwitches) {
  // Every switch below is valid, so parsing reaches the missing command
  // file: "/tmp/..." style arguments are files, not switches.
  expectRefused({"/o", "dir/out.cof", "/mx.map", "/l", "lib;", "/k", "a;b",
                 "/n", "60", "/a", "INHX32", "/d", "/s", "/abs/path/x.o",
                 "/abs/path/m.LIB"},
                "linker command file required.");
  const ProcessResult verbose = link({"/V", "a.o"});
  EXPECT_EQ(verbose.out, kBanner + "Errors    : 1\nWarnings  : 0\n\n");
  expectRefused({"-Ox.cof", "/oy.cof"},
                "multiple output files declared: 'x.cof', 'y.cof'");
}

TEST_F(LinkerCommandLineTest, RefusesAMapFileNamedLikeTheOutput) {
  cDir.write("x.lkr", "CODEPAGE NAME=p START=0 END=0xFF\n");
  expectRefused({"x.lkr", "a.o", "/m", "a.out"},
                "Map file and output file must differ: 'a.out'.");
  expectRefused({"x.lkr", "a.o", "/o", "x.cof", "/m", "./x.cof"},
                "Map file and output file must differ: './x.cof'.");
}

// Checked before anything is read: the inputs need not even be objects.
TEST_F(LinkerCommandLineTest, RefusesAnOutputThatWouldReplaceAnInput) {
  const std::string kObject = "not read";
  cDir.write("a.o", kObject);
  cDir.write("lib/m.lib", "not read");
  cDir.write("x.lkr", "CODEPAGE NAME=p START=0 END=0xFF\n");
  ASSERT_EQ(symlink("a.o", cDir.file("link.cof").c_str()), 0);
  const std::vector<std::string> inputs = {"x.lkr", "a.o", "m.lib", "/l",
                                           "lib"};
  struct Case {
    std::vector<std::string> outputs;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"/o", "a.o"}, "Output file 'a.o' would replace an input file."},
      {{"/o", "./a.o"}, "Output file './a.o' would replace an input file."},
      {{"/m", "a.o"}, "Map file 'a.o' would replace an input file."},
      {{"/o", "x.lkr"}, "Output file 'x.lkr' would replace an input file."},
      {{"/o", "lib/m.lib"},
       "Output file 'lib/m.lib' would replace an input file."},
      {{"/o", "link.cof"},
       "Output file 'link.cof' would replace an input file."},
      {{"/o", cDir.file("a.o")},
       "Output file '" + cDir.file("a.o") + "' would replace an input file."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = inputs;
    args.insert(args.end(), c.outputs.begin(), c.outputs.end());
    expectRefused(args, c.message);
  }
  EXPECT_EQ(cDir.read("a.o"), kObject);
  // Another hard link is another name: replacing it leaves the input, so
  // the link goes on (and fails on the input that is no object).
  ASSERT_EQ(::link(cDir.file("a.o").c_str(), cDir.file("hard.o").c_str()), 0);
  const ProcessResult hard = link({"x.lkr", "a.o", "/o", "hard.o"});
  EXPECT_EQ(hard.exitCode, 1);
  EXPECT_EQ(hard.err.find("would replace"), std::string::npos) << hard.err;
  EXPECT_EQ(cDir.read("a.o"), kObject);
}

TEST_F(LinkerCommandLineTest, WritesNoOutputWhenTheLinkFails) {
  cDir.write("x.lkr", "CODEPAGE NAME=p START=0 END=0xFF\n");
  const ProcessResult result = link({"x.lkr", "a.o"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_FALSE(cDir.exists("a.out"));
}

} // namespace
