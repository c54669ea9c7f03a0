#include "SafeFile.h"
#include "TargetKinds.h"
#include "TempDir.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int entryCount(const std::string &dir) {
  return static_cast<int>(fileNamesIn(dir).size());
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
// what a hard link reaches must stay as it was, while a symbolic link
// leads to the file to replace.
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
    if (other == Other::HardLink) {
      EXPECT_TRUE(tmp.read("kept.bin") == old);
    }
    if (other == Other::SymLinkTarget) {
      struct stat link;
      ASSERT_EQ(lstat(target.c_str(), &link), 0);
      EXPECT_TRUE(S_ISLNK(link.st_mode));
    }
    EXPECT_EQ(entryCount(tmp.path()), other == Other::None ? 1 : 2);
  }
}

mode_t currentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Every kind of target is written as a plain create would write it, with
// no temporary left beside it or beside the file a link names.
class SafeOutputTarget : public ::testing::TestWithParam<TargetKind> {};

TEST_P(SafeOutputTarget, WritesAsAPlainCreateWouldAndLeavesNoTemporary) {
  const TargetKind kind = GetParam();
  TempDir tmp;
  const std::string target = makeTarget(tmp, kind, "out.bin");
  if (target.empty())
    GTEST_SKIP() << "needs root to make a device node";
  const std::string landing = landingName(kind, target);
  const std::set<std::string> before = fileNamesIn(tmp.path());
  std::unique_ptr<FifoReader> reader;
  if (kind == TargetKind::Fifo)
    reader = std::make_unique<FifoReader>(tmp.file(target));

  SafeOutputFile file(tmp.file(target));
  const bool opened = file.open();
  const int openError = errno;
  const bool refused = plainCreateRefuses(kind);
  ASSERT_EQ(opened, !refused);
  if (opened) {
    EXPECT_TRUE(file.write("new contents"));
    EXPECT_TRUE(file.commit());
  }

  struct stat status;
  ASSERT_EQ(stat(tmp.file(landing).c_str(), &status), 0);
  switch (kind) {
  case TargetKind::Device:
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    break;
  case TargetKind::Fifo:
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(reader->finish(), "new contents");
    break;
  case TargetKind::Directory:
    EXPECT_EQ(openError, EISDIR);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    break;
  default:
    EXPECT_EQ(tmp.read(landing), refused ? kOldTargetBytes : "new contents");
    if (!refused && kind != TargetKind::ReadOnly) {
      EXPECT_EQ(status.st_mode & 0777, 0666 & ~currentUmask());
    }
  }
  if (kind == TargetKind::SymLink) {
    ASSERT_EQ(lstat(tmp.file(target).c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(fileNamesIn(tmp.file("real")), std::set<std::string>{target});
  }
  std::set<std::string> expected = before;
  expected.insert(target);
  EXPECT_EQ(fileNamesIn(tmp.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, SafeOutputTarget,
                         ::testing::ValuesIn(allTargetKinds()),
                         [](const ::testing::TestParamInfo<TargetKind> &info) {
                           return std::string(targetKindName(info.param));
                         });

// The mode comes from the umask of the moment, on every file, also when
// two threads create files at once.
TEST(SafeOutputFile, GivesEveryFileTheModeTheUmaskAllows) {
  TempDir tmp;
  const mode_t saved = umask(027);
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&tmp, t] {
      for (int i = 0; i < 50; ++i)
        writeFileAtomically(
            tmp.file(std::to_string(t) + "-" + std::to_string(i)), "x");
    });
  for (std::thread &writer : writers)
    writer.join();
  EXPECT_EQ(currentUmask(), 027);
  umask(saved);
  int wrongMode = 0;
  for (const std::string &name : fileNamesIn(tmp.path())) {
    struct stat status;
    if (stat(tmp.file(name).c_str(), &status) != 0 ||
        (status.st_mode & 0777) != 0640)
      ++wrongMode;
  }
  EXPECT_EQ(fileNamesIn(tmp.path()).size(), 200u);
  EXPECT_EQ(wrongMode, 0);
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
