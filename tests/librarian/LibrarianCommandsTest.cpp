// The five library commands on small libraries: resulting member order and
// bytes, listing lines, extraction, and that a failed change leaves the
// library exactly as it was.
#include "CoffTestUtil.h"
#include "LibrarianRun.h"

#include <dirent.h>
#include <set>
#include <sys/stat.h>

namespace {

const std::string kSummaryOk = "Errors    : 0\n\n";
const std::string kSummaryFailed = "Errors    : 1\n\n";

std::string padded(const std::string &text, std::size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ')
                             : text;
}

std::set<std::string> entriesOf(const std::string &dir) {
  std::set<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (const dirent *entry = readdir(d))
      names.insert(entry->d_name);
    closedir(d);
  }
  names.erase(".");
  names.erase("..");
  return names;
}

class LibrarianCommands : public LibrarianRun {
protected:
  void SetUp() override {
    cA = object({"a_entry"});
    cB = object({"b_entry", "b_second_long_name"}, 1234567890);
    cC = object({"c_entry"}, 86400);
    cDir.write("a.o", cA);
    cDir.write("b.o", cB);
    cDir.write("c.o", cC);
  }

  // x.lib holding a, b and c, in that order.
  void writeLibraryABC() {
    cDir.write("x.lib",
               CoffBuilder::libraryBytes({{"a", cA}, {"b", cB}, {"c", cC}}));
  }

  // The member names /t lists, in library order.
  std::vector<std::string> listedNames(const std::string &lib) {
    ProcessResult r = run({"/t", lib});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> names;
    const std::string mark = "Member: '";
    for (std::size_t at = r.out.find(mark); at != std::string::npos;
         at = r.out.find(mark, at + 1)) {
      const std::size_t start = at + mark.size();
      names.push_back(r.out.substr(start, r.out.find('\'', start) - start));
    }
    return names;
  }

  std::string cA, cB, cC;
};

} // namespace

