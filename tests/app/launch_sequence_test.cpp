#include "app/app_delegate.h"
#include "tests/platform/call_log.h"
#include "tests/platform/fake_application.h"
#include "tests/platform/fake_user_defaults.h"
#include "tests/platform/recording_notification_center.h"
#include "tests/workload/fake_gpu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>

namespace ventaro {
namespace {

using ::testing::ElementsAre;
using namespace ventaro::testing;

// One process's services, all fakes sharing one call record and one virtual clock.
struct Launch {
  explicit Launch(bool loginStart, int gpuCount = 1) {
    gpus.defaultDevice->workingSet = 100 * 67'108'864ull; // multiplications = stress level
    gpus.defaultDevice->onCommit = [this] { log.record("load"); };
    for (int i = 0; i < gpuCount; ++i) {
      gpus.gpus.push_back(std::make_shared<FakeDevice>());
    }
    AppServices services{&application,
                         defaults,
                         center,
                         &gpus,
                         [this] {
                           log.record("hasFanAnomaly");
                           return fanAnomaly;
                         },
                         loginStart};
    delegate = std::make_shared<AppDelegate>(std::move(services));
  }

  CallLog log;
  FakeApplication application{log};
  std::shared_ptr<FakeUserDefaults> defaults = std::make_shared<FakeUserDefaults>(log);
  std::shared_ptr<RecordingNotificationCenter> center =
      std::make_shared<RecordingNotificationCenter>(log);
  FakeGpuPlatform gpus;
  bool fanAnomaly = true;
  std::shared_ptr<AppDelegate> delegate;
};

const std::vector<std::string> kSettingsAtLogin = {
    "registerDefaults DelayAtLogin=5",    "integerForKey DelayAtLogin",
    "registerDefaults HideAtLogin=false", "boolForKey HideAtLogin",
    "registerDefaults StressLevel=100",   "integerForKey StressLevel"};

std::vector<std::string> concat(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST(LaunchSequence, UserStartRegistersEachDefaultJustBeforeReadingIt) {
  Launch launch(false);
  launch.defaults->stored["HideAtLogin"] = true;
  launch.delegate->performLaunch();
  EXPECT_THAT(launch.log.calls(),
              ElementsAre("registerDefaults DelayAtLogin=5", "integerForKey DelayAtLogin",
                          "registerDefaults HideAtLogin=false", "registerDefaults StressLevel=100",
                          "integerForKey StressLevel", "asyncAfter 0"));
}

TEST(LaunchSequence, LoginStartChecksTheFansThenReadsAllThreeSettings) {
  Launch launch(true);
  launch.delegate->performLaunch();
  EXPECT_EQ(launch.log.calls(),
            concat(concat({"hasFanAnomaly"}, kSettingsAtLogin), {"asyncAfter 5"}));
}

// What the scheduled run receives, seen through what the run then does.
TEST(LaunchSequence, SchedulesTheRunWithTheClampedSettings) {
  const struct {
    const char* name;
    bool loginStart;
    std::map<std::string, DefaultValue> stored;
    double delay;                          // seconds until the run starts
    std::optional<std::string> startTitle; // none: the start notice is hidden
    std::int64_t multiplications;
  } cases[] = {
      {"user, defaults", false, {}, 0.0, "Compute Benchmark", 100},
      {"user ignores login settings",
       false,
       {{"DelayAtLogin", std::int64_t{30}}, {"HideAtLogin", true}},
       0.0,
       "Compute Benchmark",
       100},
      {"login, defaults", true, {}, 5.0, "High Fan Speed Detected", 100},
      {"login, delay 30",
       true,
       {{"DelayAtLogin", std::int64_t{30}}},
       30.0,
       "High Fan Speed Detected",
       100},
      {"login, delay -4",
       true,
       {{"DelayAtLogin", std::int64_t{-4}}},
       0.0,
       "High Fan Speed Detected",
       100},
      {"login, largest delay",
       true,
       {{"DelayAtLogin", INT64_MAX}},
       9223372036854775807.0,
       "High Fan Speed Detected",
       100},
      {"login, hidden", true, {{"HideAtLogin", true}}, 5.0, std::nullopt, 100},
      {"stress -20", false, {{"StressLevel", std::int64_t{-20}}}, 0.0, "Compute Benchmark", 1},
      {"stress 250", false, {{"StressLevel", std::int64_t{250}}}, 0.0, "Compute Benchmark", 250},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Launch launch(c.loginStart);
    launch.defaults->stored = c.stored;
    launch.delegate->performLaunch();
    ASSERT_THAT(launch.application.delays, ElementsAre(c.delay));
    EXPECT_FALSE(launch.application.terminationRequested());

    launch.application.runUntilIdle();
    EXPECT_EQ(launch.log.timeOf("requestAuthorization"), c.delay);
    EXPECT_EQ(launch.log.timeOf("load"), c.delay + 5.0);
    EXPECT_EQ(launch.gpus.defaultDevice->counts.encodes, c.multiplications);
    std::vector<std::string> posted;
    for (const auto& notice : launch.center->posted) {
      posted.push_back(notice.identifier + ": " + notice.content.title);
    }
    std::vector<std::string> expected;
    if (c.startTitle) {
      expected.push_back("Ventaro Start: " + *c.startTitle);
    }
    if (!c.loginStart) {
      expected.push_back("Ventaro Result: " + launch.gpus.defaultDevice->deviceName + " 6400 MB");
    }
    EXPECT_EQ(posted, expected);
    EXPECT_THAT(launch.application.senders, ElementsAre(launch.delegate.get()));
  }
}

TEST(LaunchSequence, DeviceGuardRequestsTerminationOnlyWithTwoOrMoreGpus) {
  for (int gpuCount : {0, 1, 2, 3}) {
    Launch launch(false, gpuCount);
    launch.delegate->performLaunch();
    EXPECT_EQ(launch.application.terminationRequested(), gpuCount >= 2) << gpuCount;
  }
}

// A termination request never ends the sequence: the rest runs, the run is scheduled, and the
// stopped loop never runs it.
TEST(LaunchSequence, TerminationRequestsLeaveTheSequenceToRunToItsEnd) {
  Launch guarded(true, 2);
  guarded.delegate->performLaunch();
  EXPECT_EQ(guarded.log.calls(),
            concat(concat({"terminate", "hasFanAnomaly"}, kSettingsAtLogin), {"asyncAfter 5"}));

  Launch noAnomaly(true);
  noAnomaly.fanAnomaly = false;
  noAnomaly.delegate->performLaunch();
  EXPECT_EQ(noAnomaly.log.calls(),
            concat(concat({"hasFanAnomaly", "terminate"}, kSettingsAtLogin), {"asyncAfter 5"}));

  for (Launch* launch : {&guarded, &noAnomaly}) {
    EXPECT_EQ(launch->application.pendingWorkItems(), 1u);
    launch->application.advance(60.0);
    EXPECT_EQ(launch->log.count("requestAuthorization"), 0);
    EXPECT_EQ(launch->gpus.defaultDevice->counts.encodes, 0);
  }
}

} // namespace
} // namespace ventaro
