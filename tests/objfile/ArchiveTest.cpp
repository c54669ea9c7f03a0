#include "Archive.h"
#include "CoffBuilder.h"
#include "CoffTestUtil.h"
#include "Messages.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string objectDefining(const std::string &symbol, std::uint32_t stamp,
                           const std::string &other = "") {
  CoffBuilder b;
  b.processor(0x2550)
      .timeStamp(stamp)
      .section(".code", kScnTypeCode)
      .words({1, 2})
      .fileSymbol(symbol + ".asm")
      .global(symbol, 0, ".code");
  if (!other.empty())
    b.global(other, 2, ".code");
  b.external("elsewhere");
  return b.fileBytes();
}

std::string headerOf(const std::string &lib, std::size_t at) {
  return lib.substr(at, kMemberHeaderSizeInBytes);
}

} // namespace

TEST(Archive, WritesTheFileLayoutByteForByte) {
  TempDir dir;
  std::string a = objectDefining("alpha", 1234567890);
  std::string b = objectDefining("beta_long_symbol", 42);
  dir.write("alpha.o", a);
  dir.write("beta.o", b);
  Archive lib;
  lib.cName = dir.file("x.lib");
  lib.cMembers.push_back(Coff::make(dir.file("alpha.o")));
  lib.cMembers.push_back(Coff::make(dir.file("beta.o")));
  ASSERT_EQ(lib.write(), 1);
  std::string bytes = dir.read("x.lib");
  EXPECT_EQ(bytes, CoffBuilder::libraryBytes({{"alpha", a}, {"beta", b}}));

  std::string header = headerOf(bytes, 8);
  EXPECT_EQ(header.substr(0, 6), "alpha/");
  EXPECT_EQ(header.substr(6, 250), std::string(250, ' '));
  EXPECT_EQ(header.substr(256, 12), std::string("1234567890l\0", 12));
  std::string size = std::to_string(a.size()) + "l";
  EXPECT_EQ(header.substr(268, size.size()), size);
  EXPECT_EQ(header.substr(268 + size.size()),
            std::string(10 - size.size(), '\0') + "\x60\x0A");
  std::string second = headerOf(bytes, 8 + 280 + a.size());
  EXPECT_EQ(second.substr(256, 12), std::string("42l\0\0\0\0\0\0\0\0\0", 12));
}

TEST(Archive, ReadsMembersSymbolsAndLooksThemUp) {
  TempDir dir;
  dir.write("x.lib",
            CoffBuilder::libraryBytes(
                {{"one", objectDefining("first", 1, "shared_long_name")},
                 {"two", objectDefining("second", 2)}}));
  std::unique_ptr<Archive> lib = Archive::make(dir.file("x.lib"));
  ASSERT_NE(lib, nullptr);
  ASSERT_EQ(lib->cMembers.size(), 2u);
  EXPECT_EQ(lib->cMembers[0]->cFileName, "one");
  EXPECT_EQ(lib->cMembers[1]->cFileName, "two");
  EXPECT_EQ(lib->cSymbols.size(), 3u);
  EXPECT_EQ(lib->hasSymbol("shared_long_name"), 1);
  EXPECT_EQ(lib->hasSymbol("elsewhere"), 0); // a reference, not a definition
  EXPECT_EQ(lib->hasSymbol("second"), 1);
  std::unique_ptr<Coff> member = lib->getMember("second");
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(member->cFileName, "two");
  member->cRawData.clear(); // a copy: the library's member is untouched
  EXPECT_EQ(lib->cMembers[1]->cRawData.size(), 1u);
  EXPECT_EQ(lib->getMember("nothing"), nullptr);

  Archive copy(*lib);
  EXPECT_EQ(copy.cMembers.size(), 2u);
  EXPECT_NE(copy.cSymbols.at("first"), lib->cSymbols.at("first"));
  EXPECT_EQ(copy.cSymbols.at("first"), copy.cMembers[0].get());
}

