#include "tests/platform/call_log.h"
#include "tests/platform/fake_application.h"
#include "tests/platform/recording_notification_center.h"
#include "tests/workload/fake_gpu.h"
#include "workload/gpu_display_name.h"
#include "workload/workload_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>

namespace ventaro {
namespace {

using testing::CallLog;
using ::testing::ElementsAre;
using testing::FakeApplication;
using testing::FakeGpuPlatform;
using ::testing::MatchesRegex;
using testing::RecordingNotificationCenter;

constexpr std::uint64_t kUnit = 67'108'864;
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::uint64_t kUint64Max = std::numeric_limits<std::uint64_t>::max();

TEST(WorkloadSizing, GivesTheNumberOfMultiplications) {
  const struct {
    std::uint64_t workingSet;
    std::int64_t stressLevel;
    std::int64_t repetitions;
  } cases[] = {// 16 GiB: 256 whole units; the remainder below a whole unit is dropped.
               {17'179'869'184, 100, 256},
               {17'179'869'184, 250, 640},
               {17'179'869'184, 37, 94},
               {17'179'869'184, 1, 2},
               {17'179'869'184, 0, 1},
               {11'453'251'584, 100, 170},
               // Less than one unit, or exactly one: one multiplication.
               {kUnit - 1, 100, 1},
               {kUnit - 1, kInt64Max, 1},
               {0, 100, 1},
               {kUnit, 50, 1},
               {kUnit, 100, 1},
               {kUnit, 200, 2},
               // Below, at and past the cap.
               {kUnit, 6'710'886'299, maxLoadRepetitions - 1},
               {kUnit, 6'710'886'300, maxLoadRepetitions},
               {kUnit, 6'710'886'400, maxLoadRepetitions},
               {kUint64Max, 1, maxLoadRepetitions},
               // The product leaves the 64-bit range: it saturates instead of wrapping.
               {17'179'869'184, kInt64Max, maxLoadRepetitions},
               {kUint64Max, 33'554'433, maxLoadRepetitions},
               {kUint64Max, kInt64Max, maxLoadRepetitions},
               // A negative level never reaches the run, but must not size below one.
               {17'179'869'184, -20, 1},
               {kUint64Max, kInt64Min, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(workloadRepetitions(c.workingSet, c.stressLevel), c.repetitions)
        << c.workingSet << " bytes at " << c.stressLevel << " %";
  }
}

class NullDelegate : public ApplicationDelegate {
public:
  void applicationDidFinishLaunching() override {}
  void applicationWillTerminate() override {}
};

class WorkloadRun : public ::testing::Test {
protected:
  WorkloadRun() {
    gpus.defaultDevice->onCommit = [this] { log.record("load"); };
  }

  void start(RunKind kind, bool hidden, std::int64_t stressLevel = 100) {
    startWorkloadRun({&application, center, &gpus}, stressLevel, kind, hidden, delegate);
  }

  CallLog log;
  FakeApplication application{log};
  std::shared_ptr<RecordingNotificationCenter> center =
      std::make_shared<RecordingNotificationCenter>(log);
  FakeGpuPlatform gpus;
  std::shared_ptr<ApplicationDelegate> delegate = std::make_shared<NullDelegate>();
};

TEST_F(WorkloadRun, BenchmarkAnnouncesThenMeasuresFiveSecondsLaterAndEnds) {
  log.now = 2.0;
  start(RunKind::benchmark, false);

  EXPECT_THAT(log.calls(2.0), ElementsAre("remove Ventaro Start", "requestAuthorization",
                                          "add Ventaro Start", "asyncAfter 5"));
  ASSERT_EQ(center->posted.size(), 1u);
  EXPECT_EQ(center->posted[0].content.title, "Compute Benchmark");
  EXPECT_EQ(center->posted[0].content.body, "Ventaro will test FP32 performance.");
  EXPECT_TRUE(center->posted[0].content.defaultSound);

  application.advance(4.5);
  EXPECT_EQ(log.entries.size(), 4u) << "nothing happens before the five seconds are up";

  application.advance(0.5);
  EXPECT_THAT(log.calls(7.0),
              ElementsAre("remove Ventaro Start", "load", "add Ventaro Result", "terminate"));
  ASSERT_EQ(center->posted.size(), 2u);
  const auto& result = center->posted[1];
  EXPECT_EQ(result.identifier, "Ventaro Result");
  EXPECT_EQ(result.content.title, gpuDisplayName(gpus));
  EXPECT_THAT(result.content.body, MatchesRegex("Ventaro measured [1-9][0-9]* GFLOPS\\."));
  EXPECT_TRUE(result.content.defaultSound);
  EXPECT_THAT(application.senders, ElementsAre(delegate.get()));
  EXPECT_EQ(gpus.defaultDevice->counts.encodes, 256);
}

TEST_F(WorkloadRun, FinishingStepCountsFromTheMomentTheNoticeWasPosted) {
  center->addLatency = 0.25; // a slow notification server
  start(RunKind::benchmark, false);
  application.runUntilIdle();
  EXPECT_EQ(log.timeOf("asyncAfter 5"), 0.25);
  EXPECT_EQ(log.timeOf("load"), 5.25);
}

TEST_F(WorkloadRun, FanResetRunsTheLoadButNeverPostsAResult) {
  start(RunKind::fanReset, false);
  application.runUntilIdle();

  EXPECT_THAT(log.calls(0.0), ElementsAre("remove Ventaro Start", "requestAuthorization",
                                          "add Ventaro Start", "asyncAfter 5"));
  EXPECT_THAT(log.calls(5.0), ElementsAre("remove Ventaro Start", "load", "terminate"));
  ASSERT_EQ(center->posted.size(), 1u);
  EXPECT_EQ(center->posted[0].content.title, "High Fan Speed Detected");
  EXPECT_EQ(center->posted[0].content.body, "Ventaro will try to reset the fans.");
}

TEST_F(WorkloadRun, HiddenStartNoticeChangesNothingElse) {
  start(RunKind::fanReset, true);
  application.runUntilIdle();

  EXPECT_THAT(log.calls(0.0),
              ElementsAre("remove Ventaro Start", "requestAuthorization", "asyncAfter 5"));
  EXPECT_THAT(log.calls(5.0), ElementsAre("remove Ventaro Start", "load", "terminate"));
  EXPECT_TRUE(center->posted.empty());
}

TEST_F(WorkloadRun, GpuErrorIsReportedAsZeroWithTheStartTextsReplaced) {
  gpus.defaultDevice->commandError = gpu::CommandError{"device lost"};
  start(RunKind::benchmark, false);
  application.runUntilIdle();

  ASSERT_EQ(center->posted.size(), 2u);
  EXPECT_EQ(center->posted[1].content.title, gpuDisplayName(gpus));
  EXPECT_EQ(center->posted[1].content.body, "Ventaro measured 0 GFLOPS.");
  EXPECT_TRUE(center->posted[1].content.defaultSound);
  EXPECT_TRUE(application.terminationRequested());
}

TEST_F(WorkloadRun, WithoutADeviceTheRunEndsInOrderWithAFigureOfZero) {
  gpus.defaultDevice = nullptr;
  start(RunKind::benchmark, false, kInt64Max);
  application.runUntilIdle();

  EXPECT_THAT(log.calls(5.0),
              ElementsAre("remove Ventaro Start", "add Ventaro Result", "terminate"));
  ASSERT_EQ(center->posted.size(), 2u);
  EXPECT_EQ(center->posted[1].content.body, "Ventaro measured 0 GFLOPS.");
}

TEST_F(WorkloadRun, ScheduledStepKeepsTheDelegateAliveUntilItHasRun) {
  std::weak_ptr<ApplicationDelegate> watched = delegate;
  start(RunKind::benchmark, false);
  delegate.reset();

  EXPECT_FALSE(watched.expired());
  application.runUntilIdle();
  EXPECT_TRUE(watched.expired());
}

} // namespace
} // namespace ventaro
