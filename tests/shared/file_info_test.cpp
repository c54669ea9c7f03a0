#include "FileInfo.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(FileInfo, SplitsDirectoryBaseNameAndExtension) {
  FileInfo f("dir/sub/x.o");
  EXPECT_EQ(f.path(), "dir/sub/");
  EXPECT_EQ(f.name(), "x.o");
  EXPECT_EQ(f.baseName(), "x");
  EXPECT_EQ(f.ext(), ".o");
  EXPECT_EQ(f.hasPath(), 1);
  EXPECT_EQ(f.fullName(), "dir/sub//x.o");
}

TEST(FileInfo, BackslashSeparatesToo) {
  FileInfo f("lib\\util.lib");
  EXPECT_EQ(f.path(), "lib\\");
  EXPECT_EQ(f.name(), "util.lib");
  EXPECT_EQ(f.fullName(), "lib\\/util.lib");
}

TEST(FileInfo, ExtensionStartsAtLastDotOfLastComponent) {
  FileInfo twoDots("a.b.o");
  EXPECT_EQ(twoDots.baseName(), "a.b");
  EXPECT_EQ(twoDots.ext(), ".o");

  FileInfo dottedDir("v1.2/prog");
  EXPECT_EQ(dottedDir.baseName(), "prog");
  EXPECT_EQ(dottedDir.ext(), "");
}

TEST(FileInfo, BareNamesAndEmptyBaseNames) {
  FileInfo bare("x");
  EXPECT_EQ(bare.name(), "x");
  EXPECT_EQ(bare.ext(), "");
  EXPECT_EQ(bare.hasPath(), 0);
  EXPECT_EQ(bare.pathExists(), 0);
  EXPECT_EQ(bare.fullName(), "/x");

  FileInfo onlyExt(".o");
  EXPECT_EQ(onlyExt.baseName(), "");
  EXPECT_EQ(onlyExt.ext(), ".o");
  EXPECT_EQ(onlyExt.hasName(), 0);
  EXPECT_EQ(onlyExt.fileExists(), 0);
}

TEST(FileInfo, LongDirectoryIsKeptWhole) {
  const std::string dir(300, 'd');
  FileInfo f(dir + "/x.o");
  EXPECT_EQ(f.path(), dir + "/");
  EXPECT_EQ(f.name(), "x.o");
}

TEST(FileInfo, AsksTheFileSystem) {
  TempDir tmp;
  tmp.write("sub/a.o", "x");
  FileInfo present(tmp.file("sub/a.o"));
  EXPECT_EQ(present.pathExists(), 1);
  EXPECT_EQ(present.fileExists(), 1);

  FileInfo missing(tmp.file("sub/b.o"));
  EXPECT_EQ(missing.pathExists(), 1);
  EXPECT_EQ(missing.fileExists(), 0);

  FileInfo noDir(tmp.file("nodir/a.o"));
  EXPECT_EQ(noDir.pathExists(), 0);

  // The access test is true for directories as well.
  EXPECT_EQ(FileInfo(tmp.file("sub")).fileExists(), 1);
  EXPECT_EQ(DirInfo(tmp.file("sub")).dirExists(), 1);
  EXPECT_EQ(DirInfo(tmp.file("sub/a.o")).dirExists(), 0);
}

} // namespace