TEST(Archive, DuplicateDefinitionIsAnErrorButTheLibraryStaysUsable) {
  TempDir dir;
  dir.write("x.lib", CoffBuilder::libraryBytes(
                         {{"one", objectDefining("twice", 1)},
                          {"two", objectDefining("other", 2, "twice")}}));
  int errorsBefore = errorCount();
  std::unique_ptr<Archive> lib;
  std::string errors =
      capturedErrors([&] { lib = Archive::make(dir.file("x.lib")); });
  EXPECT_EQ(errors, "Error - Symbol 'twice' has multiple external "
                    "definitions.\n");
  EXPECT_EQ(errorCount(), errorsBefore + 1);
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(lib->cSymbols.at("twice"), lib->cMembers[0].get());
  EXPECT_EQ(lib->makeSymbols(), 0);
}

TEST(Archive, EmptyLibraryIsTheMagicAlone) {
  TempDir dir;
  Archive lib;
  lib.cName = dir.file("empty.lib");
  ASSERT_EQ(lib.write(), 1);
  EXPECT_EQ(dir.read("empty.lib"), "!<arch>\n");
  std::unique_ptr<Archive> back = Archive::make(dir.file("empty.lib"));
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(back->cMembers.empty());
}

TEST(Archive, ReaderRefusesDamagedLibraries) {
  TempDir dir;
  std::string good = CoffBuilder::libraryBytes({{"m", objectDefining("s", 1)}});
  std::string badMember = good;
  badMember[8 + 280] = 'X';
  // Without a size field to frame it, an old-layout member's model lays
  // out past the end of the file: what followed it cannot be found.
  std::string unframed =
      CoffBuilder::libraryBytes({{"old", oldLayoutObject()}});
  unframed.replace(8 + 268, 1, "-");
  struct Case {
    const char *what;
    std::string bytes;
    std::string error; // "" for a library that reads
    std::size_t members;
  } cases[] = {
      {"short magic", "!<ar",
       "Could not read archive magic string in library "
       "file '@'.",
       0},
      {"wrong magic", "!<arch>X", "File '@' is not a valid library file.", 0},
      {"trailing piece", good + "short", "", 1},
      {"header without member", good + std::string(280, ' '),
       "Library file '@' has a missing member object file.", 0},
      {"damaged member", badMember,
       "Coff file 'm' does not appear to be a valid COFF file.\nError - "
       "Could not build member 'm' in library file '@'. ",
       0},
      {"unframed member past the end", unframed,
       "Coff file 'old' missing optional file header.\nError - "
       "Could not build member 'old' in library file '@'. ",
       0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    dir.write("x.lib", c.bytes);
    std::string path = dir.file("x.lib");
    std::unique_ptr<Archive> lib;
    std::string errors = capturedErrors([&] { lib = Archive::make(path); });
    if (c.error.empty()) {
      EXPECT_EQ(errors, "");
      ASSERT_NE(lib, nullptr);
      EXPECT_EQ(lib->cMembers.size(), c.members);
    } else {
      std::string expected = c.error;
      expected.replace(expected.find('@'), 1, path);
      EXPECT_EQ(errors, "Error - " + expected + "\n");
      EXPECT_EQ(lib, nullptr);
    }
    // A listing ends where the full read ends, with its words.
    Archive::Listing listing;
    bool listed = false;
    EXPECT_EQ(
        capturedErrors([&] { listed = Archive::readListing(path, listing); }),
        errors);
    EXPECT_EQ(listed, lib != nullptr);
    if (listed) {
      EXPECT_EQ(listing.cEntries.size(), c.members);
    }
  }
  std::string errors = capturedErrors(
      [&] { EXPECT_EQ(Archive::make(dir.file("none.lib")), nullptr); });
  EXPECT_EQ(errors, "Error - Could not open library file '" +
                        dir.file("none.lib") + "' for reading.\n");
}

TEST(Archive, HeaderNamesAreBoundedAndCut) {
  std::uint8_t header[kMemberHeaderSizeInBytes];
  Archive::setHeaderName(header, std::string(300, 'n'));
  EXPECT_EQ(header[255], '/');
  EXPECT_EQ(Archive::getHeaderName(header), std::string(255, 'n'));
  std::memset(header, 'q', sizeof header);
  EXPECT_EQ(Archive::getHeaderName(header), std::string(256, 'q'));
  Archive::setHeaderName(header, "abc");
  header[3] = ' ';
  EXPECT_EQ(Archive::getHeaderName(header),
            std::string(256, ' ').replace(0, 3, "abc"));
  Archive::setHeaderDate(header, 4000000000u);
  EXPECT_EQ(Archive::getHeaderDate(header), 4000000000u);
  EXPECT_EQ(header[267], 0);
  Archive::setHeaderSize(header, 123456789);
  EXPECT_EQ(header[277], 0);
  EXPECT_EQ(Archive::getHeaderSize(header), 123456789u);
  std::memset(header + 268, 0, 10);
  EXPECT_EQ(Archive::getHeaderSize(header), 0u);
}

TEST(Archive, RewriteKeepsStoredNamesAndLaysOutStaleMembers) {
  TempDir dir;
  std::string object = objectDefining("sym", 777);
  dir.write("x.lib", CoffBuilder::libraryBytes({{"a.b", object}}));
  std::unique_ptr<Archive> lib = Archive::make(dir.file("x.lib"));
  ASSERT_NE(lib, nullptr);
  // A member whose contents changed after reading no longer matches its
  // headers.
  lib->cMembers[0]->cRawData[".code"].append(Data(2));
  EXPECT_EQ(lib->cMembers[0]->isLaidOut(), 0);
  ASSERT_EQ(lib->write(), 1);
  std::string bytes = dir.read("x.lib");
  EXPECT_EQ(bytes.substr(8, 4), "a.b/");
  std::unique_ptr<Archive> back = Archive::make(dir.file("x.lib"));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->cMembers[0]->cRawData.at(".code").size(), 6u);
  EXPECT_EQ(back->cMembers[0]->cFileHdr.f_timdat, 777u);
  EXPECT_EQ(back->cMembers[0]->isLaidOut(), 1);
}