TEST_F(LibrarianCommands, CreateStoresMembersInCommandLineOrder) {
  ProcessResult r = run({"/c", "x.lib", "c.o", "a.o", "b.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, banner() + kSummaryOk);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(cDir.read("x.lib"),
            CoffBuilder::libraryBytes({{"c", cC}, {"a", cA}, {"b", cB}}));
}

TEST_F(LibrarianCommands, CreateWithoutMembersWritesTheMagicOnly) {
  cDir.write("x.lib", "old contents");
  ProcessResult r = run({"/c", "x.lib"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(cDir.read("x.lib"), "!<arch>\n");
}

TEST_F(LibrarianCommands, CreateWritesNothingWhenAMemberFails) {
  cDir.write("dup.o", object({"z", "a_entry"}));
  cDir.write("junk.o", "not an object file at all");
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"/c", "x.lib", "a.o", "dup.o"},
       "Error - Symbol 'a_entry' has multiple external definitions.\n"},
      {{"/c", "x.lib", "a.o", "missing.o"},
       "Error - Could not open Coff file 'missing.o' for reading.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ProcessResult r = run(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, c.error);
    EXPECT_EQ(r.out, banner() + kSummaryFailed);
    EXPECT_FALSE(cDir.exists("x.lib"));
  }
  // An unreadable object: whatever the reader says, it is an error and
  // an existing library survives untouched.
  cDir.write("x.lib", "!<arch>\n");
  ProcessResult r = run({"/c", "x.lib", "a.o", "junk.o"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Error - "), std::string::npos);
  EXPECT_EQ(cDir.read("x.lib"), "!<arch>\n");
}

TEST_F(LibrarianCommands, ListPrintsOneLinePerMemberInLibraryOrder) {
  const std::string longName = "a_member_name_of_thirty_chars";
  cDir.write("x.lib",
             CoffBuilder::libraryBytes({{"b", cB}, {"a", cA}, {longName, cC}}));
  ProcessResult r = run({"/t", "x.lib", "ignored.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  auto line = [](const std::string &name, std::size_t size,
                 const std::string &date) {
    return "Member: " + padded("'" + name + "'", 25) +
           "  Size: " + padded(std::to_string(size), 6) + " Date: " + date +
           " \n";
  };
  EXPECT_EQ(r.out, banner() + line("b", cB.size(), "Fri Feb 13 23:31:30 2009") +
                       line("a", cA.size(), "Thu Jan 14 08:25:36 2021") +
                       line(longName, cC.size(), "Fri Jan  2 00:00:00 1970") +
                       kSummaryOk);
  EXPECT_EQ(r.err, "");
}

TEST_F(LibrarianCommands, ListWhenQuietPrintsNothingAndSucceeds) {
  writeLibraryABC();
  ProcessResult r = run({"/q", "/t", "x.lib"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out + r.err, "");
}

TEST_F(LibrarianCommands, ReadingABadLibraryFails) {
  cDir.write("bad.lib", "!<arch>");
  cDir.write("text.lib", "this is no library");
  struct Case {
    std::string lib;
    std::string error;
  };
  const Case cases[] = {
      {"none.lib", "Could not open library file 'none.lib' for reading."},
      {"bad.lib",
       "Could not read archive magic string in library file 'bad.lib'."},
      {"text.lib", "File 'text.lib' is not a valid library file."},
  };
  for (const char *cmd : {"/t", "/d", "/r", "/x"}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(cmd) + " " + c.lib);
      ProcessResult r = run({cmd, c.lib});
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.err, "Error - " + c.error + "\n");
      EXPECT_EQ(r.out, banner() + kSummaryFailed);
    }
  }
  EXPECT_EQ(cDir.read("bad.lib"), "!<arch>");
  EXPECT_FALSE(cDir.exists("none.lib"));
}

TEST_F(LibrarianCommands, DeleteRemovesNamedMembersKeepingTheOrder) {
  writeLibraryABC();
  ProcessResult r = run({"/d", "x.lib", "sub/b.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, banner() + kSummaryOk);
  EXPECT_EQ(cDir.read("x.lib"),
            CoffBuilder::libraryBytes({{"a", cA}, {"c", cC}}));

  r = run({"/d", "x.lib", "c.o", "a.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cDir.read("x.lib"), "!<arch>\n");
}

TEST_F(LibrarianCommands, DeleteTakesOneMemberPerNameInLibraryOrder) {
  // Two members under one name (only another tool writes such a library);
  // the symbols differ so the library itself is sound.
  std::string a2 = object({"a_other"});
  cDir.write("x.lib",
             CoffBuilder::libraryBytes({{"a", cA}, {"b", cB}, {"a", a2}}));
  ProcessResult r = run({"/d", "x.lib", "a.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cDir.read("x.lib"),
            CoffBuilder::libraryBytes({{"b", cB}, {"a", a2}}));
}

TEST_F(LibrarianCommands, DeleteOfAMissingMemberLeavesTheLibraryUntouched) {
  writeLibraryABC();
  const std::string before = cDir.read("x.lib");
  // Member names match exactly: case matters.
  ProcessResult r = run({"/d", "x.lib", "a.o", "z.o", "B.o", "a.o"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error - 'z.o' is not a member of library 'x.lib'.\n"
                   "Error - 'B.o' is not a member of library 'x.lib'.\n"
                   "Error - 'a.o' is not a member of library 'x.lib'.\n");
  EXPECT_EQ(r.out, banner() + "Errors    : 3\n\n");
  EXPECT_EQ(cDir.read("x.lib"), before);
}

TEST_F(LibrarianCommands, ReplaceKeepsThePlaceAndAppendsNewMembers) {
  writeLibraryABC();
  const std::string newB = object({"b_entry"}, 7, 0x55);
  const std::string d = object({"d_entry"});
  cDir.write("new/b.o", newB);
  cDir.write("d.o", d);
  ProcessResult r = run({"/r", "x.lib", "d.o", "new/b.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, banner() + kSummaryOk);
  EXPECT_EQ(
      cDir.read("x.lib"),
      CoffBuilder::libraryBytes({{"a", cA}, {"b", newB}, {"c", cC}, {"d", d}}));
}

TEST_F(LibrarianCommands, ReplaceRefusesAChangeThatCannotBeStored) {
  writeLibraryABC();
  const std::string before = cDir.read("x.lib");
  cDir.write("clash.o", object({"c_entry"}));
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"/r", "x.lib", "clash.o"},
       "Error - Symbol 'c_entry' has multiple external definitions.\n"},
      {{"/r", "x.lib", "a.o", "gone.o"},
       "Error - Could not open Coff file 'gone.o' for reading.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ProcessResult r = run(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, c.error);
    EXPECT_EQ(cDir.read("x.lib"), before);
  }
}

TEST_F(LibrarianCommands, AnObjectAddedAndExtractedComesBackIdentical) {
  ASSERT_EQ(run({"/c", "x.lib"}).exitCode, 0);
  ASSERT_EQ(run({"/r", "x.lib", "a.o", "b.o"}).exitCode, 0);
  ProcessResult r = run({"/x", "x.lib"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, banner() +
                       "Extracting member 'a'.\n"
                       "Extracting member 'b'.\n" +
                       kSummaryOk);
  // Members are extracted under their names, without extension.
  EXPECT_EQ(cDir.read("a"), cA);
  EXPECT_EQ(cDir.read("b"), cB);
}

TEST_F(LibrarianCommands, ExtractsOnlyTheNamedMembersInTheGivenOrder) {
  writeLibraryABC();
  ProcessResult r = run({"/x", "x.lib", "dir/c.o", "a.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, banner() +
                       "Extracting member 'c'.\n"
                       "Extracting member 'a'.\n" +
                       kSummaryOk);
  EXPECT_EQ(cDir.read("c"), cC);
  EXPECT_EQ(cDir.read("a"), cA);
  EXPECT_FALSE(cDir.exists("b"));

  r = run({"/q", "/x", "x.lib", "b.o"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(cDir.read("b"), cB);
}

TEST_F(LibrarianCommands, ExtractsNothingWhenANameIsNoMember) {
  writeLibraryABC();
  ProcessResult r = run({"/x", "x.lib", "a.o", "q.o"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error - 'q.o' is not a member of library 'x.lib'.\n");
  EXPECT_EQ(r.out, banner() + kSummaryFailed);
  EXPECT_FALSE(cDir.exists("a"));
}

TEST_F(LibrarianCommands, NeverExtractsOutsideTheCurrentDirectory) {
  const char *const badNames[] = {"..", "..\\up", "a..b", "sub\\a", "."};
  for (const char *bad : badNames) {
    SCOPED_TRACE(bad);
    cDir.write("bad.lib", CoffBuilder::libraryBytes({{"good", cA}, {bad, cB}}));
    ProcessResult r = run({"/x", "bad.lib"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Error - Member name '" + std::string(bad) +
                         "' in library 'bad.lib' is not a plain file name; "
                         "nothing is extracted.\n");
    EXPECT_FALSE(cDir.exists("good"));
  }
}

TEST_F(LibrarianCommands, AFailedRewriteLeavesTheLibraryByteIdentical) {
  writeLibraryABC();
  const std::string before = cDir.read("x.lib");
  // Beyond a file-size limit every write fails (EFBIG, signal ignored),
  // also for root; the library is read, not written, under the limit.
  const std::string limit = "trap '' XFSZ; ulimit -f 1";
  std::vector<std::uint16_t> words(2000, 0x3FFF);
  CoffBuilder builder;
  builder.processor(0x2550).section(".code", kScnTypeCode).words(words);
  builder.global("big_entry", 0, ".code");
  cDir.write("big.o", builder.fileBytes());

  const std::vector<std::string> commands[] = {
      {"/r", "x.lib", "big.o"},
      {"/c", "x.lib", "a.o", "big.o"},
  };
  for (const auto &args : commands) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ProcessResult r = run(args, limit);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Error - "), std::string::npos);
    EXPECT_EQ(cDir.read("x.lib"), before);
  }
  // Nothing but the inputs is left behind (no temporary files).
  EXPECT_EQ(entriesOf(cDir.path()),
            (std::set<std::string>{"a.o", "b.o", "big.o", "c.o", "x.lib"}));
}

TEST_F(LibrarianCommands, CreateInAMissingDirectoryFails) {
  ProcessResult r = run({"/c", "gone/x.lib", "a.o"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "Error - Could not open library file 'gone/x.lib' for writing.\n");
  EXPECT_FALSE(cDir.exists("gone"));
}

TEST_F(LibrarianCommands, AFailedExtractionStopsAndReportsIt) {
  writeLibraryABC();
  // A directory where member b would go: it cannot be replaced by a file.
  ASSERT_EQ(mkdir(cDir.file("b").c_str(), 0755), 0);
  ProcessResult r = run({"/x", "x.lib"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, banner() +
                       "Extracting member 'a'.\n"
                       "Extracting member 'b'.\n" +
                       kSummaryFailed);
  EXPECT_EQ(r.err, "Error - Could not open Coff file 'b' for writing.\n");
  EXPECT_EQ(cDir.read("a"), cA);
  EXPECT_FALSE(cDir.exists("c"));
}

TEST_F(LibrarianCommands, ExtractsAnOldLayoutMemberInTheCurrentLayout) {
  cDir.write("x.lib", CoffBuilder::libraryBytes({{"old", oldLayoutObject()}}));
  ProcessResult r = run({"/q", "/x", "x.lib"});
  // The reader reports the old layout, and the member is still extracted.
  EXPECT_EQ(r.exitCode, 0);
  std::unique_ptr<Coff> extracted;
  std::string errors =
      capturedErrors([&] { extracted = Coff::make(cDir.file("old")); });
  EXPECT_EQ(errors, "");
  ASSERT_NE(extracted, nullptr);
  EXPECT_EQ(extracted->isLaidOut(), 1);
  EXPECT_EQ(extracted->cFileHdr.f_timdat, 99u); // the stamp is kept
  EXPECT_EQ(extracted->cLineNum.at(".code").size(), 2u);
}

TEST_F(LibrarianCommands, CreateFromManyObjectsReportsTheFirstUnreadableOne) {
  std::vector<std::string> args{"/c", "x.lib"};
  for (int i = 0; i < 50; ++i) {
    const std::string name = "m" + std::to_string(i) + ".o";
    if (i != 25 && i != 45)
      cDir.write(name, object({"s" + std::to_string(i)}));
    args.push_back(name);
  }
  ProcessResult r = run(args);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error - Could not open Coff file 'm25.o' for reading.\n");
  EXPECT_EQ(r.out, banner() + kSummaryFailed);
  EXPECT_FALSE(cDir.exists("x.lib"));
}

// A member whose model lays out to another length than it is stored in
// (the old layout, padding after its strings) is framed by its header:
// the members after it are listed and kept by every command.
TEST_F(LibrarianCommands, MembersAfterOneOfAnotherLengthAreNeverLost) {
  const struct {
    const char *what;
    std::string first;
  } cases[] = {
      {"old layout", oldLayoutObject(40)},
      {"padded strings", withPaddedStringTable(cA, 2)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string lib =
        CoffBuilder::libraryBytes({{"first", c.first}, {"b", cB}});
    cDir.write("x.lib", lib);
    EXPECT_EQ(listedNames("x.lib"), (std::vector<std::string>{"first", "b"}));
    ProcessResult r = run({"/q", "/r", "x.lib", "c.o"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(listedNames("x.lib"),
              (std::vector<std::string>{"first", "b", "c"}));
    cDir.write("x.lib", lib);
    r = run({"/q", "/d", "x.lib", "first.o"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(cDir.read("x.lib"), CoffBuilder::libraryBytes({{"b", cB}}));
  }
}

// An empty file name of the old layout must not end the string table the
// library stores: the names after it are kept.
TEST_F(LibrarianCommands, ALibraryWrittenIsListedWhole) {
  cDir.write("old.o", oldLayoutObject(2, "", "abc"));
  ProcessResult r = run({"/q", "/c", "e.lib", "old.o", "b.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(listedNames("e.lib"), (std::vector<std::string>{"old", "b"}));
  r = run({"/q", "/x", "e.lib", "old.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::unique_ptr<Coff> extracted;
  EXPECT_EQ(capturedErrors([&] { extracted = Coff::make(cDir.file("old")); }),
            "");
  ASSERT_NE(extracted, nullptr);
  EXPECT_EQ(Coff::getName(readAux<aux_file>(extracted->cSymbolTbl.at(3)),
                          extracted->cStringTbl),
            "abc");
}

// What zero-filled sections make a program allocate is bounded for the
// whole object, not per section.
TEST_F(LibrarianCommands, ZeroFilledSectionsAreBoundedInAll) {
  const struct {
    std::uint32_t sections;
    std::uint32_t sizeInBytes; // each
    bool read;
  } cases[] = {
      {2, 8u << 20, true},
      {3, 8u << 20, false},
      {64, 16u << 20, false}, // 2.6 KB claiming 1 GiB
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.sections);
    CoffBuilder builder;
    for (std::uint32_t i = 0; i < c.sections; ++i)
      builder.section(".u" + std::to_string(i), kScnTypeUdata).zeros(1);
    std::string bytes = builder.symbol("s", 0, 1, kClassStatic).fileBytes();
    for (std::uint32_t i = 0; i < c.sections; ++i)
      patch32(bytes, 36 + 40 * i + 16, c.sizeInBytes);
    cDir.write("z.o", bytes);
    ProcessResult r = run({"/c", "z.lib", "z.o"});
    EXPECT_EQ(r.exitCode, c.read ? 0 : 1);
    EXPECT_EQ(r.err,
              c.read ? ""
                     : "Error - Coff file 'z.o' could not read raw data.\n");
  }
}

// Names another librarian stored are listed and kept as they are; a
// command-line name still matches by its base name.
TEST_F(LibrarianCommands, StoredNamesAreListedAndKeptVerbatim) {
  cDir.write("x.lib", CoffBuilder::libraryBytes(
                          {{"a.o", cA}, {"dir\\b", cB}, {"c.O", cC}}));
  EXPECT_EQ(listedNames("x.lib"),
            (std::vector<std::string>{"a.o", "dir\\b", "c.O"}));
  ProcessResult r = run({"/q", "/d", "x.lib", "a.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cDir.read("x.lib"),
            CoffBuilder::libraryBytes({{"dir\\b", cB}, {"c.O", cC}}));
  // A member replaced from a file takes the file's base name.
  r = run({"/q", "/r", "x.lib", "c.o"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cDir.read("x.lib"),
            CoffBuilder::libraryBytes({{"dir\\b", cB}, {"c", cC}}));
}
