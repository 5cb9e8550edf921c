// The Vulkan backend over drivers that misbehave: enumerations whose second call writes fewer
// or more items than the first counted, one device offered by two drivers, a device that
// cannot be opened, and a device lost in the middle of the load.

#include "tests/workload/fake_vulkan_driver.h"
#include "tests/workload/square_checks.h"
#include "workload/matrix_load.h"
#include "workload/vulkan/vulkan_device.h"
#include "workload/vulkan/vulkan_devices.h"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <unistd.h>

namespace ventaro::gpu::vulkan {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using testing::FakePhysicalDevice;
using testing::FakeVulkanDriver;
using ::testing::HasSubstr;

FakePhysicalDevice gpuAt(std::uint32_t bus, std::uint8_t uuidByte,
                         VkDriverId driver = VK_DRIVER_ID_MESA_RADV) {
  FakePhysicalDevice device;
  device.name = "GPU " + std::to_string(bus) + " (" + std::to_string(driver) + ")";
  device.pci = VkPhysicalDevicePCIBusInfoPropertiesEXT{};
  device.pci->pciBus = bus;
  device.uuid.fill(uuidByte);
  device.driver = driver;
  return device;
}

std::vector<std::string> namesOf(const std::vector<std::shared_ptr<VulkanDevice>>& devices) {
  std::vector<std::string> names;
  for (const auto& device : devices) {
    names.push_back(device->name());
  }
  return names;
}

// Only the devices the second call wrote are used (the old failure: the unwritten null
// handles were queried, and the process crashed); a list that grew in between is asked for
// again; a driver that always answers VK_INCOMPLETE gives what it wrote.
TEST(VulkanEnumeration, UsesWhatTheSecondCallWrote) {
  struct Case {
    const char* what;
    std::uint32_t countedShort, writtenShort;
    bool alwaysIncomplete;
    std::size_t listed;
  };
  const Case table[] = {
      {"two of three went away", 0, 2, false, 1},
      {"all went away", 0, 3, false, 0},
      {"one came in between (VK_INCOMPLETE, asked again)", 1, 0, false, 3},
      {"always VK_INCOMPLETE", 0, 0, true, 3},
      {"nothing changed", 0, 0, false, 3},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.what);
    FakeVulkanDriver driver;
    driver.devices = {gpuAt(1, 1), gpuAt(2, 2), gpuAt(3, 3)};
    driver.countedShort = c.countedShort;
    driver.writtenShort = c.writtenShort;
    driver.alwaysIncomplete = c.alwaysIncomplete;
    const auto table = driver.api();
    const auto devices = listDevices(table);
    ASSERT_EQ(devices.size(), c.listed);
    for (std::size_t i = 0; i < devices.size(); ++i) {
      EXPECT_EQ(devices[i]->name(), "GPU " + std::to_string(i + 1));
    }
  }
}

// What each listed device reports of itself, from the structures its driver fills.
TEST(VulkanEnumeration, DescribesEachDeviceFromItsProperties) {
  FakeVulkanDriver driver;
  FakePhysicalDevice gpu = gpuAt(0x83, 7);
  gpu.pci->pciDomain = 0x10000; // beyond 16 bits: only the low 16 are a domain
  gpu.pci->pciDevice = 0x1f;
  gpu.pci->pciFunction = 3;
  FakePhysicalDevice software;
  software.type = VK_PHYSICAL_DEVICE_TYPE_CPU;
  software.vendorId = 0x10005;
  driver.devices = {gpu, software};
  const auto table = driver.api();
  const auto devices = listDevices(table);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]->pciIdentity(), (PciIdentity{"0000:83:1f.3", 0x1002, 0x67df}));
  EXPECT_FALSE(devices[0]->isProcessor());
  EXPECT_EQ(devices[0]->recommendedMaxWorkingSetSize(), std::uint64_t{8} << 30);
  EXPECT_EQ(devices[0]->facts().uuid[0], 7);
  EXPECT_EQ(devices[1]->pciIdentity(), (PciIdentity{"", 0x10005, 0x67df}));
  EXPECT_TRUE(devices[1]->isProcessor());
}

