#include "SafeFile.h"
#include "TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int entryCount(const std::string &dir) {
  int count = 0;
  DIR *d = opendir(dir.c_str());
  while (dirent *e = readdir(d))
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
      ++count;
  closedir(d);
  return count;
}

TEST(SafeOutputFile, ReplacesTargetOnlyOnCommit) {
  TempDir tmp;
  tmp.write("out.bin", "old");
  {
    SafeOutputFile file(tmp.file("out.bin"));
    ASSERT_TRUE(file.open());
    EXPECT_TRUE(file.write("new contents"));
    EXPECT_EQ(tmp.read("out.bin"), "old"); // not yet
    EXPECT_TRUE(file.commit());
  }
  EXPECT_EQ(tmp.read("out.bin"), "new contents");
  EXPECT_EQ(entryCount(tmp.path()), 1); // no temporary left
}

TEST(SafeOutputFile, AbandonedWriteLeavesOldFileAndNoTemporary) {
  TempDir tmp;
  tmp.write("out.bin", "old");
  {
    SafeOutputFile file(tmp.file("out.bin"));
    ASSERT_TRUE(file.open());
    file.write("partial");
  }
  EXPECT_EQ(tmp.read("out.bin"), "old");
  EXPECT_EQ(entryCount(tmp.path()), 1);
}

// A fatal error ends a program through exit() while an output is still
// being written; its temporary must not stay behind.
TEST(SafeOutputFile, ExitWhileWritingLeavesOldFileAndNoTemporary) {
  TempDir tmp;
  tmp.write("out.bin", "old");
  EXPECT_EXIT(
      {
        SafeOutputFile committed(tmp.file("other.bin"));
        if (committed.open() && committed.write("kept"))
          committed.commit();
        SafeOutputFile file(tmp.file("out.bin"));
        if (file.open())
          file.write("partial");
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(tmp.read("out.bin"), "old");
  EXPECT_EQ(tmp.read("other.bin"), "kept");
  EXPECT_EQ(entryCount(tmp.path()), 2);
}

// A replaced file of some size is let go of beside the program's own work;
// what other names reach must stay as it was.
TEST(SafeOutputFile, ReplacesALargeFileAndLeavesItsOtherNamesAlone) {
  const std::string old(3 << 20, 'o');
  enum class Other { None, HardLink, SymLinkTarget };
  for (const Other other :
       {Other::None, Other::HardLink, Other::SymLinkTarget}) {
    SCOPED_TRACE(static_cast<int>(other));
    TempDir tmp;
    std::string target = tmp.file("out.bin");
    tmp.write("out.bin", old);
    if (other == Other::HardLink) {
      ASSERT_EQ(link(target.c_str(), tmp.file("kept.bin").c_str()), 0);
    }
    if (other == Other::SymLinkTarget) {
      ASSERT_EQ(rename(target.c_str(), tmp.file("kept.bin").c_str()), 0);
      ASSERT_EQ(symlink("kept.bin", target.c_str()), 0);
    }
    ASSERT_TRUE(writeFileAtomically(target, "new contents"));
    EXPECT_EQ(tmp.read("out.bin"), "new contents");
    if (other != Other::None) {
      EXPECT_TRUE(tmp.read("kept.bin") == old);
    }
    EXPECT_EQ(entryCount(tmp.path()), other == Other::None ? 1 : 2);
  }
}

TEST(SafeOutputFile, FailsInMissingOrUnwritableDirectory) {
  TempDir tmp;
  SafeOutputFile missing(tmp.file("no/such/dir/out.bin"));
  EXPECT_FALSE(missing.open());
  EXPECT_FALSE(missing.commit());

  if (geteuid() == 0)
    GTEST_SKIP() << "root ignores directory permissions";
  mkdir(tmp.file("locked").c_str(), 0500);
  EXPECT_FALSE(writeFileAtomically(tmp.file("locked/out.bin"), "x"));
}

TEST(SafeOutputFile, RefusesAReadOnlyTarget) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root may write any file";
  TempDir tmp;
  tmp.write("out.cod", "old");
  chmod(tmp.file("out.cod").c_str(), 0444);
  SafeOutputFile file(tmp.file("out.cod"));
  EXPECT_FALSE(file.open());
  EXPECT_EQ(tmp.read("out.cod"), "old");
  EXPECT_EQ(entryCount(tmp.path()), 1);
}

TEST(SafeOutputFile, FailedWriteIsReportedAtCommit) {
  TempDir tmp;
  tmp.write("out.bin", "old");
  SafeOutputFile file(tmp.file("out.bin"));
  ASSERT_TRUE(file.open());
  // Point the temporary's descriptor at /dev/full, which refuses every
  // write, and write more than the stdio buffer holds.
  int devFull = open("/dev/full", O_WRONLY);
  if (devFull < 0)
    GTEST_SKIP() << "no /dev/full";
  dup2(devFull, fileno(file.stream()));
  close(devFull);
  file.write(std::string(1 << 16, 'x'));
  EXPECT_FALSE(file.commit());
  EXPECT_EQ(tmp.read("out.bin"), "old");
  EXPECT_EQ(entryCount(tmp.path()), 1);
}

} // namespace
