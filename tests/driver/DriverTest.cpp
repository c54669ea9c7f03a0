// Black-box tests of the driver: stub children first on PATH record the
// argument words they receive, so the tests see exactly what each child got
// and in which order the children ran.
#include "ProcessRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Words = std::vector<std::string>;

// One recorded call as the stubs log it: a header line, then one argument
// per line.
std::string call(const std::string &program, const Words &args) {
  std::string text = "== " + program + "\n";
  for (const std::string &arg : args)
    text += arg + "\n";
  return text;
}

class DriverRun : public ::testing::Test {
protected:
  // A stub that logs its arguments, then exits with the code, or kills
  // itself with SIGKILL when the code is negative.
  void addStub(const std::string &name, int exitCode) {
    std::string ending = exitCode < 0
                             ? "kill -s KILL $$\n"
                             : "exit " + std::to_string(exitCode) + "\n";
    cDir.write(
        "bin/" + name,
        "#!/bin/sh\n{ echo '== " + name +
            "'; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } >> '" +
            cDir.file("calls.log") + "'\n" + ending);
    chmod(cDir.file("bin/" + name).c_str(), 0755);
  }

  void addAllStubs() {
    addStub("_orvane", 0);
    addStub("cirrow", 0);
    addStub("pelmat", 0);
  }

  // PATH holds only the stub directory, so no installed program interferes.
  ProcessResult runDriver(const Words &args) {
    Words envArgs{"PATH=" + cDir.file("bin"), programPath("orvane")};
    envArgs.insert(envArgs.end(), args.begin(), args.end());
    ProcessOptions options;
    options.workDir = cDir.path();
    return runProcess("/usr/bin/env", envArgs, options);
  }

  std::string calls() const { return cDir.read("calls.log"); }

  TempDir cDir;
};

struct OptionCase {
  const char *name;
  Words args;
  Words codArgs;
  Words hexArgs;
};

TEST_F(DriverRun, PassesOptionsToEachChildAsSeparateWords) {
  const OptionCase cases[] = {
      {"no /o gives a.out", {"a.o", "x.lkr"}, {"a.out"}, {"a.out"}},
      {"/o with separate value", {"/o", "out.cof"}, {"out.cof"}, {"out.cof"}},
      {"/o with joined value", {"/oout.cof"}, {"out.cof"}, {"out.cof"}},
      {"dash and upper-case letter",
       {"-O", "out.cof"},
       {"out.cof"},
       {"out.cof"}},
      {"later /o wins",
       {"/o", "one.cof", "/otwo.cof"},
       {"two.cof"},
       {"two.cof"}},
      {"/q /v /n 60 in fixed order",
       {"/q", "/v", "/n", "60", "/o", "out.cof"},
       {"/v", "/q", "/n", "60", "out.cof"},
       {"/v", "/q", "out.cof"}},
      {"/d only to the COD converter", {"/d"}, {"/d", "a.out"}, {"a.out"}},
      {"every option joined",
       {"/oout.cof", "/aINHX32", "/n60", "/d", "/q", "/v"},
       {"/v", "/q", "/d", "/n", "60", "out.cof"},
       {"/v", "/q", "/a", "INHX32", "out.cof"}},
      {"/n last has an empty page length",
       {"/o", "x.cof", "/n"},
       {"/n", "x.cof"},
       {"x.cof"}},
      {"upper-case A keeps the value as typed",
       {"/A", "inhx8m"},
       {"a.out"},
       {"/a", "inhx8m", "a.out"}},
      {"/a last has an empty format", {"/a"}, {"a.out"}, {"/a", "a.out"}},
      {"absolute path is a file, not /o",
       {"/opt/x.o", "/o", "y.cof"},
       {"y.cof"},
       {"y.cof"}},
      {"other switches stay with the linker",
       {"/m", "map.map", "/x", "-"},
       {"a.out"},
       {"a.out"}},
      {"a value argument is not read as a switch",
       {"/o", "/q"},
       {"/q"},
       {"/q"}},
  };
  addAllStubs();
  for (const OptionCase &c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(cDir.file("calls.log").c_str());
    ProcessResult result = runDriver(c.args);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(calls(), call("_orvane", c.args) + call("cirrow", c.codArgs) +
                           call("pelmat", c.hexArgs));
  }
}

