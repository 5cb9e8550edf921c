#pragma once

// Stand-ins for a Vulkan driver, as tables of functions the backend is handed instead of the
// loader's: a driver made of plain functions that lists devices with chosen properties and
// can change its list between the two calls of an enumeration; and the machine's own driver
// with the loss of the device reported after a chosen number of submissions.

#include "workload/vulkan/vulkan_api.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace ventaro::testing {

struct FakePhysicalDevice {
  std::string name = "Fake GPU (FAKE DRIVER)";
  VkPhysicalDeviceType type = VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU;
  std::uint32_t vendorId = 0x1002;
  std::uint32_t deviceId = 0x67df;
  std::array<std::uint8_t, VK_UUID_SIZE> uuid{};              // all zero: not reported
  std::optional<VkPhysicalDevicePCIBusInfoPropertiesEXT> pci; // offered where set
  VkDriverId driver = VK_DRIVER_ID_MESA_RADV;
  /// Its queue families; one that only computes where empty.
  std::vector<VkQueueFamilyProperties> queueFamilies;
  /// Active compute units, reported through VK_AMD_shader_core_properties2 where not 0.
  std::uint32_t activeComputeUnits = 0;
  /// Whether it offers VK_KHR_cooperative_matrix.
  bool cooperativeMatrix = false;
};

/// A driver of plain functions over `devices`. Only one is in use at a time (the functions
/// reach it through a static pointer).
class FakeVulkanDriver {
public:
  std::vector<FakePhysicalDevice> devices;
  /// The next count call counts this many fewer devices than there are (more are added
  /// before the call that writes them), once.
  std::uint32_t countedShort = 0;
  /// The next call that writes the devices writes this many fewer than the count call
  /// counted (they went away in between), once.
  std::uint32_t writtenShort = 0;
  /// Every call that writes the devices answers VK_INCOMPLETE.
  bool alwaysIncomplete = false;
  /// The queue family vkCreateDevice was last asked for (the device is still not made).
  std::optional<std::uint32_t> requestedQueueFamily;

  FakeVulkanDriver() { current() = this; }
  ~FakeVulkanDriver() { current() = nullptr; }
  FakeVulkanDriver(const FakeVulkanDriver&) = delete;
  FakeVulkanDriver& operator=(const FakeVulkanDriver&) = delete;

  gpu::vulkan::InstanceApi api() const {
    gpu::vulkan::InstanceApi table;
    table.vkEnumeratePhysicalDevices = &enumeratePhysicalDevices;
    table.vkEnumerateDeviceExtensionProperties = &enumerateExtensions;
    table.vkGetPhysicalDeviceProperties = &properties;
    table.vkGetPhysicalDeviceProperties2 = &properties2;
    table.vkGetPhysicalDeviceMemoryProperties2 = &memoryProperties2;
    table.vkGetPhysicalDeviceQueueFamilyProperties = &queueFamilies;
    table.vkCreateDevice = &createDevice;
    return table;
  }

private:
  static FakeVulkanDriver*& current() {
    static FakeVulkanDriver* driver = nullptr;
    return driver;
  }
  // The handle is the address of the device's entry; a null one is never valid.
  static const FakePhysicalDevice& of(VkPhysicalDevice handle) {
    return *reinterpret_cast<const FakePhysicalDevice*>(handle);
  }

  static VkResult enumeratePhysicalDevices(VkInstance, std::uint32_t* count,
                                           VkPhysicalDevice* handles) {
    FakeVulkanDriver& d = *current();
    const auto existing = static_cast<std::uint32_t>(d.devices.size());
    if (handles == nullptr) {
      *count = existing - std::min(d.countedShort, existing);
      d.countedShort = 0;
      return VK_SUCCESS;
    }
    const std::uint32_t present = existing - std::min(d.writtenShort, existing);
    d.writtenShort = 0;
    const std::uint32_t written = std::min(*count, present);
    for (std::uint32_t i = 0; i < written; ++i) {
      handles[i] = reinterpret_cast<VkPhysicalDevice>(&d.devices[i]);
    }
    *count = written;
    return written < present || d.alwaysIncomplete ? VK_INCOMPLETE : VK_SUCCESS;
  }

