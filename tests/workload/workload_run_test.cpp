#include "tests/platform/fakes.h"
#include "tests/workload/fake_gpu.h"
#include "workload/gpu_display_name.h"
#include "workload/workload_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ventaro {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

constexpr std::uint64_t kUnit = 67'108'864;
constexpr std::uint64_t kGib16 = 17'179'869'184;
constexpr std::int64_t kCap = maxLoadRepetitions;

TEST(WorkloadSizing, GivesTheNumberOfMultiplications) {
  const std::tuple<std::uint64_t, std::int64_t, std::int64_t> cases[] = {
      // 256 whole units in 16 GiB; what is below a whole unit is dropped.
      {kGib16, 100, 256},
      {kGib16, 37, 94},
      {kGib16, 1, 2},
      {11'453'251'584, 100, 170},
      // Never fewer than one.
      {kGib16, 0, 1},
      {kUnit, 50, 1},
      {kUnit - 1, INT64_MAX, 1},
      // Below, at and past the cap.
      {kUnit, 6'710'886'299, kCap - 1},
      {kUnit, 6'710'886'300, kCap},
      {UINT64_MAX, 1, kCap},
      // The product leaves the 64-bit range: it saturates instead of wrapping.
      {kGib16, INT64_MAX, kCap},
      {UINT64_MAX, INT64_MAX, kCap},
      // A negative level never reaches the run, but must not size below one.
      {kGib16, -20, 1},
      {UINT64_MAX, INT64_MIN, 1}};
  for (const auto& [workingSet, stressLevel, repetitions] : cases) {
    EXPECT_EQ(workloadRepetitions(workingSet, stressLevel), repetitions)
        << workingSet << " bytes at " << stressLevel << " %";
  }
}

struct NullDelegate : ApplicationDelegate {
  void applicationDidFinishLaunching() override {}
  void applicationWillTerminate() override {}
};

// One run's services, all fakes sharing one call log and one virtual clock.
struct RunOfFakes {
  RunOfFakes() {
    gpus.defaultDevice->onCommit = [this] { log.record("load"); };
  }
  void start(RunKind kind, bool hidden = false, std::int64_t stressLevel = 100) {
    startWorkloadRun({&application, center, &gpus, {}}, stressLevel, kind, hidden, delegate);
  }
  const NotificationContent& posted(std::size_t i) const { return center->posted.at(i).second; }

  testing::CallLog log;
  testing::FakeApplication application{log};
  std::shared_ptr<testing::RecordingNotificationCenter> center =
      std::make_shared<testing::RecordingNotificationCenter>(log);
  testing::FakeGpuPlatform gpus;
  std::shared_ptr<ApplicationDelegate> delegate = std::make_shared<NullDelegate>();
};

TEST(WorkloadRun, BenchmarkAnnouncesThenMeasuresFiveSecondsLaterAndEnds) {
  RunOfFakes run;
  run.log.now = 2.0;
  run.start(RunKind::benchmark);
  EXPECT_THAT(run.log.calls(2.0), ElementsAre("remove Ventaro Start", "requestAuthorization",
                                              "add Ventaro Start", "asyncAfter 5"));
  EXPECT_EQ(run.posted(0).title, "Compute Benchmark");
  EXPECT_EQ(run.posted(0).body, "Ventaro will test FP32 performance.");
  EXPECT_TRUE(run.posted(0).defaultSound);

  run.application.advance(4.5);
  EXPECT_EQ(run.log.entries.size(), 4u) << "nothing happens before the five seconds are up";
  run.application.advance(0.5);
  EXPECT_THAT(run.log.calls(7.0),
              ElementsAre("remove Ventaro Start", "load", "add Ventaro Result", "terminate"));
  EXPECT_EQ(run.center->posted.at(1).first, "Ventaro Result");
  EXPECT_EQ(run.posted(1).title, gpuDisplayName(run.gpus));
  EXPECT_THAT(run.posted(1).body, MatchesRegex("Ventaro measured [1-9][0-9]* GFLOPS\\."));
  EXPECT_TRUE(run.posted(1).defaultSound);
  EXPECT_THAT(run.application.senders, ElementsAre(run.delegate.get()));
  EXPECT_EQ(run.gpus.defaultDevice->encodes, 256);
}

TEST(WorkloadRun, FinishingStepCountsFromTheMomentTheNoticeWasPosted) {
  RunOfFakes run;
  run.center->addLatency = 0.25; // a slow notification server
  run.start(RunKind::benchmark);
  run.application.advance();
  EXPECT_EQ(run.log.timeOf("asyncAfter 5"), 0.25);
  EXPECT_EQ(run.log.timeOf("load"), 5.25);
}

TEST(WorkloadRun, FanResetRunsTheLoadButNeverPostsAResult) {
  for (const bool hidden : {false, true}) {
    RunOfFakes run;
    run.start(RunKind::fanReset, hidden);
    run.application.advance();
    std::vector<std::string> atStart = {"remove Ventaro Start", "requestAuthorization",
                                        "asyncAfter 5"};
    if (!hidden) {
      atStart.insert(atStart.begin() + 2, "add Ventaro Start");
    }
    EXPECT_EQ(run.log.calls(0.0), atStart);
    EXPECT_THAT(run.log.calls(5.0), ElementsAre("remove Ventaro Start", "load", "terminate"));
    ASSERT_EQ(run.center->posted.size(), hidden ? 0u : 1u);
    if (!hidden) {
      EXPECT_EQ(run.posted(0).title, "High Fan Speed Detected");
      EXPECT_EQ(run.posted(0).body, "Ventaro will try to reset the fans.");
    }
  }
}

TEST(WorkloadRun, GpuErrorOrNoDeviceEndsInOrderWithAFigureOfZero) {
  for (const bool device : {true, false}) {
    RunOfFakes run;
    run.gpus.defaultDevice->commandError = gpu::CommandError{"device lost"};
    if (!device) {
      run.gpus.defaultDevice = nullptr;
    }
    run.start(RunKind::benchmark, false, device ? 100 : INT64_MAX);
    run.application.advance();
    EXPECT_EQ(run.log.calls(5.0).size(), device ? 4u : 3u) << "withdraw, load, post, terminate";
    EXPECT_EQ(run.posted(1).title, gpuDisplayName(run.gpus));
    EXPECT_EQ(run.posted(1).body, "Ventaro measured 0 GFLOPS.");
    EXPECT_TRUE(run.posted(1).defaultSound);
  }
}

TEST(WorkloadRun, ScheduledStepKeepsTheDelegateAliveUntilItHasRun) {
  RunOfFakes run;
  const std::weak_ptr<ApplicationDelegate> watched = run.delegate;
  run.start(RunKind::benchmark);
  run.delegate.reset();
  EXPECT_FALSE(watched.expired());
  run.application.advance();
  EXPECT_TRUE(watched.expired());
}

} // namespace
} // namespace ventaro