// Two listings are one device where their UUIDs or their PCI addresses agree; of one device,
// a driver of its own wins over a layered one, either over a processor-type one, else the
// first listed, in the place where the device was first listed.
TEST(VulkanEnumeration, ListsADeviceOfferedByTwoDriversOnce) {
  DeviceFacts native, layered, processor, second, elsewhere;
  native.pci.address = "0000:03:00.0";
  native.uuid.fill(1);
  layered = native;
  layered.layered = true;
  processor = native;
  processor.processor = true;
  second = native;
  elsewhere.pci.address = "0000:04:00.0";
  elsewhere.uuid.fill(2);
  DeviceFacts sameUuidNoAddress = elsewhere;
  sameUuidNoAddress.pci.address.clear();
  DeviceFacts sameAddressOtherUuid = native;
  sameAddressOtherUuid.uuid.fill(9);
  DeviceFacts unknownA, unknownB; // neither UUID nor address: never merged
  struct Case {
    const char* what;
    std::vector<DeviceFacts> listed;
    std::vector<std::size_t> kept;
  };
  const std::vector<Case> table{
      {"layered first", {layered, native}, {1}},
      {"processor first", {processor, elsewhere, native}, {2, 1}},
      {"processor and layered", {processor, layered}, {1}},
      {"two native drivers", {native, second}, {0}},
      {"same UUID, no address", {elsewhere, sameUuidNoAddress}, {0}},
      {"same address, other UUID", {layered, sameAddressOtherUuid}, {1}},
      {"nothing to tell them apart by", {unknownA, unknownB}, {0, 1}},
      {"two devices", {native, elsewhere}, {0, 1}},
  };
  for (const Case& c : table) {
    EXPECT_EQ(onePerDevice(c.listed), c.kept) << c.what;
  }

  FakeVulkanDriver driver; // the same through a driver's listing
  driver.devices = {gpuAt(3, 1, VK_DRIVER_ID_MESA_DOZEN), gpuAt(4, 2), gpuAt(3, 1)};
  const auto api = driver.api();
  EXPECT_THAT(namesOf(listDevices(api)), ElementsAre("GPU 3", "GPU 4"));
  EXPECT_FALSE(listDevices(api).front()->facts().layered);
}

TEST(VulkanEnumeration, ADeviceThatCannotBeOpenedRefusesWorkWithTheDriversReason) {
  FakeVulkanDriver driver;
  driver.devices = {gpuAt(1, 1)};
  const auto api = driver.api();
  const auto devices = listDevices(api);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]->newCommandQueue(), nullptr);
  EXPECT_EQ(devices[0]->lastFailure(), "vkCreateDevice: VK_ERROR_INITIALIZATION_FAILED");
  const LoadOutcome outcome = runMatrixLoad(*devices[0], 64, 1);
  ASSERT_TRUE(outcome.failed());
  EXPECT_THAT(*outcome.failure, HasSubstr("VK_ERROR_INITIALIZATION_FAILED"));
}

// The queue comes from a family that computes and draws nothing where there is one, else from
// the first that computes; a family without queues does not count.
TEST(VulkanEnumeration, OpensTheDeviceOnAComputeOnlyQueueFamilyWhereItHasOne) {
  constexpr VkQueueFlags graphics = VK_QUEUE_GRAPHICS_BIT | VK_QUEUE_COMPUTE_BIT;
  constexpr VkQueueFlags compute = VK_QUEUE_COMPUTE_BIT | VK_QUEUE_TRANSFER_BIT;
  constexpr VkQueueFlags transfer = VK_QUEUE_TRANSFER_BIT;
  const auto family = [](VkQueueFlags flags, std::uint32_t queues = 1) {
    return VkQueueFamilyProperties{flags, queues, 0, {}};
  };
  struct Case {
    const char* what;
    std::vector<VkQueueFamilyProperties> families;
    std::optional<std::uint32_t> chosen;
  };
  const std::vector<Case> table{
      {"compute-only after graphics", {family(graphics), family(transfer), family(compute)}, 2},
      {"graphics only", {family(transfer), family(graphics), family(graphics)}, 1},
      {"compute-only family without queues", {family(graphics), family(compute, 0)}, 0},
      {"compute-only first", {family(compute), family(graphics)}, 0},
      {"none computes", {family(transfer)}, std::nullopt},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(computeQueueFamily(c.families), c.chosen);
    FakeVulkanDriver driver; // the same where the device is opened
    driver.devices = {gpuAt(1, 1)};
    driver.devices[0].queueFamilies = c.families;
    const auto api = driver.api();
    const auto devices = listDevices(api);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->newCommandQueue(), nullptr);
    EXPECT_EQ(driver.requestedQueueFamily, c.chosen);
    if (!c.chosen) {
      EXPECT_EQ(devices[0]->lastFailure(), "the device has no compute queue");
    }
  }
}

