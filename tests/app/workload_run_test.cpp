#include "app/workload_run.h"
#include "tests/platform/fakes.h"
#include "tests/workload/fake_gpu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ventaro {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

constexpr std::uint64_t kUnit = 67'108'864, kGib16 = 17'179'869'184;

TEST(WorkloadSizing, GivesTheNumberOfMultiplications) {
  const std::tuple<std::uint64_t, std::int64_t, std::int64_t> cases[] = {
      // 256 whole units in 16 GiB; what is below a whole unit is dropped; never below one.
      {kGib16, 37, 94},
      {11'453'251'584, 100, 170},
      {kGib16, 0, 1},
      {kUnit - 1, INT64_MAX, 1},
      // The product saturates instead of wrapping (the load caps the count).
      {kGib16, INT64_MAX, INT64_MAX / 100},
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
  void start(std::function<void(const RunReport&)> report = {}) {
    startWorkloadRun({&application, center, &gpus, std::move(report), {}, {}}, 100,
                     RunKind::benchmark, false, delegate);
  }
  const NotificationContent& posted(std::size_t i) const { return center->posted.at(i).second; }

  testing::CallLog log;
  testing::FakeApplication application{log};
  std::shared_ptr<testing::RecordingNotificationCenter> center =
      std::make_shared<testing::RecordingNotificationCenter>(log);
  testing::FakeGpuPlatform gpus;
  std::shared_ptr<ApplicationDelegate> delegate = std::make_shared<NullDelegate>();
};

TEST(WorkloadRun, BenchmarkAnnouncesThenMeasuresFiveSecondsAfterTheNoticeAndEnds) {
  RunOfFakes run;
  run.center->addLatency = 0.25; // a slow notification server: the seconds count after it
  run.start();
  run.application.advance(4.9);
  EXPECT_EQ(run.log.entries.size(), 4u) << "nothing happens before the five seconds are up";
  run.application.advance();
  EXPECT_THAT(run.log.calls(),
              ElementsAre("remove Ventaro Start", "requestAuthorization", "add Ventaro Start",
                          "asyncAfter 5", "remove Ventaro Start", "load", "add Ventaro Result",
                          "terminate"));
  EXPECT_EQ(run.log.timeOf("asyncAfter 5"), 0.25);
  EXPECT_EQ(run.log.timeOf("load"), 5.25);
  EXPECT_EQ(run.posted(1).title, "Fake GPU 16 GB");
}

// A failed load (a GPU error, no device) posts 0 and says why; wrong results keep the
// figure and say so. Both end with status 1 and one line on stderr, after the report.
TEST(WorkloadRun, FailedLoadOrWrongResultsPostTheFigureSayWhyAndExitOne) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"error", "Ventaro measured 0 GFLOPS.", "ventaro: load failed: first product: device lost\n"},
      {"none", "Ventaro measured 0 GFLOPS.", "ventaro: load failed: no compute device\n"},
      {"wrong", "Ventaro measured [1-9][0-9]* GFLOPS\\. The results were wrong\\.",
       "ventaro: the results were wrong: 7 values of the last product differed from the first\n"},
      {"inexact", "Ventaro measured [1-9][0-9]* GFLOPS\\. The results were wrong\\.",
       "ventaro: the results were wrong: 256 of 256 values of the product lay outside the FP32 "
       "error bound of the exact product\n"}};
  for (const auto& [fault, body, stderrLine] : cases) {
    RunOfFakes run;
    run.gpus.defaultDevice->commandError = gpu::CommandError{"device lost"};
    if (fault == std::string("none")) {
      run.gpus.defaultDevice = nullptr;
    } else if (fault == std::string("wrong")) {
      run.gpus.defaultDevice->commandError.reset();
      run.gpus.defaultDevice->differences = 7;
    } else if (fault == std::string("inexact")) {
      run.gpus.defaultDevice->commandError.reset();
      run.gpus.defaultDevice->productError = 0.5f; // wrong the same way every time
    }
    std::vector<RunReport> reports;
    run.start([&](const RunReport& r) { reports.push_back(r); });
    ::testing::internal::CaptureStderr();
    run.application.advance();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), stderrLine);
    EXPECT_THAT(run.posted(1).body, MatchesRegex(body));
    EXPECT_EQ(run.log.calls().back(), "terminate");
    EXPECT_EQ(run.application.exitStatus, 1) << fault;
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].outcome.failed(),
              std::string(fault) == "error" || fault == std::string("none"));
  }
}

} // namespace
} // namespace ventaro