TEST(Archive, MemberNamesDropDirectoryAndObjectExtension) {
  Coff coff;
  struct Case {
    const char *fileName;
    const char *stored;
  } cases[] = {{"dir/sub/x.o", "x"}, {"Y.O", "Y"},       {"a.b", "a.b"},
               {"plain", "plain"},   {"d/a.b.o", "a.b"}, {"w\\in.o", "in"},
               {"x.oo", "x.oo"},     {"dir.o/x", "x"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fileName);
    coff.cFileName = c.fileName;
    EXPECT_EQ(Archive::memberName(coff), c.stored);
  }
}

// Names another librarian stored stay as they are; only an object added
// from a file is named by its base name. Matching keeps the base-name rule.
TEST(Archive, RewriteStoresNamesReadFromALibraryVerbatim) {
  TempDir dir;
  const char *const stored[] = {"x.o", "dir\\y", "z.O", "a.b", ""};
  std::vector<LibraryMember> members;
  for (const char *name : stored)
    members.push_back({name, objectDefining(std::string("s_") + name, 5)});
  dir.write("x.lib", CoffBuilder::libraryBytes(members));
  dir.write("sub/n.o", objectDefining("n", 6));
  std::unique_ptr<Archive> lib = Archive::make(dir.file("x.lib"));
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(Archive::memberName(*lib->cMembers[0]), "x");
  EXPECT_EQ(Archive::memberName(*lib->cMembers[1]), "y");
  lib->cMembers.push_back(Coff::make(dir.file("sub/n.o")));
  Archive copy(*lib);
  ASSERT_EQ(copy.write(), 1);

  std::unique_ptr<Archive> back = Archive::make(dir.file("x.lib"));
  ASSERT_NE(back, nullptr);
  Archive::Listing listing;
  ASSERT_TRUE(Archive::readListing(dir.file("x.lib"), listing));
  const std::vector<std::string> expected{"x.o", "dir\\y", "z.O",
                                          "a.b", "",       "n"};
  ASSERT_EQ(back->cMembers.size(), expected.size());
  ASSERT_EQ(listing.cEntries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(back->cMembers[i]->cFileName, expected[i]);
    EXPECT_EQ(listing.cEntries[i].cFileName, expected[i]);
  }
}

