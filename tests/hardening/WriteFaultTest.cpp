// Failed writes: every program run with a file-size limit that makes its
// writes fail part way, or with a target it cannot write, must exit nonzero
// with an "Error - " line, and every output must be either left exactly as
// it was or written whole.
#include "CoffBuilder.h"
#include "ProcessRunner.h"
#include "TargetKinds.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace {

const char *const kCommandFile = "CODEPAGE NAME=page0 START=0x0 END=0x7FF\n"
                                 "DATABANK NAME=gpr0 START=0x20 END=0x6F\n";

// Enough code, symbols and line numbers that every output is well over a
// hundred bytes.
std::string object(const std::string &prefix) {
  CoffBuilder builder;
  builder.processor(0x1055).section(".code_" + prefix, kScnTypeCode);
  std::vector<std::uint16_t> words;
  for (std::uint16_t i = 0; i < 96; ++i)
    words.push_back(std::uint16_t(0x3000 | i));
  builder.words(words);
  for (std::uint16_t i = 0; i < 24; ++i)
    builder.line(std::uint16_t(10 + i), 4u * i);
  builder.section(".udata_" + prefix, kScnTypeUdata).zeros(4);
  builder.fileSymbol(prefix + "_source.asm");
  builder.global(prefix + "_entry", 0, ".code_" + prefix);
  builder.global(prefix + "_variable", 0, ".udata_" + prefix);
  return builder.fileBytes();
}

// The inputs every case may use: objects, a command file, a library and a
// linked file.
void writeInputs(const TempDir &dir) {
  dir.write("t.o", object("t"));
  dir.write("u.o", object("u"));
  dir.write("t.lkr", kCommandFile);
  dir.write("ab.lib", CoffBuilder::libraryBytes(
                          {{"a", object("a")}, {"b", object("b")}}));
  ProcessOptions options;
  options.workDir = dir.path();
  const ProcessResult linked = runProcess(
      programPath("_orvane"), {"t.o", "t.lkr", "/o", "linked.cof"}, options);
  ASSERT_EQ(linked.exitCode, 0) << linked.out << linked.err;
}

// A failed link writes an error map, whole, in place of the map.
const char *const kErrorMapStart =
    "ORVANE 2.40.00, Linker\nLinker Error Map File";

// The driver finds the other programs on the PATH.
std::string programDir() {
  const std::string path = programPath("orvane");
  return path.substr(0, path.rfind('/'));
}

struct WriteCase {
  const char *what;
  std::string program;
  std::vector<std::string> args;
  std::vector<std::string> outputs;
};

const std::vector<WriteCase> &writeCases() {
  static const std::vector<WriteCase> cases = {
      {"linker",
       "_orvane",
       {"t.o", "t.lkr", "/o", "t.out", "/m", "t.map"},
       {"t.out", "t.map"}},
      {"HEX converter", "pelmat", {"linked.cof"}, {"linked.hex"}},
      {"COD converter", "cirrow", {"linked.cof"}, {"linked.cod", "linked.lst"}},
      {"librarian creating",
       "tessil",
       {"/c", "new.lib", "t.o", "u.o"},
       {"new.lib"}},
      {"librarian adding", "tessil", {"/r", "ab.lib", "t.o"}, {"ab.lib"}},
      {"librarian deleting", "tessil", {"/d", "ab.lib", "a.o"}, {"ab.lib"}},
      {"librarian extracting", "tessil", {"/x", "ab.lib"}, {"a", "b"}},
      {"driver",
       "orvane",
       {"t.o", "t.lkr", "/o", "d.out"},
       {"d.out", "d.cod", "d.lst", "d.hex"}},
  };
  return cases;
}

class WriteFaultTest : public ::testing::TestWithParam<WriteCase> {
protected:
  // Inputs, plus an earlier version of each output that is not an input.
  std::map<std::string, std::string> prepare(const TempDir &dir) {
    writeInputs(dir);
    std::map<std::string, std::string> before;
    for (const std::string &name : GetParam().outputs) {
      if (!dir.exists(name))
        dir.write(name, "an earlier " + name + "\n");
      before[name] = dir.read(name);
    }
    return before;
  }

  ProcessResult run(const TempDir &dir, long long limitBytes) {
    ProcessOptions options;
    options.workDir = dir.path();
    options.mergeStreams = true;
    options.fileSizeLimitBytes = limitBytes;
    options.pathPrepend = programDir();
    return runProcess(programPath(GetParam().program), GetParam().args,
                      options);
  }
};