  static VkResult enumerateExtensions(VkPhysicalDevice handle, const char*, std::uint32_t* count,
                                      VkExtensionProperties* extensions) {
    std::vector<const char*> names{VK_KHR_DRIVER_PROPERTIES_EXTENSION_NAME};
    if (of(handle).pci) {
      names.push_back(VK_EXT_PCI_BUS_INFO_EXTENSION_NAME);
    }
    if (of(handle).activeComputeUnits != 0) {
      names.push_back(VK_AMD_SHADER_CORE_PROPERTIES_2_EXTENSION_NAME);
    }
    if (of(handle).cooperativeMatrix) {
      names.push_back("VK_KHR_cooperative_matrix");
    }
    if (extensions == nullptr) {
      *count = static_cast<std::uint32_t>(names.size());
      return VK_SUCCESS;
    }
    const std::uint32_t written = std::min(*count, static_cast<std::uint32_t>(names.size()));
    for (std::uint32_t i = 0; i < written; ++i) {
      extensions[i] = VkExtensionProperties{};
      std::strncpy(extensions[i].extensionName, names[i], VK_MAX_EXTENSION_NAME_SIZE - 1);
    }
    *count = written;
    return written < names.size() ? VK_INCOMPLETE : VK_SUCCESS;
  }

  static void properties(VkPhysicalDevice handle, VkPhysicalDeviceProperties* out) {
    const FakePhysicalDevice& device = of(handle);
    *out = VkPhysicalDeviceProperties{};
    out->apiVersion = VK_API_VERSION_1_3;
    out->vendorID = device.vendorId;
    out->deviceID = device.deviceId;
    out->deviceType = device.type;
    std::strncpy(out->deviceName, device.name.c_str(), VK_MAX_PHYSICAL_DEVICE_NAME_SIZE - 1);
    out->limits.maxComputeWorkGroupInvocations = 1024;
    out->limits.maxComputeWorkGroupSize[0] = 1024;
    out->limits.maxComputeSharedMemorySize = 65536;
    out->limits.maxStorageBufferRange = 0xFFFFFFFFu;
  }

  static void properties2(VkPhysicalDevice handle, VkPhysicalDeviceProperties2* out) {
    const FakePhysicalDevice& device = of(handle);
    properties(handle, &out->properties);
    for (auto* next = static_cast<VkBaseOutStructure*>(out->pNext); next != nullptr;
         next = next->pNext) {
      switch (next->sType) {
      case VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ID_PROPERTIES:
        std::copy(device.uuid.begin(), device.uuid.end(),
                  reinterpret_cast<VkPhysicalDeviceIDProperties*>(next)->deviceUUID);
        break;
      case VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PCI_BUS_INFO_PROPERTIES_EXT: {
        auto* pci = reinterpret_cast<VkPhysicalDevicePCIBusInfoPropertiesEXT*>(next);
        pci->pciDomain = device.pci->pciDomain;
        pci->pciBus = device.pci->pciBus;
        pci->pciDevice = device.pci->pciDevice;
        pci->pciFunction = device.pci->pciFunction;
        break;
      }
      case VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRIVER_PROPERTIES:
        reinterpret_cast<VkPhysicalDeviceDriverProperties*>(next)->driverID = device.driver;
        break;
      case VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SHADER_CORE_PROPERTIES_2_AMD:
        reinterpret_cast<VkPhysicalDeviceShaderCoreProperties2AMD*>(next)->activeComputeUnitCount =
            device.activeComputeUnits;
        break;
      case VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SUBGROUP_PROPERTIES:
        reinterpret_cast<VkPhysicalDeviceSubgroupProperties*>(next)->subgroupSize = 64;
        break;
      default:
        break;
      }
    }
  }

  static void memoryProperties2(VkPhysicalDevice, VkPhysicalDeviceMemoryProperties2* out) {
    out->memoryProperties = VkPhysicalDeviceMemoryProperties{};
    out->memoryProperties.memoryHeapCount = 1;
    out->memoryProperties.memoryHeaps[0] = {std::uint64_t{8} << 30,
                                            VK_MEMORY_HEAP_DEVICE_LOCAL_BIT};
  }