TEST(Archive, FailedRewriteLeavesTheOldLibraryIntact) {
  TempDir dir;
  std::string original =
      CoffBuilder::libraryBytes({{"m", objectDefining("s", 1)}});
  dir.write("x.lib", original);
  std::unique_ptr<Archive> lib = Archive::make(dir.file("x.lib"));
  ASSERT_NE(lib, nullptr);
  // More relocations than a section header can count: the member cannot
  // be written.
  Coff *member = lib->cMembers[0].get();
  member->cReloc[".code"].resize(70000);
  member->cScnHdr[".code"].s_nreloc = 0; // as preWrite would truncate it
  std::string errors = capturedErrors([&] { EXPECT_EQ(lib->write(), 0); });
  EXPECT_NE(errors.find("Error - Could not write library file '" +
                        dir.file("x.lib") + "'."),
            std::string::npos);
  EXPECT_EQ(dir.read("x.lib"), original);

  lib->cName = dir.file("missing/dir/x.lib");
  errors = capturedErrors([&] { EXPECT_EQ(lib->write(), 0); });
  EXPECT_EQ(errors, "Error - Could not open library file '" + lib->cName +
                        "' for writing.\n");
}

TEST(Archive, OldLayoutMemberIsStoredInTheCurrentLayout) {
  TempDir dir;
  dir.write("x.lib", CoffBuilder::libraryBytes({{"old", oldLayoutObject()}}));
  std::unique_ptr<Archive> lib;
  std::string errors =
      capturedErrors([&] { lib = Archive::make(dir.file("x.lib")); });
  EXPECT_NE(errors.find("missing optional file header."), std::string::npos);
  ASSERT_NE(lib, nullptr);
  ASSERT_EQ(lib->write(), 1);
  errors = capturedErrors([&] { lib = Archive::make(dir.file("x.lib")); });
  EXPECT_EQ(errors, "");
  ASSERT_NE(lib, nullptr);
  const Coff &member = *lib->cMembers.at(0);
  EXPECT_EQ(member.cFileHdr.f_opthdr, kOptHdrSizeInBytes);
  EXPECT_EQ(member.cFileHdr.f_timdat, 99u);
  EXPECT_EQ(member.cLineNum.at(".code").size(), 2u);
  EXPECT_EQ(lib->hasSymbol("a_long_symbol"), 1);
}

namespace {

// A library of count members "m0".."m<count-1>", each defining "s<i>";
// enough members that they are read on several threads.
std::vector<LibraryMember> manyMembers(std::size_t count) {
  std::vector<LibraryMember> members;
  for (std::size_t i = 0; i < count; ++i)
    members.push_back({"m" + std::to_string(i),
                       objectDefining("s" + std::to_string(i),
                                      static_cast<std::uint32_t>(i))});
  return members;
}

} // namespace

TEST(Archive, ManyMembersReportInLibraryOrderUpToTheFirstFailure) {
  TempDir dir;
  std::vector<LibraryMember> members = manyMembers(64);
  members[30].bytes[0] ^= 0x55; // no COFF magic: reading stops
  members[50].bytes[0] ^= 0x55; // never reached
  dir.write("x.lib", CoffBuilder::libraryBytes(members));
  const int errorsBefore = errorCount();
  std::unique_ptr<Archive> lib;
  std::string errors =
      capturedErrors([&] { lib = Archive::make(dir.file("x.lib")); });
  EXPECT_EQ(lib, nullptr);
  EXPECT_EQ(errors,
            "Error - Coff file 'm30' does not appear to be a valid COFF "
            "file.\n"
            "Error - Could not build member 'm30' in library file '" +
                dir.file("x.lib") + "'. \n");
  EXPECT_EQ(errorCount(), errorsBefore + 2);
}

