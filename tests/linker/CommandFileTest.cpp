#include "LinkerRun.h"

namespace {

using CommandFileTest = LinkerRun;

struct FileCase {
  const char *text;    // contents of "x.lkr"
  const char *message; // the one error it gives
};

TEST_F(CommandFileTest, ReportsEverySyntaxErrorWithFileAndLine) {
  const std::vector<FileCase> cases = {
      {"codepage NAME=p START=0 END=1\n",
       "Unrecognized input in './x.lkr:1': codepage"},
      {"// comment\n\n  \nCODEPAGE NAME=p START=0 END=1 JUNK\n",
       "Invalid attributes for CODEPAGE in './x.lkr:4'"},
      {"CODEPAGE NAME=p NAME=q START=0 END=1\n",
       "Invalid attributes for CODEPAGE in './x.lkr:1'"},
      {"CODEPAGE NAME=p START=0\n",
       "Invalid attributes for CODEPAGE in './x.lkr:1'"},
      {"CODEPAGE NAME=p START=0 END=1 PROTECTED PROTECTED\n",
       "Invalid attributes for CODEPAGE in './x.lkr:1'"},
      {"CODEPAGE NAME= START=0 END=1\n",
       "Invalid attributes for CODEPAGE in './x.lkr:1'"},
      {"CODEPAGE NAME=p START=0x10 END=0xF\n",
       "Invalid attributes for CODEPAGE in './x.lkr:1'"},
      {"DATABANK NAME=b START=0 END=1 FILL=0\n",
       "Invalid attributes for DATABANK in './x.lkr:1'"},
      {"SHAREBANK NAME=b START=0x80 END=0x7F\n",
       "Invalid attributes for SHAREBANK in './x.lkr:1'"},
      {"ACCESSBANK NAME=b START=0 END\n",
       "Invalid attributes for ACCESSBANK in './x.lkr:1'"},
      {"SECTION NAME=s\n", "Invalid attributes for SECTION in './x.lkr:1'"},
      {"SECTION NAME=s ROM=a ROM=b\n",
       "Invalid attributes for SECTION in './x.lkr:1'"},
      {"STACK RAM=b\n", "Invalid attributes for STACK in './x.lkr:1'"},
      {"STACK SIZE=2 PROTECTED\n",
       "Invalid attributes for STACK in './x.lkr:1'"},
      {"HEAP\n", "Invalid attributes for HEAP in './x.lkr:1'"},
      {"HEAP MINSIZE=1 MINSIZE=2\n",
       "Invalid attributes for HEAP in './x.lkr:1'"},
      {"LIBPATH\n", "Illegal <libpath> for LIBPATH in './x.lkr:1'"},
      {"LIBPATH a;;b\n", "Illegal <libpath> for LIBPATH in './x.lkr:1'"},
      {"LKRPATH \"\"\n", "Illegal <lkrpath> for LKRPATH in './x.lkr:1'"},
      {"FILES\n", "Illegal <filename> for FILES in './x.lkr:1'"},
      {"FILES a.o x.lkr\n", "Illegal <filename> for FILES in './x.lkr:1'"},
      {"FILES a.o \"b.o\n", "Illegal <filename> for FILES in './x.lkr:1'"},
      {"INCLUDE\n", "Illegal <filename> for INCLUDE in './x.lkr:1'"},
      {"INCLUDE a.o\n", "Illegal <filename> for INCLUDE in './x.lkr:1'"},
      {"INCLUDE \"y.lkr\n", "Illegal <filename> for INCLUDE in './x.lkr:1'"},
      {"CODEPAGE NAME=p START=0 END=0xFF\nINCLUDE x.lkr\n",
       "Multliple inclusion of linker command file './x.lkr' "},
      {"INCLUDE missing.lkr\n",
       "Could not find linker command file 'missing.lkr'."},
  };
  for (const FileCase &c : cases) {
    SCOPED_TRACE(c.text);
    cDir.write("x.lkr", c.text);
    expectRefused({"x.lkr"}, c.message);
  }
}

TEST_F(CommandFileTest, ReportsRefusedSettingsOfCommandFiles) {
  const std::vector<FileCase> cases = {
      {"CODEPAGE NAME=p0 START=0 END=0x800\n"
       "CODEPAGE NAME=p1 START=0x800 END=0xFFF\n",
       "memory 'p1' overlaps memory 'p0' "},
      {"CODEPAGE NAME=x START=0 END=0x7F\nDATABANK NAME=x START=0 END=0x7F\n",
       "duplicate definition of memory 'x' "},
      {"SHAREBANK NAME=s START=0x70 END=0x7F\n"
       "SHAREBANK NAME=s START=0xF0 END=0xF7\n",
       "inconsistent length definitions of SHAREBANK 's' "},
      {"SECTION NAME=c ROM=page\nCODEPAGE NAME=page START=0 END=0xFF\n",
       "undefined CODEPAGE 'page' for SECTION 'c' "},
      {"STACK SIZE=0x10\nSTACK SIZE=0x10\n", "multiple STACK definitions "},
      {"HEAP MINSIZE=0x40\nHEAP MINSIZE=16\n",
       "multiple min heap sizes declared: '64', '16'"},
      // LIBPATH, then FILES on the same line; "//" hides the second file.
      {"LIBPATH lib FILES a.o // b.o\nFILES b.o a.o\n",
       "mutliple inclusion of object file 'a.o' "},
  };
  for (const FileCase &c : cases) {
    SCOPED_TRACE(c.text);
    cDir.write("x.lkr", c.text);
    expectRefused({"x.lkr"}, c.message);
  }
}

TEST_F(CommandFileTest, ReadsSettingsBeforeTheArgumentsThatFollow) {
  cDir.write("x.lkr", "FILES a.o\n");
  expectRefused({"x.lkr", "a.o"}, "mutliple inclusion of object file 'a.o' ");
  expectRefused({"a.o", "x.lkr"}, "mutliple inclusion of object file 'a.o' ");
  cDir.write("y.lkr", "FILES \"a b.o\"\n");
  expectRefused({"y.lkr", "a b.o"},
                "mutliple inclusion of object file 'a b.o' ");
}

TEST_F(CommandFileTest, StopsIncludeLoops) {
  cDir.write("a.lkr", "INCLUDE b.lkr\n");
  cDir.write("b.lkr", "// back to the start\nINCLUDE a.lkr\n");
  expectRefused({"a.lkr"},
                "Multliple inclusion of linker command file './a.lkr' ");
  // A file named twice on the command line is read twice: refused too.
  cDir.write("c.lkr", "\n");
  expectRefused({"c.lkr", "c.lkr"},
                "Multliple inclusion of linker command file './c.lkr' ");
}

TEST_F(CommandFileTest, ReadsEachIncludedFileWholeBeforeTheNextName) {
  cDir.write("empty.lkr", "\n\n\n");
  cDir.write("bad.lkr", "\nbogusA\n");
  const std::vector<FileCase> cases = {
      {"INCLUDE bad.lkr b.o\n", "Unrecognized input in './bad.lkr:2': bogusA"},
      {"INCLUDE empty.lkr b.o\n",
       "Illegal <filename> for INCLUDE in './x.lkr:1'"},
      {"INCLUDE empty.lkr\nbogusX\n", "Unrecognized input in './x.lkr:2': bogusX"},
  };
  for (const FileCase &c : cases) {
    SCOPED_TRACE(c.text);
    cDir.write("x.lkr", c.text);
    expectRefused({"x.lkr"}, c.message);
  }
}

TEST_F(CommandFileTest, BoundsIncludeNestingAtAFixedDepth) {
  // l0.lkr includes l1.lkr, which includes l2.lkr, and so on.
  const int kLevels = 10000;
  for (int i = 0; i < kLevels; ++i)
    cDir.write("l" + std::to_string(i) + ".lkr",
               "INCLUDE l" + std::to_string(i + 1) + ".lkr\n");
  expectRefused({"l0.lkr"},
                "INCLUDE nested deeper than 256 levels in './l256.lkr:1'");
  // 256 levels are read whole.
  cDir.write("l256.lkr", "\n");
  expectRefused({"l0.lkr"}, "no input object files specified.");
}

TEST_F(CommandFileTest, SearchesCommandFilesInOrder) {
  cDir.write("one/x.lkr", "bogus1\n");
  cDir.write("two/x.lkr", "bogus2\n");
  cDir.write("two/y.lkr", "bogus3\n");
  // "/k" counts only for command files named after it.
  expectRefused({"x.lkr", "/k", "one"},
                "Could not find linker command file 'x.lkr'.");
  expectRefused({"/k", "one;two", "x.lkr"},
                "Unrecognized input in 'one/x.lkr:1': bogus1");
  expectRefused({"/k", "nothing;two/", "x.lkr"},
                "Unrecognized input in 'two/x.lkr:1': bogus2");
  // The current directory comes first.
  cDir.write("x.lkr", "bogus0\n");
  expectRefused({"/k", "one", "x.lkr"},
                "Unrecognized input in './x.lkr:1': bogus0");
  // LKRPATH serves the INCLUDEs after it; a name with a directory is used
  // as it stands.
  cDir.write("z.lkr", "LKRPATH \"two\" INCLUDE y.lkr\n");
  expectRefused({"z.lkr"}, "Unrecognized input in 'two/y.lkr:1': bogus3");
  expectRefused({"one/x.lkr"}, "Unrecognized input in 'one/x.lkr:1': bogus1");
  expectRefused({"one/y.lkr"},
                "Could not find linker command file 'one/y.lkr'.");
}

TEST_F(CommandFileTest, RefusesCommandFilesThatCannotBeRead) {
  cDir.write("dir.lkr/inside", "");
  expectRefused({"dir.lkr"}, "Could not open './dir.lkr'");
}

TEST_F(CommandFileTest, CountsLongLinesAsPiecesOf1023Characters) {
  struct Case {
    std::string text;
    const char *message;
  };
  const std::vector<Case> cases = {
      {std::string(1500, ' ') + "\nbogus\n",
       "Unrecognized input in './x.lkr:3': bogus"},
      {std::string(1023, ' ') + "\nbogus\n",
       "Unrecognized input in './x.lkr:2': bogus"},
      // The word is cut where the first piece ends.
      {std::string(1020, ' ') + "abcdef\n",
       "Unrecognized input in './x.lkr:1': abc"},
      {"\n\nbogus", "Unrecognized input in './x.lkr:3': bogus"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    cDir.write("x.lkr", c.text);
    expectRefused({"x.lkr"}, c.message);
  }
}

TEST_F(CommandFileTest, AcceptsEveryKindOfDeclaration) {
  // All of these parse; the link then stops later, never at parsing.
  cDir.write("x.lkr", "LIBPATH .;lib\n"
                      "CODEPAGE NAME=p0 START=0 END=0x7FF FILL=0x3 PROTECTED\n"
                      "CODEPAGE NAME=p1 START=0x800 END=0xFFF FILL=0xABCDE\n"
                      "DATABANK NAME=b0 START=0x20 END=0x7F\n"
                      "SHAREBANK NAME=s START=0x70 END=0x7F // mirrored\n"
                      "SHAREBANK NAME=s START=0xF0 END=0xFF\n"
                      "ACCESSBANK NAME=a START=0 END=0x1F\n"
                      "SECTION NAME=c ROM=p1\nSECTION NAME=d RAM=a\n"
                      "STACK SIZE=0x10 RAM=s\nHEAP MINSIZE=8\n");
  const ProcessResult result = link({"x.lkr", "a.o"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.find("x.lkr"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("Invalid"), std::string::npos) << result.err;
}

} // namespace
