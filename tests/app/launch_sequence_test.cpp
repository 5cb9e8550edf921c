#include "app/app_delegate.h"
#include "app/commands.h"
#include "app/device_choice.h"
#include "tests/platform/fakes.h"
#include "tests/workload/fake_gpu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace ventaro {
namespace {

using ::testing::ElementsAre;
using namespace ventaro::testing;

// One process's services, all fakes sharing one call log and one virtual clock.
struct Launch {
  explicit Launch(bool loginStart, int gpuCount = 1,
                  std::map<std::string, DefaultValue> stored = {}) {
    defaults->stored = std::move(stored);
    gpus.defaultDevice->workingSet = 100 * 67'108'864ull; // multiplications = stress level
    gpus.defaultDevice->onCommit = [this] { log.record("load"); };
    gpus.gpus.resize(static_cast<std::size_t>(gpuCount), gpus.defaultDevice);
    services.application = &application;
    services.userDefaults = defaults;
    services.notificationCenter = center;
    services.gpuPlatform = &gpus;
    services.hasFanAnomaly = [this] {
      log.record("hasFanAnomaly");
      return fanAnomaly;
    };
    services.launchedAsLoginItem = loginStart;
    services.reportRefusal = [this](RunKind, const std::string&) { log.record("refused"); };
    services.reportRun = [this](const RunReport& report) { reports.push_back(report); };
    delegate = std::make_shared<AppDelegate>(services);
  }

  CallLog log;
  FakeApplication application{log};
  std::shared_ptr<FakeUserDefaults> defaults = std::make_shared<FakeUserDefaults>(log);
  std::shared_ptr<RecordingNotificationCenter> center =
      std::make_shared<RecordingNotificationCenter>(log);
  FakeGpuPlatform gpus;
  bool fanAnomaly = true;
  AppServices services;
  std::vector<RunReport> reports;
  std::shared_ptr<AppDelegate> delegate;
};

// Two or more GPUs refuse the start (exit status 3, reported), and a login start without stuck
// fans ends; neither runs the load. Only a login start reads the fans; the CPU stands in for a
// missing GPU.
TEST(LaunchSequence, RefusesSeveralGpusAndEndsALoginStartWithoutStuckFans) {
  // A login start, the GPUs, stuck fans; then whether the start is refused, and the load runs.
  const std::tuple<bool, int, bool, bool, bool> cases[] = {
      {true, 1, true, false, true},  {true, 1, false, false, false}, {true, 2, true, true, false},
      {false, 3, true, true, false}, {false, 0, false, false, true},
  };
  for (const auto& [loginStart, gpus, anomaly, refused, load] : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "login " << loginStart << ", GPUs " << gpus << ", stuck " << anomaly);
    Launch launch(loginStart, gpus);
    launch.fanAnomaly = anomaly;
    launch.delegate->performLaunch();
    launch.application.advance(60.0);
    EXPECT_EQ(launch.log.timeOf("setExitStatus 3").has_value(), refused);
    EXPECT_EQ(launch.log.timeOf("refused").has_value(), refused);
    EXPECT_EQ(launch.log.timeOf("hasFanAnomaly").has_value(), loginStart);
    EXPECT_EQ(launch.log.timeOf("load").has_value(), load);
  }
}

// What the scheduled run receives, seen through what the run then does.
TEST(LaunchSequence, SchedulesTheRunWithTheClampedSettings) {
  using Stored = std::optional<std::int64_t>;
  const struct {
    const char* name;
    bool loginStart;
    Stored delay; // DelayAtLogin stored, if any
    bool hide;
    Stored stress;
    double seconds; // until the run starts
    bool startNotice;
    std::int64_t multiplications;
  } cases[] = {
      {"user ignores login settings", false, 30, true, {}, 0.0, true, 100},
      {"login, defaults", true, {}, false, {}, 5.0, true, 100},
      {"login, delay 30", true, 30, false, {}, 30.0, true, 100},
      {"login, delay -4", true, -4, false, {}, 0.0, true, 100},
      {"login, largest delay", true, INT64_MAX, false, {}, 9223372036854775807.0, true, 100},
      {"login, hidden", true, {}, true, {}, 5.0, false, 100},
      {"stress -20", false, {}, false, -20, 0.0, true, 1},
      {"stress 250", false, {}, false, 250, 0.0, true, 250},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Launch launch(c.loginStart, 1, {{"HideAtLogin", c.hide}});
    for (const auto& [key, value] :
         {std::pair{"DelayAtLogin", c.delay}, {"StressLevel", c.stress}}) {
      if (value) {
        launch.defaults->stored[key] = *value;
      }
    }
    launch.delegate->performLaunch();
    ASSERT_THAT(launch.application.delays, ElementsAre(c.seconds));
    launch.application.advance();
    EXPECT_EQ(launch.log.timeOf("load"), c.seconds + 5.0);
    EXPECT_EQ(launch.gpus.defaultDevice->encodes, c.multiplications);
    EXPECT_EQ(launch.log.timeOf("add Ventaro Start").has_value(), c.startNotice);
    EXPECT_EQ(launch.log.timeOf("add Ventaro Result").has_value(), !c.loginStart);
    ASSERT_EQ(launch.reports.size(), 1u) << "the run reports what it did";
    EXPECT_EQ(launch.reports[0].runKind, c.loginStart ? RunKind::fanReset : RunKind::benchmark);
  }
}

