#pragma once

// The Vulkan entry points the backend calls, reached through the loader opened at run time:
// no Vulkan library is a load-time dependency of the program. The instance is made once per
// process and kept until exit.

#ifndef VK_NO_PROTOTYPES
#define VK_NO_PROTOTYPES
#endif
#include "workload/vulkan/failure.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <vulkan/vulkan.h>

namespace ventaro::gpu::vulkan {

// Instance-level functions, X(name) for each.
#define VENTARO_VULKAN_INSTANCE_FUNCTIONS(X)                                                       \
  X(vkDestroyInstance)                                                                             \
  X(vkEnumeratePhysicalDevices)                                                                    \
  X(vkEnumerateDeviceExtensionProperties)                                                          \
  X(vkGetPhysicalDeviceProperties)                                                                 \
  X(vkGetPhysicalDeviceProperties2)                                                                \
  X(vkGetPhysicalDeviceMemoryProperties)                                                           \
  X(vkGetPhysicalDeviceMemoryProperties2)                                                          \
  X(vkGetPhysicalDeviceQueueFamilyProperties)                                                      \
  X(vkCreateDevice)                                                                                \
  X(vkGetDeviceProcAddr)

// Device-level functions.
#define VENTARO_VULKAN_DEVICE_FUNCTIONS(X)                                                         \
  X(vkDestroyDevice)                                                                               \
  X(vkGetDeviceQueue)                                                                              \
  X(vkDeviceWaitIdle)                                                                              \
  X(vkCreateBuffer)                                                                                \
  X(vkDestroyBuffer)                                                                               \
  X(vkGetBufferMemoryRequirements)                                                                 \
  X(vkAllocateMemory)                                                                              \
  X(vkFreeMemory)                                                                                  \
  X(vkBindBufferMemory)                                                                            \
  X(vkMapMemory)                                                                                   \
  X(vkUnmapMemory)                                                                                 \
  X(vkCreateShaderModule)                                                                          \
  X(vkDestroyShaderModule)                                                                         \
  X(vkCreateDescriptorSetLayout)                                                                   \
  X(vkDestroyDescriptorSetLayout)                                                                  \
  X(vkCreatePipelineLayout)                                                                        \
  X(vkDestroyPipelineLayout)                                                                       \
  X(vkCreateComputePipelines)                                                                      \
  X(vkDestroyPipeline)                                                                             \
  X(vkCreateDescriptorPool)                                                                        \
  X(vkDestroyDescriptorPool)                                                                       \
  X(vkAllocateDescriptorSets)                                                                      \
  X(vkUpdateDescriptorSets)                                                                        \
  X(vkCreateCommandPool)                                                                           \
  X(vkDestroyCommandPool)                                                                          \
  X(vkAllocateCommandBuffers)                                                                      \
  X(vkBeginCommandBuffer)                                                                          \
  X(vkEndCommandBuffer)                                                                            \
  X(vkCmdBindPipeline)                                                                             \
  X(vkCmdBindDescriptorSets)                                                                       \
  X(vkCmdPushConstants)                                                                            \
  X(vkCmdDispatch)                                                                                 \
  X(vkCmdPipelineBarrier)                                                                          \
  X(vkCmdCopyBuffer)                                                                               \
  X(vkCmdFillBuffer)                                                                               \
  X(vkCreateFence)                                                                                 \
  X(vkDestroyFence)                                                                                \
  X(vkWaitForFences)                                                                               \
  X(vkQueueSubmit)

#define VENTARO_VULKAN_MEMBER(name) PFN_##name name = nullptr;

/// The instance and its functions.
struct InstanceApi {
  VkInstance instance = VK_NULL_HANDLE;
  VENTARO_VULKAN_INSTANCE_FUNCTIONS(VENTARO_VULKAN_MEMBER)
};

/// The functions of one logical device.
struct DeviceApi {
  VENTARO_VULKAN_DEVICE_FUNCTIONS(VENTARO_VULKAN_MEMBER)
  /// Binds every function for `device`; false when one is missing.
  [[nodiscard]] bool load(const InstanceApi& instance, VkDevice device);
};

#undef VENTARO_VULKAN_MEMBER

/// The process's instance, made on the first call (which opens the loader); the reason, also
/// in the debug log, when there is no loader or no instance can be made.
Made<const InstanceApi*> instanceApi();

/// The name of a result code, e.g. "VK_ERROR_DEVICE_LOST".
std::string resultName(VkResult result);

/// None for VK_SUCCESS; otherwise "<what>: <result name>", also written to the debug log.
Failure failure(VkResult result, const char* what);

/// Of a device's queue families, the one its compute queue comes from: the first that computes
/// and draws nothing (such a queue's work runs beside the display's rather than between it),
/// else the first that computes; none where no family has a compute queue.
std::optional<std::uint32_t> computeQueueFamily(std::span<const VkQueueFamilyProperties> families);

/// A logical device with one queue of the family computeQueueFamily chooses.
struct ComputeDevice {
  VkDevice device = VK_NULL_HANDLE;
  std::uint32_t queueFamily = 0;
};

/// Makes a ComputeDevice on `physical`, with `next` chained to its create info and
/// `extensions` enabled; or why not.
Made<ComputeDevice> createComputeDevice(const InstanceApi& instance, VkPhysicalDevice physical,
                                        const void* next = nullptr,
                                        std::span<const char* const> extensions = {});

/// The items of a two-call enumeration, `call(count, items)` being the Vulkan function with
/// its other arguments bound: the count, then the items, keeping only as many as the second
/// call wrote, whatever the first one counted (a device may go away in between). Where the
/// set grew in between (VK_INCOMPLETE) it asks again, a few times, then keeps what was
/// written.
template <class Item, class Call> Made<std::vector<Item>> enumerated(const char* what, Call call) {
  constexpr int attempts = 3;
  for (int attempt = 1;; ++attempt) {
    std::uint32_t count = 0;
    if (auto failed = failure(call(&count, nullptr), what)) {
      return Why{*failed};
    }
    std::vector<Item> items(count, Item{});
    const VkResult result = call(&count, items.data());
    items.resize(std::min<std::size_t>(count, items.size()));
    if (result == VK_INCOMPLETE && attempt < attempts) {
      continue;
    }
    if (result != VK_INCOMPLETE) {
      if (auto failed = failure(result, what)) {
        return Why{*failed};
      }
    }
    return items;
  }
}

} // namespace ventaro::gpu::vulkan
