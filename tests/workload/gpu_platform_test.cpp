#include "tests/workload/fake_gpu.h"
#include "workload/gpu_platform.h"
#include "workload/launch_plan.h"

#include <gtest/gtest.h>
#include <numeric>

namespace ventaro::gpu {
namespace {

TEST(BackendPlatform, DefaultIsTheFirstUsableGpuElseOneCpuDeviceThatIsNeverListed) {
  // GPUs listed, GPUs usable (cuBLAS missing leaves none), which the default is.
  for (const auto& [listed, usable] : {std::pair{0u, 0u}, {2u, 2u}, {2u, 0u}}) {
    std::vector<std::shared_ptr<Device>> gpus;
    for (std::size_t i = 0; i < listed; ++i) {
      gpus.push_back(std::make_shared<testing::FakeDevice>());
    }
    const auto cpu = std::make_shared<testing::FakeDevice>();
    int cpuDevicesMade = 0;
    BackendPlatform platform([&] { return gpus; },
                             [&] {
                               ++cpuDevicesMade;
                               return cpu;
                             },
                             [&] { return usable > 0 ? gpus : decltype(gpus){}; });
    const std::shared_ptr<Device> device = platform.createSystemDefaultDevice();
    EXPECT_EQ(device, usable > 0 ? gpus.front() : cpu) << listed << " " << usable;
    gpus.insert(gpus.begin(), std::make_shared<testing::FakeDevice>()); // a later GPU
    EXPECT_EQ(platform.createSystemDefaultDevice(), device) << "chosen once, the same object";
    EXPECT_EQ(cpuDevicesMade, usable > 0 ? 0 : 1);
    EXPECT_EQ(platform.copyAllDevices(), gpus) << "the CPU device is not a GPU";
  }
}

TEST(LaunchPlan, ReplaysEveryCountExactlyWithAFewGraphs) {
  std::vector<std::int64_t> counts(100'000);
  std::iota(counts.begin(), counts.end(), 1);
  counts.push_back(67'108'863);
  for (const std::int64_t count : counts) {
    std::int64_t replayed = 0;
    const std::vector<GraphLaunch> plan = launchPlan(count);
    ASSERT_LE(plan.size(), std::size_t{maxGraphLevel + 1}) << "a few graphs";
    for (const GraphLaunch& launch : plan) {
      ASSERT_TRUE(launch.level >= 0 && launch.level <= maxGraphLevel && launch.times >= 1);
      replayed += launch.times << launch.level;
    }
    ASSERT_EQ(replayed, count);
  }
  EXPECT_TRUE(launchPlan(0).empty());
}

} // namespace
} // namespace ventaro::gpu