// A size field that is no number leaves the member's length to its model;
// one that is a number frames the member, right or wrong.
TEST(Archive, MemberLengthsComeFromTheMembersWhereSizeFieldsSayNothing) {
  const std::string bytes = CoffBuilder::libraryBytes(manyMembers(40));
  // Member 5's header.
  std::size_t at = kArchiveMagicSizeInBytes;
  for (int i = 0; i < 5; ++i)
    at += kMemberHeaderSizeInBytes +
          Archive::getHeaderSize(
              reinterpret_cast<const std::uint8_t *>(bytes.data() + at));
  const std::uint32_t size = Archive::getHeaderSize(
      reinterpret_cast<const std::uint8_t *>(bytes.data() + at));
  const struct {
    const char *what;
    std::string field; // the 10 bytes of member 5's size field
    std::string errors;
  } cases[] = {
      {"no digits", std::string("junk\0\0\0\0\0\0", 10), ""},
      {"digits then junk", std::to_string(size) + "lx" + std::string(8, '\0'),
       ""},
      {"beyond the file", std::string("999999999\0", 10), ""},
      // The next header is read one byte late: its member is refused.
      {"one byte too many", std::to_string(size + 1) + std::string(9, '\0'),
       "Error - Coff file '6' does not appear to be a valid COFF file.\n"
       "Error - Could not build member '6' in library file '@'. \n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string patched = bytes;
    patched.replace(at + 268, 10, c.field.substr(0, 10));
    dir.write("x.lib", patched);
    std::unique_ptr<Archive> lib;
    std::string errors =
        capturedErrors([&] { lib = Archive::make(dir.file("x.lib")); });
    std::string expected = c.errors;
    if (!expected.empty())
      expected.replace(expected.find('@'), 1, dir.file("x.lib"));
    EXPECT_EQ(errors, expected);
    if (!expected.empty()) {
      EXPECT_EQ(lib, nullptr);
      continue;
    }
    ASSERT_NE(lib, nullptr);
    ASSERT_EQ(lib->cMembers.size(), 40u);
    for (std::size_t i = 0; i < 40; ++i)
      EXPECT_EQ(lib->cMembers[i]->cFileName, "m" + std::to_string(i));
    EXPECT_EQ(lib->cSymbols.size(), 40u);
  }
}

TEST(Archive, TakeMemberMovesItOutOnceAndKeepsTheIndex) {
  TempDir dir;
  dir.write("x.lib",
            CoffBuilder::libraryBytes(
                {{"one", objectDefining("first", 1, "shared_long_name")},
                 {"two", objectDefining("second", 2)}}));
  std::unique_ptr<Archive> lib = Archive::make(dir.file("x.lib"));
  ASSERT_NE(lib, nullptr);
  const Coff *inLibrary = lib->cMembers[0].get();
  std::unique_ptr<Coff> taken = lib->takeMember("shared_long_name");
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken.get(), inLibrary); // moved, not copied
  EXPECT_EQ(lib->cMembers[0], nullptr);
  EXPECT_EQ(lib->cSymbols.at("first"), taken.get());
  // The member's other name finds nothing left to take.
  EXPECT_EQ(lib->takeMember("first"), nullptr);
  EXPECT_EQ(lib->takeMember("nothing"), nullptr);
  std::unique_ptr<Coff> second = lib->takeMember("second");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->cFileName, "two");
  // A library with members taken still copies and rebuilds its index.
  Archive copy(*lib);
  EXPECT_EQ(copy.cMembers.size(), 2u);
  EXPECT_EQ(copy.cSymbols.size(), 0u);
}

TEST(Archive, RepeatedDefinitionsAreReportedInMemberOrder) {
  TempDir dir;
  dir.write("x.lib", CoffBuilder::libraryBytes(
                         {{"one", objectDefining("zeta_long_name", 1, "alpha")},
                          {"two", objectDefining("zeta_long_name", 2)},
                          {"three", objectDefining("alpha", 3, "beta")}}));
  std::unique_ptr<Archive> lib;
  std::string errors =
      capturedErrors([&] { lib = Archive::make(dir.file("x.lib")); });
  EXPECT_EQ(errors, "Error - Symbol 'zeta_long_name' has multiple external "
                    "definitions.\n"
                    "Error - Symbol 'alpha' has multiple external "
                    "definitions.\n");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(lib->cSymbols.size(), 3u);
  EXPECT_EQ(lib->cSymbols.at("alpha"), lib->cMembers[0].get());
  EXPECT_EQ(lib->cSymbols.at("zeta_long_name"), lib->cMembers[0].get());
  EXPECT_EQ(lib->cSymbols.at("beta"), lib->cMembers[2].get());
}

TEST(ArchiveDeathTest, MissingSymbolNameEndsTheProgramAfterEarlierRepeats) {
  std::unique_ptr<Coff> broken =
      makeFromBytes(objectDefining("a_long_symbol_name", 3), "broken");
  ASSERT_NE(broken, nullptr);
  broken->cStringTbl.clear(); // the long name now points nowhere
  TempDir dir;
  dir.write("x.lib",
            CoffBuilder::libraryBytes({{"one", objectDefining("twice", 1)},
                                       {"two", objectDefining("twice", 2)},
                                       {"three", writtenBytes(*broken)}}));
  for (auto read : {&Archive::make, &Archive::makeForLink})
    EXPECT_EXIT(read(dir.file("x.lib")), testing::ExitedWithCode(255),
                "Error - Symbol 'twice' has multiple external definitions.\n"
                "Error - Unable to find symbol name in string table.\n");
}

