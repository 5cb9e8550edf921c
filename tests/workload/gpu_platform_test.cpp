#include "tests/workload/fake_gpu.h"
#include "workload/gpu_platform.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace ventaro::gpu {
namespace {

struct Backends {
  std::vector<std::shared_ptr<Device>> gpus;
  int listings = 0;
  int cpuDevicesMade = 0;

  BackendPlatform platform() {
    return BackendPlatform(
        [this] {
          ++listings;
          return gpus;
        },
        [this] {
          ++cpuDevicesMade;
          auto cpu = std::make_shared<testing::FakeDevice>();
          cpu->deviceName = "processor";
          return cpu;
        });
  }
};

TEST(BackendPlatform, WithoutGpusTheDefaultIsOneCpuDeviceThatIsNeverListed) {
  Backends backends;
  BackendPlatform platform = backends.platform();
  const std::shared_ptr<Device> first = platform.createSystemDefaultDevice();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->name(), "processor");
  EXPECT_EQ(platform.createSystemDefaultDevice(), first) << "the same object every time";
  EXPECT_EQ(platform.createSystemDefaultDevice(), first);
  EXPECT_EQ(backends.cpuDevicesMade, 1);
  EXPECT_TRUE(platform.copyAllDevices().empty()) << "the CPU device is not a GPU";
}

TEST(BackendPlatform, WithGpusTheDefaultIsTheFirstAndNoCpuDeviceIsMade) {
  Backends backends;
  backends.gpus = {std::make_shared<testing::FakeDevice>(),
                   std::make_shared<testing::FakeDevice>()};
  BackendPlatform platform = backends.platform();
  EXPECT_EQ(platform.createSystemDefaultDevice(), backends.gpus.front());
  EXPECT_EQ(platform.createSystemDefaultDevice(), backends.gpus.front());
  EXPECT_EQ(platform.copyAllDevices(), backends.gpus);
  EXPECT_EQ(backends.cpuDevicesMade, 0);
}

TEST(BackendPlatform, DefaultDeviceIsChosenOnceEvenIfTheGpusChangeLater) {
  Backends backends;
  BackendPlatform platform = backends.platform();
  const std::shared_ptr<Device> cpu = platform.createSystemDefaultDevice();
  backends.gpus = {std::make_shared<testing::FakeDevice>()};
  EXPECT_EQ(platform.createSystemDefaultDevice(), cpu);
  EXPECT_EQ(backends.listings, 1);
}

TEST(SystemGpuPlatform, HasADefaultDeviceThatIsTheFirstGpuOrNoGpuAtAll) {
  GpuPlatform& platform = systemGpuPlatform();
  EXPECT_EQ(&platform, &systemGpuPlatform());
  const std::shared_ptr<Device> device = platform.createSystemDefaultDevice();
  ASSERT_NE(device, nullptr) << "every machine has a default device";
  EXPECT_EQ(platform.createSystemDefaultDevice(), device);
  EXPECT_FALSE(device->name().empty());
  EXPECT_GE(device->recommendedMaxWorkingSetSize(), std::uint64_t{64} << 20);
  const std::vector<std::shared_ptr<Device>> gpus = platform.copyAllDevices();
  if (gpus.empty()) {
    SUCCEED() << "no GPU here: the default is the CPU device";
  } else {
    EXPECT_EQ(device, gpus.front());
  }
}

} // namespace
} // namespace ventaro::gpu
