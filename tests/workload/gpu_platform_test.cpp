#include "tests/workload/fake_gpu.h"
#include "workload/gpu_platform.h"

#include <gtest/gtest.h>

namespace ventaro::gpu {
namespace {

TEST(BackendPlatform, DefaultIsTheFirstGpuElseOneCpuDeviceThatIsNeverListed) {
  for (const std::size_t gpuCount : {0u, 2u}) {
    std::vector<std::shared_ptr<Device>> gpus;
    for (std::size_t i = 0; i < gpuCount; ++i) {
      gpus.push_back(std::make_shared<testing::FakeDevice>());
    }
    int listings = 0;
    int cpuDevicesMade = 0;
    BackendPlatform platform(
        [&] {
          ++listings;
          return gpus;
        },
        [&] {
          ++cpuDevicesMade;
          return std::make_shared<testing::FakeDevice>();
        });
    const std::shared_ptr<Device> device = platform.createSystemDefaultDevice();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device, gpuCount > 0 ? gpus.front() : device) << gpuCount;
    gpus.insert(gpus.begin(), std::make_shared<testing::FakeDevice>()); // a later GPU
    EXPECT_EQ(platform.createSystemDefaultDevice(), device) << "chosen once, the same object";
    EXPECT_EQ(cpuDevicesMade, gpuCount > 0 ? 0 : 1);
    EXPECT_EQ(listings, 1);
    EXPECT_EQ(platform.copyAllDevices(), gpus) << "the CPU device is not a GPU";
  }
}

} // namespace
} // namespace ventaro::gpu