namespace {

// What a reading of a library gives: its messages and, per member, the
// stored name, time stamp and length.
struct LibraryView {
  std::string errors;
  bool read = false;
  std::vector<std::string> members;
  std::vector<std::string> index; // "name member" in name order
};

std::string memberText(const Coff &member) {
  return member.cFileName + " " + std::to_string(member.cFileHdr.f_timdat) +
         " " + std::to_string(member.size());
}

LibraryView viewThroughModels(const std::string &path) {
  LibraryView view;
  std::unique_ptr<Archive> lib;
  view.errors = capturedErrors([&] { lib = Archive::make(path); });
  view.read = lib != nullptr;
  if (lib) {
    for (const auto &member : lib->cMembers)
      view.members.push_back(memberText(*member));
    for (const auto &entry : lib->cSymbols)
      view.index.push_back(entry.first + " " + entry.second->cFileName);
  }
  return view;
}

// A link's read, with every member it left unbuilt built afterwards.
LibraryView viewForLink(const std::string &path) {
  LibraryView view;
  std::unique_ptr<Archive> lib;
  view.errors = capturedErrors([&] { lib = Archive::makeForLink(path); });
  view.read = lib != nullptr;
  if (!lib)
    return view;
  for (const Archive::IndexEntry &entry : lib->linkIndex())
    view.index.push_back(std::string(entry.cName) + " " +
                         std::to_string(entry.cMember));
  // A copy builds what is still unbuilt (and indexes it again).
  std::vector<std::string> copied;
  capturedErrors([&] {
    const Archive copy(*lib);
    for (const auto &member : copy.cMembers)
      copied.push_back(memberText(*member));
  });
  for (std::size_t at = 0; at < lib->cMembers.size(); ++at) {
    if (lib->unbuilt(at) != nullptr) {
      EXPECT_TRUE(lib->buildMember(at));
    }
    EXPECT_EQ(lib->unbuilt(at), nullptr);
    view.members.push_back(memberText(*lib->cMembers[at]));
  }
  for (std::string &entry : view.index) {
    const std::size_t blank = entry.find(' ');
    const std::size_t at = std::stoul(entry.substr(blank + 1));
    entry = entry.substr(0, blank + 1) + lib->cMembers[at]->cFileName;
  }
  EXPECT_EQ(copied, view.members);
  return view;
}

LibraryView viewThroughListing(const std::string &path) {
  LibraryView view;
  Archive::Listing listing;
  view.errors =
      capturedErrors([&] { view.read = Archive::readListing(path, listing); });
  for (const Archive::Entry &entry : listing.cEntries)
    view.members.push_back(std::string(entry.cFileName) + " " +
                           std::to_string(entry.cTimeStamp) + " " +
                           std::to_string(entry.cSizeInBytes));
  return view;
}

std::string twoSectionObject(const std::string &symbol, std::uint32_t stamp) {
  return CoffBuilder()
      .processor(0x2550)
      .timeStamp(stamp)
      .section(".code", kScnTypeCode)
      .words({1, 2, 3})
      .reloc(0, "elsewhere", 1)
      .line(7, 0)
      .section(".a_long_section_name", kScnTypeIdata)
      .bytes({1, 2, 3, 4, 5})
      .line(8, 2)
      .section(".u", kScnTypeUdata)
      .zeros(4)
      .global(symbol + "_with_a_long_name", 0, ".code")
      .global(symbol, 2, ".a_long_section_name")
      .external("elsewhere")
      .fileBytes();
}

// The second section header takes the first one's name.
std::string withRepeatedSectionName(std::string object) {
  const std::size_t second = 20 + 16 + 40;
  object.replace(second, 8, std::string(".code\0\0\0", 8));
  return object;
}

} // namespace