// An AMD GPU's peak comes from its active compute units and the highest level of its shader
// clock under its PCI folder; without either, and for any other device, it is unknown.
TEST(VulkanEnumeration, KnowsAnAmdGpusPeakFromItsComputeUnitsAndClock) {
  const auto root =
      std::filesystem::temp_directory_path() / ("ventaro-amd-" + std::to_string(getpid()));
  std::filesystem::create_directories(root / "0000:03:00.0");
  std::ofstream(root / "0000:03:00.0" / "pp_dpm_sclk") << "0: 500Mhz\n1: 2000Mhz *\n";
  FakePhysicalDevice amd = gpuAt(3, 1);
  amd.activeComputeUnits = 40;
  FakePhysicalDevice matrixUnits = amd; // matrix instructions: two FP32 operations per lane
  matrixUnits.uuid.fill(2);
  matrixUnits.pci->pciDevice = 1;
  matrixUnits.cooperativeMatrix = true;
  std::filesystem::create_directories(root / "0000:03:01.0");
  std::ofstream(root / "0000:03:01.0" / "pp_dpm_sclk") << "0: 500Mhz\n1: 2000Mhz *\n";
  FakePhysicalDevice noClock = gpuAt(4, 3);
  noClock.activeComputeUnits = 40;
  FakePhysicalDevice noUnits = gpuAt(3, 4); // the clock is there, the units are not
  noUnits.pci->pciDevice = 2;
  std::filesystem::create_symlink(root / "0000:03:00.0", root / "0000:03:02.0");
  FakePhysicalDevice other = amd;
  other.uuid.fill(5);
  other.pci->pciBus = 9;
  other.vendorId = 0x10de;
  std::filesystem::create_symlink(root / "0000:03:00.0", root / "0000:09:00.0");
  FakePhysicalDevice software = amd;
  software.uuid.fill(6);
  software.pci->pciBus = 5;
  software.type = VK_PHYSICAL_DEVICE_TYPE_CPU;
  std::filesystem::create_symlink(root / "0000:03:00.0", root / "0000:05:00.0");

  FakeVulkanDriver driver;
  driver.devices = {amd, matrixUnits, noClock, noUnits, other, software};
  const auto api = driver.api();
  const auto devices = listDevices(api, root.string());
  ASSERT_EQ(devices.size(), 6u);
  EXPECT_EQ(devices[0]->peakGflops(), 40 * 128 * 2000 / 1e3);
  EXPECT_EQ(devices[1]->peakGflops(), 40 * 256 * 2000 / 1e3);
  for (std::size_t unknown = 2; unknown < devices.size(); ++unknown) {
    EXPECT_EQ(devices[unknown]->peakGflops(), std::nullopt) << devices[unknown]->name();
  }
  std::filesystem::remove_all(root);
}

// The machine's own first Vulkan device, through a table that reports it lost.
class LostVulkanDevice : public ::testing::TestWithParam<testing::LostAt> {
protected:
  void SetUp() override {
    const Made<const InstanceApi*> instance = instanceApi();
    if (!instance || listDevices(**instance).empty()) {
      GTEST_SKIP() << "no Vulkan loader, driver or device on this machine (see G_MESSAGES_DEBUG)";
    }
    driver.emplace(**instance);
    driver->at = GetParam();
    device = listDevices(driver->api()).front();
  }

  std::optional<testing::LosingVulkanDriver> driver;
  std::shared_ptr<VulkanDevice> device;
};

// The loss ends the load as a failed one that names it; after it, nothing more runs on the
// device and each refusal says why.
TEST_P(LostVulkanDevice, EndsTheLoadWithTheReasonAndRefusesFurtherWork) {
  driver->healthySubmissions = 2; // the fill and the first product; the timed run is lost
  const LoadOutcome outcome = runMatrixLoad(*device, 64, 3);
  ASSERT_TRUE(outcome.failed());
  EXPECT_THAT(*outcome.failure,
              AllOf(HasSubstr("VK_ERROR_DEVICE_LOST"),
                    HasSubstr(GetParam() == testing::LostAt::submit ? "vkQueueSubmit"
                                                                    : "vkWaitForFences")));
  EXPECT_EQ(outcome.gflops, 0);

  EXPECT_EQ(device->newCommandQueue(), nullptr);
  EXPECT_THAT(device->lastFailure(), HasSubstr("the device was lost"));
  const testing::Backend backend{*device, readMatrix, writeMatrix};
  const auto m = backend.matrix(4);
  ASSERT_NE(m, nullptr);
  EXPECT_FALSE(device->fillUniform(*m, 1));
  EXPECT_THAT(device->lastFailure(), HasSubstr("the device was lost"));
  const std::vector<ElementPosition> first{{0, 0}};
  EXPECT_FALSE(device->readElements(*m, first));
  EXPECT_THAT(device->lastFailure(), HasSubstr("the device was lost"));
}

INSTANTIATE_TEST_SUITE_P(At, LostVulkanDevice,
                         ::testing::Values(testing::LostAt::submit, testing::LostAt::fenceWait),
                         [](const auto& info) {
                           return info.param == testing::LostAt::submit ? "Submit" : "FenceWait";
                         });

} // namespace
} // namespace ventaro::gpu::vulkan
