#define G_LOG_DOMAIN "ventaro"

// The listing of the Vulkan devices: what each physical device reports of itself, read once
// per process without opening any of them.

#include "workload/cpu/cpu_device.h"
#include "workload/cpu/processor_info.h"
#include "workload/vulkan/amd_peak.h"
#include "workload/vulkan/device_name.h"
#include "workload/vulkan/vulkan_device.h"
#include "workload/vulkan/vulkan_devices.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <glib.h>
#include <mutex>

namespace ventaro::gpu::vulkan {
namespace {

using Extensions = std::vector<VkExtensionProperties>;

// The device's extensions; none where it cannot list them (logged).
Extensions extensionsOf(const InstanceApi& api, VkPhysicalDevice physical) {
  Made<Extensions> listed = enumerated<VkExtensionProperties>(
      "vkEnumerateDeviceExtensionProperties", [&](std::uint32_t* count, VkExtensionProperties* p) {
        return api.vkEnumerateDeviceExtensionProperties(physical, nullptr, count, p);
      });
  return listed ? *listed : Extensions{};
}

bool offers(const Extensions& extensions, const char* extension) {
  return std::any_of(extensions.begin(), extensions.end(), [&](const VkExtensionProperties& e) {
    return std::strncmp(e.extensionName, extension, sizeof(e.extensionName)) == 0;
  });
}

// The largest device-local heap, or its budget where the driver tells it.
std::uint64_t largestDeviceHeap(const InstanceApi& api, VkPhysicalDevice physical, bool budgeted) {
  VkPhysicalDeviceMemoryBudgetPropertiesEXT budget{};
  budget.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MEMORY_BUDGET_PROPERTIES_EXT;
  VkPhysicalDeviceMemoryProperties2 memory{};
  memory.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MEMORY_PROPERTIES_2;
  memory.pNext = budgeted ? &budget : nullptr;
  api.vkGetPhysicalDeviceMemoryProperties2(physical, &memory);
  std::uint64_t largest = 0;
  const VkPhysicalDeviceMemoryProperties& heaps = memory.memoryProperties;
  const std::uint32_t heapCount =
      std::min<std::uint32_t>(heaps.memoryHeapCount, VK_MAX_MEMORY_HEAPS);
  for (std::uint32_t heap = 0; heap < heapCount; ++heap) {
    if ((heaps.memoryHeaps[heap].flags & VK_MEMORY_HEAP_DEVICE_LOCAL_BIT) == 0) {
      continue;
    }
    const std::uint64_t size = budgeted && budget.heapBudget[heap] != 0
                                   ? budget.heapBudget[heap]
                                   : heaps.memoryHeaps[heap].size;
    largest = std::max(largest, size);
  }
  return largest;
}

// Puts `structure` at the head of the chain of `properties`.
template <class Structure>
void chain(VkPhysicalDeviceProperties2& properties, Structure& structure) {
  structure.pNext = properties.pNext;
  properties.pNext = &structure;
}

// Drivers that run on top of another API or another machine's driver: where the device has a
// driver of its own too, that one is listed.
bool layeredDriver(VkDriverId driver) {
  return driver == VK_DRIVER_ID_MESA_DOZEN || driver == VK_DRIVER_ID_MESA_VENUS ||
         driver == VK_DRIVER_ID_MOLTENVK;
}

// The extension of the matrix instructions AMD GPUs have from RDNA 3 on, the generation whose
// lanes issue two FP32 operations per clock (the headers here predate its name macro).
constexpr const char* kCooperativeMatrixExtension = "VK_KHR_cooperative_matrix";

DeviceFacts factsOf(const InstanceApi& api, VkPhysicalDevice physical, const std::string& pciRoot) {
  VkPhysicalDeviceProperties basic{};
  api.vkGetPhysicalDeviceProperties(physical, &basic);
  const bool version11 = basic.apiVersion >= VK_API_VERSION_1_1;
  const Extensions extensions = extensionsOf(api, physical);
  const bool pciOffered = offers(extensions, VK_EXT_PCI_BUS_INFO_EXTENSION_NAME);
  const bool driverOffered = offers(extensions, VK_KHR_DRIVER_PROPERTIES_EXTENSION_NAME);
  const bool coresOffered = offers(extensions, VK_AMD_SHADER_CORE_PROPERTIES_2_EXTENSION_NAME);

  VkPhysicalDeviceProperties2 properties{};
  properties.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2;
  VkPhysicalDevicePCIBusInfoPropertiesEXT pci{};
  pci.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PCI_BUS_INFO_PROPERTIES_EXT;
  VkPhysicalDeviceDriverProperties driver{};
  driver.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRIVER_PROPERTIES;
  // The 1.1 structures only where the device speaks 1.1.
  VkPhysicalDeviceMaintenance3Properties maintenance{};
  maintenance.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MAINTENANCE_3_PROPERTIES;
  VkPhysicalDeviceSubgroupProperties subgroup{};
  subgroup.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SUBGROUP_PROPERTIES;
  VkPhysicalDeviceIDProperties id{};
  id.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ID_PROPERTIES;
  VkPhysicalDeviceShaderCoreProperties2AMD cores{};
  cores.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SHADER_CORE_PROPERTIES_2_AMD;
  if (pciOffered) {
    chain(properties, pci);
  }
  if (driverOffered) {
    chain(properties, driver);
  }
  if (coresOffered) {
    chain(properties, cores);
  }
  if (version11) {
    chain(properties, maintenance);
    chain(properties, subgroup);
    chain(properties, id);
  }
  api.vkGetPhysicalDeviceProperties2(physical, &properties);
  const VkPhysicalDeviceLimits& limits = properties.properties.limits;

  DeviceFacts facts;
  facts.name = deviceNameWithoutDriverTag(properties.properties.deviceName);
  facts.processor = properties.properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU;
  facts.layered = driverOffered && layeredDriver(driver.driverID);
  facts.pci.vendorId = properties.properties.vendorID;
  facts.pci.deviceId = properties.properties.deviceID;
  if (pciOffered) {
    std::array<char, 16> address{};
    std::snprintf(address.data(), address.size(), "%04x:%02x:%02x.%x", pci.pciDomain & 0xFFFFu,
                  pci.pciBus & 0xFFu, pci.pciDevice & 0x1Fu, pci.pciFunction & 0x7u);
    facts.pci.address = address.data();
  }
  if (version11) {
    std::copy(std::begin(id.deviceUUID), std::end(id.deviceUUID), facts.uuid.begin());
  }
  facts.maxBufferBytes = limits.maxStorageBufferRange;
  if (version11 && maintenance.maxMemoryAllocationSize != 0) {
    facts.maxBufferBytes =
        std::min<std::uint64_t>(facts.maxBufferBytes, maintenance.maxMemoryAllocationSize);
  }
  facts.workingSet =
      facts.processor
          ? cpu::workingSetPerThread * static_cast<std::uint64_t>(cpu::availableProcessorCount())
          : largestDeviceHeap(api, physical,
                              offers(extensions, VK_EXT_MEMORY_BUDGET_EXTENSION_NAME));
  facts.tiles =
      gemmTilesFor({limits.maxComputeWorkGroupInvocations, limits.maxComputeWorkGroupSize[0],
                    limits.maxComputeSharedMemorySize, version11 ? subgroup.subgroupSize : 0});
  // The figures of an AMD GPU's peak; its clock is read only when the peak is asked for.
  if (!facts.processor && facts.pci.vendorId == pci_vendor::kAmd) {
    facts.activeComputeUnits = cores.activeComputeUnitCount;
    facts.dualIssue = offers(extensions, kCooperativeMatrixExtension);
    facts.pciRoot = pciRoot;
  }
  return facts;
}

} // namespace

std::vector<std::shared_ptr<VulkanDevice>> listDevices(const InstanceApi& api,
                                                       const std::string& pciRoot) {
  std::vector<std::shared_ptr<VulkanDevice>> devices;
  const Made<std::vector<VkPhysicalDevice>> physical = enumerated<VkPhysicalDevice>(
      "vkEnumeratePhysicalDevices", [&](std::uint32_t* count, VkPhysicalDevice* handles) {
        return api.vkEnumeratePhysicalDevices(api.instance, count, handles);
      });
  if (!physical) {
    return devices; // logged
  }
  if (physical->empty()) {
    g_debug("no Vulkan device: the loader found no driver for this machine");
  }
  std::vector<DeviceFacts> listed;
  for (VkPhysicalDevice device : *physical) {
    listed.push_back(factsOf(api, device, pciRoot));
  }
  for (const std::size_t kept : onePerDevice(listed)) {
    devices.push_back(std::make_shared<VulkanDevice>(api, (*physical)[kept], listed[kept]));
  }
  return devices;
}

std::vector<std::shared_ptr<Device>> vulkanDevices() {
  static std::once_flag once;
  static std::vector<std::shared_ptr<Device>> devices;
  std::call_once(once, [] {
    const Made<const InstanceApi*> api = instanceApi(); // logs why where there is none
    if (api) {
      for (std::shared_ptr<VulkanDevice>& device : listDevices(**api)) {
        devices.push_back(std::move(device));
      }
    }
  });
  return devices;
}

} // namespace ventaro::gpu::vulkan