namespace {

struct AgreementCase {
  const char *name;
  std::vector<LibraryMember> members;
  // Written over the first member's size field when given: one that is no
  // number leaves the member framed by its model.
  std::string firstSizeField = {};
};

std::string libraryOf(const AgreementCase &c) {
  std::string library = CoffBuilder::libraryBytes(c.members);
  if (!c.firstSizeField.empty()) {
    std::string field = c.firstSizeField;
    field.resize(10, '\0');
    library.replace(8 + 268, field.size(), field);
  }
  return library;
}

// Libraries whose members a reading without models could get wrong.
std::vector<AgreementCase> agreementCases() {
  const std::string plain = twoSectionObject("p", 11);
  std::string emptyFirst = twoSectionObject("e", 12);
  patch32(emptyFirst, 20 + 16 + 16, 0); // .code has no contents left
  // Its section names must then be short: the string table is looked for
  // after the last section block.
  std::string noSymbols = objectDefining("n", 13);
  patch32(noSymbols, 12, 0);
  std::string badSymbols = twoSectionObject("b", 14);
  patch32(badSymbols, 8, 0x7FFFFFF0);
  // A reference whose long name is missing from the string table: the
  // object reads, but its names do not.
  std::string unnamedReference = twoSectionObject("u", 15);
  std::unique_ptr<Coff> model = makeFromBytes(unnamedReference, "u");
  for (auto entry = model->cStringTbl.begin(); entry != model->cStringTbl.end();
       ++entry)
    if (entry->second == "elsewhere") {
      model->cStringTbl.erase(entry);
      break;
    }
  unnamedReference = writtenBytes(*model);
  // Runs of members are read side by side: names repeat across them, in
  // no order, long and short.
  std::vector<LibraryMember> manyRepeats;
  for (unsigned i = 0; i < 200; ++i)
    manyRepeats.push_back(
        {"m" + std::to_string(i),
         objectDefining("name_" + std::to_string((i * 37) % 90), i,
                        "n" + std::to_string(i % 150))});
  return {
      {"plain", {{"a", plain}, {"b", twoSectionObject("q", 1)}}},
      {"repeats across many members", manyRepeats},
      {"repeated section name", {{"r", withRepeatedSectionName(plain)}}},
      {"section without contents", {{"e", emptyFirst}}},
      {"no symbol table", {{"n", noSymbols}}},
      {"repeated definitions", {{"a", plain}, {"b", plain}, {"c", plain}}},
      {"old layout", {{"a", plain}, {"old", oldLayoutObject()}}},
      {"old layout, then another",
       {{"old", oldLayoutObject(40)}, {"a", plain}}},
      {"padded strings, then another",
       {{"pad", withPaddedStringTable(plain, 2)}, {"a", plain}}},
      {"unreadable member", {{"a", plain}, {"b", badSymbols}}},
      {"unnamed reference", {{"a", plain}, {"u", unnamedReference}}},
      // Members after one framed by its model are read in their turn.
      {"size field no number, then another",
       {{"a", plain}, {"b", twoSectionObject("q", 1)}},
       "1ld"},
      {"size field no number, then a repeat",
       {{"a", plain}, {"b", plain}},
       "1ld"},
  };
}

} // namespace

// Listing reads no member's model; whatever the members hold, it must see
// the same lengths and give the same messages as the full read.
TEST(Archive, ListingAgreesWithTheFullRead) {
  const std::vector<AgreementCase> cases = agreementCases();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("x.lib", libraryOf(c));
    const LibraryView full = viewThroughModels(dir.file("x.lib"));
    const LibraryView listed = viewThroughListing(dir.file("x.lib"));
    EXPECT_EQ(listed.errors, full.errors);
    EXPECT_EQ(listed.read, full.read);
    if (full.read) {
      EXPECT_EQ(listed.members, full.members);
    }
    // Every member is found, whatever length its model lays out to.
    EXPECT_EQ(full.members.size(), full.read ? c.members.size() : 0u);
  }
}

// A link's read builds members only when they are taken; whatever the
// members hold, it must give the full read's messages, index and models.
TEST(Archive, LinkReadAgreesWithTheFullRead) {
  for (const AgreementCase &c : agreementCases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("x.lib", libraryOf(c));
    const LibraryView full = viewThroughModels(dir.file("x.lib"));
    const LibraryView linked = viewForLink(dir.file("x.lib"));
    EXPECT_EQ(linked.errors, full.errors);
    EXPECT_EQ(linked.read, full.read);
    EXPECT_EQ(linked.members, full.members);
    EXPECT_EQ(linked.index, full.index);
  }
}
