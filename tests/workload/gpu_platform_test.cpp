#include "tests/workload/fake_gpu.h"
#include "workload/default_device.h"
#include "workload/gpu_platform.h"
#include "workload/launch_plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <numeric>

namespace ventaro::gpu {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

const PciIdentity kRadeon{"0000:02:00.0", 0x1002, 0x67df};
const PciIdentity kGeForce{"0000:17:00.0", 0x10de, 0x2330};

// A fake device of `backend` at `pci` (none: unknown), or of processor type.
std::shared_ptr<testing::FakeDevice>
device(const std::string& backend, std::optional<PciIdentity> pci, bool processor = false) {
  auto made = std::make_shared<testing::FakeDevice>();
  made->backendName = backend;
  made->pci = std::move(pci);
  made->processor = processor;
  return made;
}

// A backend listing `listed`, of which those in `usable` can run a load.
BackendRegistration backend(const std::string& id, std::vector<std::shared_ptr<Device>> listed,
                            std::optional<std::vector<std::shared_ptr<Device>>> usable = {}) {
  return {id, [listed] { return listed; },
          usable ? DeviceLister([usable] { return *usable; }) : DeviceLister()};
}

// The one GPU through the first backend that can drive it, matched by address, else by ids;
// else the processor with a note naming the GPU, why, and what to install.
TEST(DefaultDevice, IsTheGpuThroughTheFirstBackendThatDrivesItElseTheProcessor) {
  const auto cuda = device("cuda", PciIdentity{"0000:17:00.0", 0x10de, 0});
  const auto nvidiaVulkan = device("vulkan", kGeForce);
  const auto radeonByIds = device("vulkan", PciIdentity{"", 0x1002, 0x67df});
  const auto otherRadeon = device("vulkan", PciIdentity{"0000:06:00.0", 0x1002, 0x67df});
  const auto lavapipe = device("vulkan", std::nullopt, true);
  const auto noIdentity = device("vulkan", std::nullopt);
  struct Case {
    const char* what;
    std::vector<PciIdentity> gpus;
    std::vector<BackendRegistration> backends;
    std::shared_ptr<Device> chosen; // null: the processor
    std::vector<std::string> note;  // parts of the note; none: no note
  };
  const Case cases[] = {
      {"no GPU: never a processor-type device", {}, {backend("vulkan", {lavapipe})}, nullptr, {}},
      {"NVIDIA with cuBLAS: CUDA first",
       {kGeForce},
       {backend("cuda", {cuda}), backend("vulkan", {nvidiaVulkan})},
       cuda,
       {}},
      {"NVIDIA without cuBLAS: its Vulkan device",
       {kGeForce},
       {backend("cuda", {cuda}, std::vector<std::shared_ptr<Device>>{}),
        backend("vulkan", {lavapipe, nvidiaVulkan})},
       nvidiaVulkan,
       {}},
      {"a driver that does not give the address: by vendor and device id",
       {kRadeon},
       {backend("cuda", {}), backend("vulkan", {lavapipe, radeonByIds})},
       radeonByIds,
       {}},
      {"another GPU's device, lavapipe and a device without identity are not this GPU",
       {kRadeon},
       {backend("cuda", {}), backend("vulkan", {otherRadeon, lavapipe, noIdentity})},
       nullptr,
       {"the GPU 0000:02:00.0 [1002:67df] Radeon RX 580 cannot be driven (cuda: no device for "
        "it; vulkan: no device for it); install mesa-vulkan-drivers and libvulkan1; the load "
        "runs on the processor"}},
      {"NVIDIA listed by CUDA without cuBLAS, no Vulkan driver",
       {kGeForce},
       {backend("cuda", {cuda}, std::vector<std::shared_ptr<Device>>{}), backend("vulkan", {})},
       nullptr,
       {"(cuda: its device cannot run the load; vulkan: no device for it)", "cuBLAS"}},
      {"a build without GPU backends",
       {kGeForce},
       {},
       nullptr,
       {"(this build has no GPU backend)", "NVIDIA driver"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DeviceChoice choice = chooseDefaultDevice(c.gpus, c.backends, [](const PciIdentity& gpu) {
      return gpu == kRadeon ? "Radeon RX 580" : "";
    });
    EXPECT_EQ(choice.device, c.chosen);
    EXPECT_EQ(choice.note.empty(), c.note.empty()) << choice.note;
    for (const std::string& part : c.note) {
      EXPECT_THAT(choice.note, HasSubstr(part));
    }
  }
}

// The count asks no backend (a login start opens no vendor library); the default is chosen
// once, its note told once, the CPU device made only where it is the default.
TEST(BackendPlatform, CountsOnThePciBusAndChoosesTheDefaultOnce) {
  for (const bool driven : {true, false}) {
    SCOPED_TRACE(driven ? "driven" : "not driven");
    int listings = 0, cpuDevicesMade = 0;
    std::vector<std::string> notes;
    const auto gpu = device("vulkan", kRadeon);
    const auto lavapipe = device("vulkan", std::nullopt, true);
    const auto cpu = device("cpu", std::nullopt, true);
    BackendPlatform platform(
        PlatformParts{{backend("cuda", {}),
                       {"vulkan",
                        [&] {
                          ++listings;
                          return driven ? std::vector<std::shared_ptr<Device>>{lavapipe, gpu}
                                        : std::vector<std::shared_ptr<Device>>{lavapipe};
                        },
                        {}}},
                      [] { return std::vector<PciIdentity>{kRadeon}; },
                      [&] {
                        ++cpuDevicesMade;
                        return cpu;
                      },
                      {},
                      [&](const std::string& note) { notes.push_back(note); }});
    EXPECT_EQ(platform.gpuCount(), 1u);
    EXPECT_EQ(listings, 0) << "no backend asked for the count";
    const std::shared_ptr<Device> chosen = platform.createSystemDefaultDevice();
    EXPECT_EQ(chosen, driven ? std::shared_ptr<Device>(gpu) : cpu);
    EXPECT_EQ(platform.createSystemDefaultDevice(), chosen) << "the same object";
    EXPECT_EQ(cpuDevicesMade, driven ? 0 : 1);
    EXPECT_EQ(notes.size(), driven ? 0u : 1u);
    EXPECT_EQ(platform.copyAllDevices().size(), driven ? 2u : 1u) << "lavapipe is listed";
    EXPECT_EQ(listings, 1) << "each backend lists its devices once";
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