TEST_F(DriverRun, KeepsArgumentsWithBlanksAndShellCharactersWhole) {
  addAllStubs();
  const std::string out = "my out; $(touch x) `y` 'q' \"z\" *.cof";
  ProcessResult result = runDriver({"a b.o", "/o", out, "/n", " 6 0 "});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(calls(), call("_orvane", {"a b.o", "/o", out, "/n", " 6 0 "}) +
                         call("cirrow", {"/n", " 6 0 ", out}) +
                         call("pelmat", {out}));
  EXPECT_FALSE(cDir.exists("x"));
}

struct ExitCase {
  const char *name;
  int linkerCode, codCode, hexCode; // negative: killed by a signal
  int driverCode;
  Words ran;
};

TEST_F(DriverRun, RunsEachChildOnlyAfterSuccessAndEndsWithLastStatus) {
  const ExitCase cases[] = {
      {"all succeed", 0, 0, 0, 0, {"_orvane", "cirrow", "pelmat"}},
      {"linker fails", 1, 0, 0, 1, {"_orvane"}},
      {"linker help screen", 255, 0, 0, 255, {"_orvane"}},
      {"COD converter fails", 0, 3, 0, 3, {"_orvane", "cirrow"}},
      {"HEX converter fails", 0, 0, 7, 7, {"_orvane", "cirrow", "pelmat"}},
      {"HEX converter fatal", 0, 0, 255, 255, {"_orvane", "cirrow", "pelmat"}},
      {"linker killed", -1, 0, 0, 1, {"_orvane"}},
      {"COD converter killed", 0, -1, 0, 1, {"_orvane", "cirrow"}},
      {"HEX converter killed", 0, 0, -1, 1, {"_orvane", "cirrow", "pelmat"}},
  };
  for (const ExitCase &c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(cDir.file("calls.log").c_str());
    addStub("_orvane", c.linkerCode);
    addStub("cirrow", c.codCode);
    addStub("pelmat", c.hexCode);
    ProcessResult result = runDriver({"x.o"});
    EXPECT_EQ(result.exitCode, c.driverCode);
    EXPECT_EQ(result.err, "");
    std::string expected;
    for (const std::string &program : c.ran)
      expected +=
          call(program, program == "_orvane" ? Words{"x.o"} : Words{"a.out"});
    EXPECT_EQ(calls(), expected);
  }
}

TEST_F(DriverRun, ReportsChildThatCannotBeStarted) {
  const char *const programs[] = {"_orvane", "cirrow", "pelmat"};
  for (int missing = 0; missing < 3; ++missing) {
    for (bool present : {false, true}) {
      SCOPED_TRACE(std::string(programs[missing]) +
                   (present ? " not executable" : " missing"));
      std::remove(cDir.file("calls.log").c_str());
      addAllStubs();
      const std::string stub =
          cDir.file(std::string("bin/") + programs[missing]);
      if (present)
        chmod(stub.c_str(), 0644);
      else
        std::remove(stub.c_str());
      ProcessResult result = runDriver({"x.o"});
      EXPECT_EQ(result.exitCode, 1);
      EXPECT_EQ(
          result.err,
          std::string("exec error for ") + programs[missing] + ": " +
              (present ? "Permission denied" : "No such file or directory") +
              "\n");
      std::string expected;
      for (int i = 0; i < missing; ++i)
        expected += call(programs[i], i == 0 ? Words{"x.o"} : Words{"a.out"});
      EXPECT_EQ(calls(), expected);
    }
  }
}

} // namespace
