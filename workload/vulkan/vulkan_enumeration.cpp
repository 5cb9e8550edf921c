#define G_LOG_DOMAIN "ventaro"

// The listing of the Vulkan devices: what each physical device reports of itself, read once
// per process without opening any of them.

#include "workload/cpu/cpu_device.h"
#include "workload/cpu/processor_info.h"
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

bool offers(const InstanceApi& api, VkPhysicalDevice physical, const char* extension) {
  std::uint32_t count = 0;
  if (api.vkEnumerateDeviceExtensionProperties(physical, nullptr, &count, nullptr) != VK_SUCCESS) {
    return false;
  }
  std::vector<VkExtensionProperties> extensions(count);
  if (api.vkEnumerateDeviceExtensionProperties(physical, nullptr, &count, extensions.data()) !=
      VK_SUCCESS) {
    return false;
  }
  return std::any_of(extensions.begin(), extensions.end(), [&](const VkExtensionProperties& e) {
    return std::strcmp(e.extensionName, extension) == 0;
  });
}

// The largest device-local heap, or its budget where the driver tells it.
std::uint64_t largestDeviceHeap(const InstanceApi& api, VkPhysicalDevice physical) {
  VkPhysicalDeviceMemoryBudgetPropertiesEXT budget{};
  budget.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MEMORY_BUDGET_PROPERTIES_EXT;
  VkPhysicalDeviceMemoryProperties2 memory{};
  memory.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MEMORY_PROPERTIES_2;
  const bool budgeted = offers(api, physical, VK_EXT_MEMORY_BUDGET_EXTENSION_NAME);
  memory.pNext = budgeted ? &budget : nullptr;
  api.vkGetPhysicalDeviceMemoryProperties2(physical, &memory);
  std::uint64_t largest = 0;
  const VkPhysicalDeviceMemoryProperties& heaps = memory.memoryProperties;
  for (std::uint32_t heap = 0; heap < heaps.memoryHeapCount; ++heap) {
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

DeviceFacts factsOf(const InstanceApi& api, VkPhysicalDevice physical) {
  VkPhysicalDeviceProperties basic{};
  api.vkGetPhysicalDeviceProperties(physical, &basic);
  const bool version11 = basic.apiVersion >= VK_API_VERSION_1_1;
  const bool pciOffered = offers(api, physical, VK_EXT_PCI_BUS_INFO_EXTENSION_NAME);

  VkPhysicalDevicePCIBusInfoPropertiesEXT pci{};
  pci.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PCI_BUS_INFO_PROPERTIES_EXT;
  VkPhysicalDeviceMaintenance3Properties maintenance{};
  maintenance.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MAINTENANCE_3_PROPERTIES;
  maintenance.pNext = pciOffered ? &pci : nullptr;
  VkPhysicalDeviceSubgroupProperties subgroup{};
  subgroup.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SUBGROUP_PROPERTIES;
  subgroup.pNext = &maintenance;
  VkPhysicalDeviceProperties2 properties{};
  properties.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2;
  // The 1.1 structures only where the device speaks 1.1.
  properties.pNext = version11 ? static_cast<void*>(&subgroup) : (pciOffered ? &pci : nullptr);
  api.vkGetPhysicalDeviceProperties2(physical, &properties);
  const VkPhysicalDeviceLimits& limits = properties.properties.limits;

  DeviceFacts facts;
  facts.name = deviceNameWithoutDriverTag(properties.properties.deviceName);
  facts.processor = properties.properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU;
  facts.pci.vendorId = properties.properties.vendorID;
  facts.pci.deviceId = properties.properties.deviceID;
  if (pciOffered) {
    std::array<char, 16> address{};
    std::snprintf(address.data(), address.size(), "%04x:%02x:%02x.%x", pci.pciDomain & 0xFFFFu,
                  pci.pciBus & 0xFFu, pci.pciDevice & 0x1Fu, pci.pciFunction & 0x7u);
    facts.pci.address = address.data();
  }
  facts.maxBufferBytes = limits.maxStorageBufferRange;
  if (version11 && maintenance.maxMemoryAllocationSize != 0) {
    facts.maxBufferBytes =
        std::min<std::uint64_t>(facts.maxBufferBytes, maintenance.maxMemoryAllocationSize);
  }
  facts.workingSet =
      facts.processor
          ? cpu::workingSetPerThread * static_cast<std::uint64_t>(cpu::availableProcessorCount())
          : largestDeviceHeap(api, physical);
  facts.tiles =
      gemmTilesFor({limits.maxComputeWorkGroupInvocations, limits.maxComputeWorkGroupSize[0],
                    limits.maxComputeSharedMemorySize, version11 ? subgroup.subgroupSize : 0});
  return facts;
}

std::vector<std::shared_ptr<Device>> enumerate() {
  std::vector<std::shared_ptr<Device>> devices;
  const InstanceApi* api = instanceApi(); // logs why where there is none
  if (api == nullptr) {
    return devices;
  }
  std::uint32_t count = 0;
  if (failure(api->vkEnumeratePhysicalDevices(api->instance, &count, nullptr),
              "vkEnumeratePhysicalDevices")) {
    return devices;
  }
  std::vector<VkPhysicalDevice> physical(count);
  if (failure(api->vkEnumeratePhysicalDevices(api->instance, &count, physical.data()),
              "vkEnumeratePhysicalDevices")) {
    return devices;
  }
  if (count == 0) {
    g_debug("no Vulkan device: the loader found no driver for this machine");
  }
  for (VkPhysicalDevice device : physical) {
    devices.push_back(std::make_shared<VulkanDevice>(device, factsOf(*api, device)));
  }
  return devices;
}

} // namespace

std::vector<std::shared_ptr<Device>> vulkanDevices() {
  static std::once_flag once;
  static std::vector<std::shared_ptr<Device>> devices;
  std::call_once(once, [] { devices = enumerate(); });
  return devices;
}

} // namespace ventaro::gpu::vulkan