TEST_P(WriteFaultTest, FailedWritesLeaveEveryOutputOldOrWhole) {
  const WriteCase &test = GetParam();
  std::map<std::string, std::string> whole;
  std::size_t largest = 0;
  {
    TempDir dir;
    prepare(dir);
    const ProcessResult result = run(dir, -1);
    ASSERT_EQ(result.exitCode, 0) << result.out;
    for (const std::string &name : test.outputs) {
      whole[name] = dir.read(name);
      largest = std::max(largest, whole[name].size());
    }
  }
  ASSERT_GT(largest, 100u);

  std::set<long long> limits = {0, 1, 100, (long long)largest - 1};
  for (const auto &output : whole)
    if (output.second.size() > 1)
      limits.insert((long long)output.second.size() / 2);
  for (long long limit : limits) {
    SCOPED_TRACE("file-size limit " + std::to_string(limit));
    TempDir dir;
    const std::map<std::string, std::string> before = prepare(dir);
    const std::set<std::string> namesBefore = fileNamesIn(dir.path());

    const ProcessResult result = run(dir, limit);
    EXPECT_EQ(result.signal, 0);
    EXPECT_NE(result.exitCode, 0) << result.out;
    EXPECT_NE(result.out.find("Error - "), std::string::npos) << result.out;
    for (const std::string &name : test.outputs) {
      SCOPED_TRACE(name);
      const std::string now = dir.read(name);
      if (now.rfind(kErrorMapStart, 0) == 0)
        continue; // the linker's own report of the failed link
      if (whole[name].size() > (std::size_t)limit) {
        EXPECT_EQ(now, before.at(name))
            << "changed though it could not be written whole";
      } else {
        // Whole: dates in the text may differ by a second.
        EXPECT_TRUE(now == before.at(name) || now.size() == whole[name].size())
            << "neither the earlier nor the whole file";
      }
    }
    // No temporary file is left behind.
    EXPECT_EQ(fileNamesIn(dir.path()), namesBefore);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryProgram, WriteFaultTest,
                         ::testing::ValuesIn(writeCases()),
                         [](const ::testing::TestParamInfo<WriteCase> &info) {
                           std::string name;
                           for (char c : std::string(info.param.what))
                             if (std::isalnum(static_cast<unsigned char>(c)))
                               name += c;
                           return name;
                         });

// A target that cannot be created: its directory does not exist, or a
// directory stands where the file would go (tests may run as root, which
// file permissions do not stop).
struct UnwritableCase {
  const char *what;
  std::string program;
  std::vector<std::string> args;
  std::string directoryInTheWay; // empty: the path's directory is missing
  std::vector<std::string> mayAppear = {}; // outputs written before the fault
};

class UnwritableTargetTest : public ::testing::TestWithParam<UnwritableCase> {};

TEST_P(UnwritableTargetTest, ReportsAnErrorAndExitsNonzero) {
  const UnwritableCase &test = GetParam();
  TempDir dir;
  writeInputs(dir);
  if (!test.directoryInTheWay.empty()) {
    ASSERT_EQ(mkdir(dir.file(test.directoryInTheWay).c_str(), 0755), 0);
  }
  const std::set<std::string> namesBefore = fileNamesIn(dir.path());
  const std::string libraryBefore = dir.read("ab.lib");

  ProcessOptions options;
  options.workDir = dir.path();
  options.mergeStreams = true;
  options.pathPrepend = programDir();
  const ProcessResult result =
      runProcess(programPath(test.program), test.args, options);
  EXPECT_EQ(result.signal, 0);
  EXPECT_NE(result.exitCode, 0) << result.out;
  EXPECT_NE(result.out.find("Error - "), std::string::npos) << result.out;
  EXPECT_EQ(dir.read("ab.lib"), libraryBefore);
  if (!test.directoryInTheWay.empty()) {
    struct stat info;
    ASSERT_EQ(stat(dir.file(test.directoryInTheWay).c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
  }
  std::set<std::string> allowed = namesBefore;
  allowed.insert(test.mayAppear.begin(), test.mayAppear.end());
  for (const std::string &name : fileNamesIn(dir.path()))
    EXPECT_EQ(allowed.count(name), 1u) << name << " left behind";
}

INSTANTIATE_TEST_SUITE_P(
    EveryProgram, UnwritableTargetTest,
    ::testing::Values(
        UnwritableCase{
            "linker", "_orvane", {"t.o", "t.lkr", "/o", "missing/t.out"}, ""},
        UnwritableCase{"linkerMap",
                       "_orvane",
                       {"t.o", "t.lkr", "/o", "t.out", "/m", "t.map"},
                       "t.map",
                       {"t.out"}},
        UnwritableCase{"HEXconverter", "pelmat", {"linked.cof"}, "linked.hex"},
        UnwritableCase{"CODconverter",
                       "cirrow",
                       {"linked.cof"},
                       "linked.cod",
                       {"linked.lst"}},
        UnwritableCase{"librarianCreating",
                       "tessil",
                       {"/c", "missing/new.lib", "t.o"},
                       ""},
        UnwritableCase{
            "librarianExtracting", "tessil", {"/x", "ab.lib"}, "a", {"b"}},
        UnwritableCase{
            "driver", "orvane", {"t.o", "t.lkr", "/o", "missing/d.out"}, ""}),
    [](const ::testing::TestParamInfo<UnwritableCase> &info) {
      return std::string(info.param.what);
    });

// Every kind of target named as a program's output is written as a plain
// create would write it: a device or FIFO in place, a link's file through
// the link, a long name as any other; a directory or (unless the user may
// write it) a read-only file is refused with the open error. Nothing but
// the output is left behind.
struct TargetProgram {
  const char *what;
  std::string program;
  std::vector<std::string> argsBefore; // then the target
  std::vector<std::string> argsAfter;
  std::string targetName;
  std::string openError; // before the quoted name
};

using TargetCase = std::tuple<TargetProgram, TargetKind>;

class OutputTargetTest : public ::testing::TestWithParam<TargetCase> {
protected:
  ProcessResult run(const TempDir &dir, const std::string &target) {
    const TargetProgram &program = std::get<0>(GetParam());
    std::vector<std::string> args = program.argsBefore;
    args.push_back(target);
    args.insert(args.end(), program.argsAfter.begin(), program.argsAfter.end());
    ProcessOptions options;
    options.workDir = dir.path();
    return runProcess(programPath(program.program), args, options);
  }
};

TEST_P(OutputTargetTest, WritesAsAPlainCreateWouldAndLeavesNothingElse) {
  const TargetProgram &program = std::get<0>(GetParam());
  const TargetKind kind = std::get<1>(GetParam());
  TempDir dir;
  writeInputs(dir);
  const std::string target = makeTarget(dir, kind, program.targetName);
  if (target.empty())
    GTEST_SKIP() << "needs root to make a device node";
  std::string whole;
  {
    TempDir plain;
    writeInputs(plain);
    ASSERT_EQ(run(plain, program.targetName).exitCode, 0);
    whole = plain.read(program.targetName);
  }
  const std::set<std::string> namesBefore = fileNamesIn(dir.path());
  std::unique_ptr<FifoReader> reader;
  if (kind == TargetKind::Fifo)
    reader = std::make_unique<FifoReader>(dir.file(target));

  const ProcessResult result = run(dir, target);
  const bool refused = plainCreateRefuses(kind);
  const std::string landing = landingName(kind, target);
  struct stat status;
  ASSERT_EQ(stat(dir.file(landing).c_str(), &status), 0);
  if (refused) {
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Error - " + program.openError + " '" + target +
                              "' for writing.\n"),
              std::string::npos)
        << result.err;
  } else {
    EXPECT_EQ(result.exitCode, 0) << result.err;
  }
  switch (kind) {
  case TargetKind::Device:
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    break;
  case TargetKind::Fifo:
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(reader->finish().size(), whole.size());
    break;
  case TargetKind::Directory:
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    break;
  default:
    // Same length: a linked file's time stamp may differ by a second.
    if (refused)
      EXPECT_EQ(dir.read(landing), kOldTargetBytes);
    else
      EXPECT_EQ(dir.read(landing).size(), whole.size());
  }
  std::set<std::string> expected = namesBefore;
  expected.insert(target);
  EXPECT_EQ(fileNamesIn(dir.path()), expected);
  if (kind == TargetKind::SymLink) {
    EXPECT_EQ(fileNamesIn(dir.file("real")), std::set<std::string>{target});
  }
}

INSTANTIATE_TEST_SUITE_P(
    LinkerAndLibrarian, OutputTargetTest,
    ::testing::Combine(
        ::testing::Values(TargetProgram{"linker",
                                        "_orvane",
                                        {"t.o", "t.lkr", "/o"},
                                        {},
                                        "out.cof",
                                        "Could not open Coff file"},
                          TargetProgram{"librarian",
                                        "tessil",
                                        {"/c"},
                                        {"t.o", "u.o"},
                                        "out.lib",
                                        "Could not open library file"}),
        ::testing::ValuesIn(allTargetKinds())),
    [](const ::testing::TestParamInfo<TargetCase> &info) {
      return std::string(std::get<0>(info.param).what) +
             targetKindName(std::get<1>(info.param));
    });

// A large link stopped by a signal while it writes its output removes its
// temporary and ends as killed by that signal; the earlier output stays.
TEST(InterruptedRun, RemovesItsTemporariesAndEndsByTheSignal) {
  // 64 MiB of filled program memory: long enough to be caught writing.
  const char *const kLargeCommandFile =
      "CODEPAGE NAME=page0 START=0x0 END=0x1FFFFFF FILL=0x1234\n"
      "DATABANK NAME=gpr0 START=0x20 END=0x6F\n";
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    TempDir dir;
    dir.write("t.o", object("t"));
    dir.write("large.lkr", kLargeCommandFile);
    dir.write("t.out", "an earlier t.out\n");
    const std::set<std::string> namesBefore = fileNamesIn(dir.path());
    ProcessOptions options;
    options.workDir = dir.path();
    // Sent as soon as any new file shows: the output's temporary.
    options.signalWhen = [&] { return fileNamesIn(dir.path()) != namesBefore; };
    options.signalToSend = signal;
    const ProcessResult result = runProcess(
        programPath("_orvane"), {"t.o", "large.lkr", "/o", "t.out"}, options);
    EXPECT_EQ(result.signal, signal) << result.exitCode << result.err;
    EXPECT_EQ(fileNamesIn(dir.path()), namesBefore);
    EXPECT_EQ(dir.read("t.out"), "an earlier t.out\n");
  }
}

} // namespace
