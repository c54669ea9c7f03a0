// The Archiver's own contract: one command per run, and its dump.
#include "Archiver.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(Archiver, TakesOnlyTheFirstCommand) {
  Archiver archiver;
  EXPECT_EQ(archiver.run(), 0); // nothing to do is a failure
  EXPECT_EQ(archiver.setCommand(kCmdDelete, "x.lib", {"a.o", "d/b.o"}), 1);
  EXPECT_EQ(archiver.setCommand(kCmdCreate, "y.lib", {}), 0);
  EXPECT_EQ(archiver.cCmd, kCmdDelete);
  EXPECT_EQ(archiver.cArchive, "x.lib");
  EXPECT_EQ(archiver.cMembers, (std::vector<std::string>{"a.o", "d/b.o"}));
}

TEST(Archiver, DumpsItsCommandAndNames) {
  Archiver archiver;
  std::ostringstream before;
  archiver.print(before);
  EXPECT_EQ(before.str(), "Archiver:\n  cCmd=undefined\n  cArchive=\n"
                          "  cMembers=\n  cHasCmd=0\n");
  archiver.setCommand(kCmdReplace, "x.lib", {"a.o", "d/b.o"});
  std::ostringstream after;
  archiver.print(after);
  EXPECT_EQ(after.str(), "Archiver:\n  cCmd=cmdReplace\n  cArchive=x.lib\n"
                         "  cMembers=\n    a.o\n    d/b.o\n  cHasCmd=1\n");
}