  static void queueFamilies(VkPhysicalDevice handle, std::uint32_t* count,
                            VkQueueFamilyProperties* families) {
    std::vector<VkQueueFamilyProperties> listed = of(handle).queueFamilies;
    if (listed.empty()) {
      listed.push_back(VkQueueFamilyProperties{VK_QUEUE_COMPUTE_BIT, 1, 0, {}});
    }
    if (families == nullptr) {
      *count = static_cast<std::uint32_t>(listed.size());
      return;
    }
    *count = std::min(*count, static_cast<std::uint32_t>(listed.size()));
    std::copy_n(listed.begin(), *count, families);
  }

  // The fake devices cannot be opened; the queue family asked for is noted.
  static VkResult createDevice(VkPhysicalDevice, const VkDeviceCreateInfo* info,
                               const VkAllocationCallbacks*, VkDevice*) {
    if (info->queueCreateInfoCount > 0) {
      current()->requestedQueueFamily = info->pQueueCreateInfos[0].queueFamilyIndex;
    }
    return VK_ERROR_INITIALIZATION_FAILED;
  }
};

/// Where a device loss is reported.
enum class LostAt { submit, fenceWait };

/// The machine's own driver, with every device made through it reporting VK_ERROR_DEVICE_LOST
/// once `healthySubmissions` submissions have gone through: at the next vkQueueSubmit, or at
/// the wait for the next submission's fence (after its work has finished, so that nothing in
/// use is freed). Only one is in use at a time.
class LosingVulkanDriver {
public:
  int healthySubmissions = 0;
  LostAt at = LostAt::fenceWait;

  explicit LosingVulkanDriver(const gpu::vulkan::InstanceApi& real) : api_(real) {
    current() = this;
    realGetDeviceProcAddr() = real.vkGetDeviceProcAddr;
    api_.vkGetDeviceProcAddr = &getDeviceProcAddr;
  }
  ~LosingVulkanDriver() { current() = nullptr; }
  LosingVulkanDriver(const LosingVulkanDriver&) = delete;
  LosingVulkanDriver& operator=(const LosingVulkanDriver&) = delete;

  const gpu::vulkan::InstanceApi& api() const { return api_; }

private:
  struct Real {
    PFN_vkQueueSubmit submit = nullptr;
    PFN_vkWaitForFences wait = nullptr;
  };
  static LosingVulkanDriver*& current() {
    static LosingVulkanDriver* driver = nullptr;
    return driver;
  }
  static PFN_vkGetDeviceProcAddr& realGetDeviceProcAddr() {
    static PFN_vkGetDeviceProcAddr function = nullptr;
    return function;
  }
  static Real& real() {
    static Real functions;
    return functions;
  }

  static PFN_vkVoidFunction getDeviceProcAddr(VkDevice device, const char* name) {
    const PFN_vkVoidFunction function = realGetDeviceProcAddr()(device, name);
    if (std::strcmp(name, "vkQueueSubmit") == 0) {
      real().submit = reinterpret_cast<PFN_vkQueueSubmit>(function);
      return reinterpret_cast<PFN_vkVoidFunction>(&submit);
    }
    if (std::strcmp(name, "vkWaitForFences") == 0) {
      real().wait = reinterpret_cast<PFN_vkWaitForFences>(function);
      return reinterpret_cast<PFN_vkVoidFunction>(&wait);
    }
    return function;
  }

  static VkResult submit(VkQueue queue, std::uint32_t count, const VkSubmitInfo* submits,
                         VkFence fence) {
    LosingVulkanDriver& d = *current();
    if (d.healthySubmissions-- <= 0 && d.at == LostAt::submit) {
      return VK_ERROR_DEVICE_LOST;
    }
    return real().submit(queue, count, submits, fence);
  }

  static VkResult wait(VkDevice device, std::uint32_t count, const VkFence* fences, VkBool32 all,
                       std::uint64_t timeout) {
    const VkResult result = real().wait(device, count, fences, all, timeout);
    const LosingVulkanDriver& d = *current();
    const bool lost = d.healthySubmissions < 0 && d.at == LostAt::fenceWait;
    return lost && result == VK_SUCCESS ? VK_ERROR_DEVICE_LOST : result;
  }

  gpu::vulkan::InstanceApi api_;
};

} // namespace ventaro::testing