// A device chosen among several GPUs: the guard lets the start through and the load runs on
// that device, at a user start and at a login start.
TEST(LaunchSequence, AChosenDeviceRunsOnAMachineWithSeveralGpus) {
  for (const bool loginStart : {false, true}) {
    Launch launch(loginStart, 1);
    auto chosen = std::make_shared<FakeDevice>();
    chosen->workingSet = 67'108'864ull;
    launch.gpus.gpus.push_back(chosen);
    ChosenDevicePlatform platform(launch.gpus, chosen);
    launch.services.gpuPlatform = &platform;
    launch.delegate = std::make_shared<AppDelegate>(launch.services);
    launch.delegate->performLaunch();
    launch.application.advance(60.0);
    EXPECT_EQ(chosen->encodes, 1) << loginStart;
    EXPECT_EQ(launch.gpus.defaultDevice->encodes, 0) << loginStart;
    ASSERT_EQ(launch.reports.size(), 1u);
    EXPECT_EQ(launch.reports[0].device, chosen);
  }
}

// Ids are numbered per backend, the CPU last; the list shows each device's PCI address
// and its peak where they are known. A chosen processor-type device counts as no GPU.
TEST(DeviceNames, AreNumberedPerBackendWithTheCpuLastAndShowThePciAddress) {
  FakeGpuPlatform platform;
  const auto device = [](const char* backend, const char* address, bool processor,
                         std::optional<double> peak = std::nullopt) {
    auto made = std::make_shared<FakeDevice>();
    made->backendName = backend;
    made->processor = processor;
    made->peak = peak;
    if (address != nullptr) {
      made->pci = gpu::PciIdentity{address, 0x10de, 0x2330};
    }
    return made;
  };
  platform.gpus = {device("cuda", "0000:17:00.0", false, 66908.16), device("vulkan", nullptr, true),
                   device("vulkan", "0000:17:00.0", false, 1e300)}; // no device's: unknown
  const std::vector<NamedDevice> named =
      namedDevices(platform, [&] { return device("cpu", nullptr, true); });
  std::vector<std::string> ids;
  for (const NamedDevice& each : named) {
    ids.push_back(each.id);
  }
  EXPECT_THAT(ids, ElementsAre("cuda:0", "vulkan:0", "vulkan:1", "cpu"));

  std::ostringstream text, json;
  listDevices(named, false, text);
  listDevices(named, true, json);
  EXPECT_EQ(text.str(), "cuda:0\tcuda\tFake GPU\t17179869184\t0000:17:00.0\t66908\n"
                        "vulkan:0\tvulkan\tFake GPU\t17179869184\t-\t-\n"
                        "vulkan:1\tvulkan\tFake GPU\t17179869184\t0000:17:00.0\t-\n"
                        "cpu\tcpu\tFake GPU\t17179869184\t-\t-\n");
  EXPECT_THAT(json.str(),
              ::testing::HasSubstr("\"pci_address\":\"0000:17:00.0\",\"peak_gflops\":66908}"));
  EXPECT_THAT(json.str(), ::testing::HasSubstr("\"pci_address\":null,\"peak_gflops\":null}"));

  EXPECT_EQ(ChosenDevicePlatform(platform, named[2].device).gpuCount(), 1u);
  EXPECT_EQ(ChosenDevicePlatform(platform, named[1].device).gpuCount(), 0u) << "lavapipe";
  EXPECT_EQ(ChosenDevicePlatform(platform, named[3].device).gpuCount(), 0u) << "the CPU";
}

// "all" takes every GPU once, from the backend listed first, and no processor-type device;
// the CPU only where there is no GPU. Names are checked one by one.
TEST(DeviceNames, AllIsEveryGpuOnceAndAListNamesEachDevice) {
  FakeGpuPlatform platform;
  const auto device = [](const char* backend, const char* address, bool processor) {
    auto made = std::make_shared<FakeDevice>();
    made->backendName = backend;
    made->processor = processor;
    if (address != nullptr) {
      made->pci = gpu::PciIdentity{address, 0x1002, 0x67df};
    }
    return made;
  };
  const auto cpu = [&] { return device("cpu", nullptr, true); };
  platform.gpus = {device("cuda", "0000:17:00.0", false), device("vulkan", nullptr, true),
                   device("vulkan", "0000:17:00.0", false),
                   device("vulkan", "0000:65:00.0", false)};
  const std::vector<NamedDevice> named = namedDevices(platform, cpu);
  const auto idsOf = [](const std::optional<std::vector<NamedDevice>>& devices) {
    std::string ids;
    for (const NamedDevice& each : devices.value_or(std::vector<NamedDevice>{})) {
      ids += each.id + " ";
    }
    return ids;
  };
  std::string problem;
  EXPECT_EQ(idsOf(chooseDevices(named, "all", problem)), "cuda:0 vulkan:2 ");
  EXPECT_EQ(idsOf(chooseDevices(named, "vulkan:0,cpu", problem)), "vulkan:0 cpu ");
  EXPECT_FALSE(chooseDevices(named, "cpu,cpu", problem));
  EXPECT_THAT(problem, ::testing::HasSubstr("named twice"));
  EXPECT_FALSE(chooseDevices(named, "cpu,", problem));
  EXPECT_THAT(problem, ::testing::HasSubstr("unknown device ''"));

  FakeGpuPlatform noGpu;
  noGpu.gpus = {device("vulkan", nullptr, true)};
  EXPECT_EQ(idsOf(chooseDevices(namedDevices(noGpu, cpu), "all", problem)), "cpu ");
}

} // namespace
} // namespace ventaro
