#include "ProcessRunner.h"
#include "Trace.h"

#include <gtest/gtest.h>

namespace {

ProcessResult probe(const std::vector<std::string> &args, bool merge = false) {
  ProcessOptions options;
  options.mergeStreams = merge;
  return runProcess(testHelperPath("message_probe"), args, options);
}

TEST(Messages, CleanRunPrintsZeroErrorsAndBlankLine) {
  ProcessResult r = probe({});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Errors    : 0\n\n");
  EXPECT_EQ(r.err, "");

  r = probe({"verbose"});
  EXPECT_EQ(r.out, "Errors    : 0\nWarnings  : 0\n\n");
}

TEST(Messages, ErrorIsPrintedAndCounted) {
  ProcessResult r = probe({"error:file 'x.o' is bad.", "exit:1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Error - file 'x.o' is bad.\n");
  EXPECT_EQ(r.out, "Errors    : 1\n\n");
}

TEST(Messages, WarningCountsButPrintsOnlyWhenVerbose) {
  ProcessResult quietWarning = probe({"warning:w1."});
  EXPECT_EQ(quietWarning.err, "");
  EXPECT_EQ(quietWarning.out, "Errors    : 0\n\n");

  // Counted before verbose was switched on, printed after.
  ProcessResult r = probe({"warning:w1.", "verbose", "warning:w2."});
  EXPECT_EQ(r.err, "Warning - w2.\n");
  EXPECT_EQ(r.out, "Errors    : 0\nWarnings  : 2\n\n");
}

TEST(Messages, QuietHidesEverythingButTheExitCode) {
  ProcessResult r =
      probe({"-q", "verbose", "warning:w.", "error:e.", "exit:1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");

  r = probe({"/Q", "fatal:f."});
  EXPECT_EQ(r.exitCode, 255);
  EXPECT_EQ(r.out + r.err, "");
}

// The sanitizers' own operator new ends the program itself.
#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_OWN_NEW_HANDLER 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_OWN_NEW_HANDLER 0
#endif
#endif
#ifndef ORVANE_OWN_NEW_HANDLER
#define ORVANE_OWN_NEW_HANDLER 1
#endif

TEST(Messages, ThreadsRunningOutTogetherGiveOneLineAndOneExit) {
  if (!ORVANE_OWN_NEW_HANDLER)
    GTEST_SKIP() << "the sanitizer handles exhausted memory";
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    ProcessResult r = probe({"exhaust:8"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "out of memory\n");
    EXPECT_EQ(r.out, "");
  }
}

TEST(Messages, FatalErrorPrintsSummaryAndExits255) {
  ProcessResult r = probe({"fatal:cannot go on.", "error:never reached."});
  EXPECT_EQ(r.exitCode, 255);
  EXPECT_EQ(r.err, "Error - cannot go on.\n");
  EXPECT_EQ(r.out, "Errors    : 1\n\n");
}

TEST(Messages, StandardOutputIsFlushedBeforeAnErrorLine) {
  // Both streams into one pipe: lines appear in the order they were made.
  ProcessResult r = probe({"out:banner", "error:e1.", "out:middle",
                           "warning:w.", "verbose", "warning:w2.", "exit:1"},
                          true);
  EXPECT_EQ(r.out, "banner\nError - e1.\nmiddle\nWarning - w2.\n"
                   "Errors    : 1\nWarnings  : 2\n\n");
}

TEST(Messages, ReportStreamTakesTheStreamText) {
  ProcessResult r = probe({"stream", "exit:1"});
  EXPECT_EQ(r.err, "Error - streamed 42.\n");
}

TEST(Trace, UnknownSwitchReadsZeroAndSetLevelsStick) {
  EXPECT_EQ(traceLevel("Test::neverSeen"), 0);
  EXPECT_EQ(traceRegister("Test::registered"), "Test::registered");
  EXPECT_EQ(traceLevel("Test::registered"), 0);
  traceSet("Test::registered", 3);
  traceRegister("Test::registered"); // re-registering keeps the level
  EXPECT_EQ(traceLevel("Test::registered"), 3);
}

} // namespace

#include "Messages.h"
#include "ParallelWork.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

TEST(Messages, SilentAttemptTurnsEveryReportIntoAnExceptionAndCountsNothing) {
  const int errorsBefore = errorCount();
  const int warningsBefore = warningCount();
  testing::internal::CaptureStderr();
  {
    SilentAttempt outer;
    for (int fatal : {0, 1}) {
      EXPECT_THROW(report(MessageKind::Error, "test", "quiet", fatal),
                   MessageWhileSilent);
      EXPECT_THROW(report(MessageKind::Warning, "test", "quiet", fatal),
                   MessageWhileSilent);
    }
    { SilentAttempt inner; }
    // Still silent once an inner attempt ended.
    EXPECT_THROW(report(MessageKind::Error, "test", "quiet", 0),
                 MessageWhileSilent);
  }
  // Speaks again once the attempt is over.
  report(MessageKind::Error, "test", "loud", 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error - loud\n");
  EXPECT_EQ(errorCount(), errorsBefore + 1);
  EXPECT_EQ(warningCount(), warningsBefore);
}

TEST(ParallelWork, VisitsEveryIndexExactlyOnce) {
  for (std::size_t count : {0u, 1u, 15u, 17u, 1000u, 4099u}) {
    SCOPED_TRACE(count);
    std::vector<std::atomic<int>> visits(count);
    forEachInParallel(count, [&](std::size_t i) { ++visits[i]; });
    std::size_t wrong = 0;
    for (const std::atomic<int> &v : visits)
      wrong += v.load() != 1;
    EXPECT_EQ(wrong, 0u);
  }
}

TEST(ParallelWork, LargePiecesAndParallelSortCoverEverything) {
  for (std::size_t count : {0u, 1u, 3u, 8u, 40u}) {
    SCOPED_TRACE(count);
    std::vector<std::atomic<int>> visits(count);
    forEachLargeInParallel(count, [&](std::size_t i) { ++visits[i]; });
    std::size_t wrong = 0;
    for (const std::atomic<int> &v : visits)
      wrong += v.load() != 1;
    EXPECT_EQ(wrong, 0u);
  }
  // Sizes below and above the point where the runs are sorted apart, with
  // many repeated keys told apart by their position.
  for (std::size_t count : {0u, 5u, 4096u * 8 - 1, 4096u * 8 + 13, 100003u}) {
    SCOPED_TRACE(count);
    std::vector<std::pair<unsigned, std::size_t>> items;
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < count; ++i) {
      state = state * 1103515245u + 12345u;
      items.emplace_back(state >> 20, i);
    }
    std::vector<std::pair<unsigned, std::size_t>> expected = items;
    std::sort(expected.begin(), expected.end());
    sortInParallel(items, [](const auto &a, const auto &b) { return a < b; });
    EXPECT_TRUE(items == expected);
  }
}

TEST(ParallelWork, WorkThatAsksForParallelWorkFinishesAndRepeatsCleanly) {
  // The same threads serve job after job, and a piece that asks for
  // parallel work of its own gets it done rather than waiting forever.
  for (int round = 0; round < 50; ++round) {
    std::vector<std::atomic<int>> visits(64 * 32);
    forEachInParallel(64, [&](std::size_t outer) {
      forEachInParallel(32, [&](std::size_t inner) {
        ++visits[outer * 32 + inner];
      });
    });
    std::size_t wrong = 0;
    for (const std::atomic<int> &v : visits)
      wrong += v.load() != 1;
    ASSERT_EQ(wrong, 0u) << round;
  }
}

} // namespace
