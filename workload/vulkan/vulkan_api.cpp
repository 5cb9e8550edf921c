#define G_LOG_DOMAIN "ventaro"

#include "workload/vulkan/vulkan_api.h"

#include "platform/runtime_library.h"

#include <algorithm>
#include <glib.h>

namespace ventaro::gpu::vulkan {
namespace {

std::string logged(std::string message) {
  g_debug("%s", message.c_str());
  return message;
}

// The instance, made through the loader's vkGetInstanceProcAddr; the reason where it cannot
// be made.
Made<InstanceApi> makeInstance(PFN_vkGetInstanceProcAddr getInstanceProcAddr) {
  auto enumerateVersion = reinterpret_cast<PFN_vkEnumerateInstanceVersion>(
      getInstanceProcAddr(VK_NULL_HANDLE, "vkEnumerateInstanceVersion"));
  std::uint32_t version = VK_API_VERSION_1_0;
  if (enumerateVersion == nullptr || enumerateVersion(&version) != VK_SUCCESS ||
      version < VK_API_VERSION_1_1) {
    return Why{logged("the Vulkan loader is older than Vulkan 1.1")};
  }
  auto createInstance = reinterpret_cast<PFN_vkCreateInstance>(
      getInstanceProcAddr(VK_NULL_HANDLE, "vkCreateInstance"));
  if (createInstance == nullptr) {
    return Why{logged("the Vulkan loader has no vkCreateInstance")};
  }
  VkApplicationInfo application{};
  application.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
  application.pApplicationName = "ventaro";
  application.apiVersion = VK_API_VERSION_1_1;
  VkInstanceCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
  info.pApplicationInfo = &application;
  InstanceApi api;
  if (auto failed = failure(createInstance(&info, nullptr, &api.instance), "vkCreateInstance")) {
    return Why{*failed};
  }
  bool complete = true;
#define VENTARO_VULKAN_BIND(name)                                                                  \
  api.name = reinterpret_cast<PFN_##name>(getInstanceProcAddr(api.instance, #name));               \
  complete = complete && api.name != nullptr;
  VENTARO_VULKAN_INSTANCE_FUNCTIONS(VENTARO_VULKAN_BIND)
#undef VENTARO_VULKAN_BIND
  if (!complete) {
    if (api.vkDestroyInstance != nullptr) {
      api.vkDestroyInstance(api.instance, nullptr);
    }
    return Why{logged("the Vulkan instance lacks a Vulkan 1.1 entry point")};
  }
  return api;
}

OpenedLibrary<InstanceApi> open() {
  OpenedLibrary<InstanceApi> opened;
  void* library = openFirstOf({"libvulkan.so.1"}, "the Vulkan loader", opened.why);
  if (library == nullptr) {
    return opened;
  }
  PFN_vkGetInstanceProcAddr getInstanceProcAddr = nullptr;
  if (!bindEntry(library, "vkGetInstanceProcAddr", getInstanceProcAddr)) {
    refuseIncomplete(library, "the Vulkan loader", opened.why);
    return opened;
  }
  Made<InstanceApi> made = makeInstance(getInstanceProcAddr);
  if (!made) {
    opened.why = made.why();
    closeLibrary(library);
    return opened;
  }
  // The loader stays open and the instance alive for the rest of the process: devices made
  // from it may live until exit.
  opened.entries = *made;
  return opened;
}

} // namespace

bool DeviceApi::load(const InstanceApi& instance, VkDevice device) {
  bool complete = true;
#define VENTARO_VULKAN_BIND(name)                                                                  \
  this->name = reinterpret_cast<PFN_##name>(instance.vkGetDeviceProcAddr(device, #name));          \
  complete = complete && this->name != nullptr;
  VENTARO_VULKAN_DEVICE_FUNCTIONS(VENTARO_VULKAN_BIND)
#undef VENTARO_VULKAN_BIND
  return complete;
}

Made<const InstanceApi*> instanceApi() {
  std::string why;
  const InstanceApi* api = openOnce(&open, &why);
  if (api == nullptr) {
    return Why{why};
  }
  return api;
}

std::string resultName(VkResult result) {
  switch (result) {
#define VENTARO_VULKAN_RESULT(name)                                                                \
  case name:                                                                                       \
    return #name;
    VENTARO_VULKAN_RESULT(VK_SUCCESS)
    VENTARO_VULKAN_RESULT(VK_NOT_READY)
    VENTARO_VULKAN_RESULT(VK_TIMEOUT)
    VENTARO_VULKAN_RESULT(VK_INCOMPLETE)
    VENTARO_VULKAN_RESULT(VK_ERROR_OUT_OF_HOST_MEMORY)
    VENTARO_VULKAN_RESULT(VK_ERROR_OUT_OF_DEVICE_MEMORY)
    VENTARO_VULKAN_RESULT(VK_ERROR_INITIALIZATION_FAILED)
    VENTARO_VULKAN_RESULT(VK_ERROR_DEVICE_LOST)
    VENTARO_VULKAN_RESULT(VK_ERROR_MEMORY_MAP_FAILED)
    VENTARO_VULKAN_RESULT(VK_ERROR_LAYER_NOT_PRESENT)
    VENTARO_VULKAN_RESULT(VK_ERROR_EXTENSION_NOT_PRESENT)
    VENTARO_VULKAN_RESULT(VK_ERROR_FEATURE_NOT_PRESENT)
    VENTARO_VULKAN_RESULT(VK_ERROR_INCOMPATIBLE_DRIVER)
    VENTARO_VULKAN_RESULT(VK_ERROR_TOO_MANY_OBJECTS)
    VENTARO_VULKAN_RESULT(VK_ERROR_FORMAT_NOT_SUPPORTED)
    VENTARO_VULKAN_RESULT(VK_ERROR_FRAGMENTED_POOL)
    VENTARO_VULKAN_RESULT(VK_ERROR_UNKNOWN)
    VENTARO_VULKAN_RESULT(VK_ERROR_OUT_OF_POOL_MEMORY)
    VENTARO_VULKAN_RESULT(VK_ERROR_FRAGMENTATION)
    VENTARO_VULKAN_RESULT(VK_ERROR_INVALID_SHADER_NV)
#undef VENTARO_VULKAN_RESULT
  default:
    return "VkResult " + std::to_string(static_cast<int>(result));
  }
}

Failure failure(VkResult result, const char* what) {
  if (result == VK_SUCCESS) {
    return std::nullopt;
  }
  return logged(std::string(what) + ": " + resultName(result));
}

std::optional<std::uint32_t> computeQueueFamily(std::span<const VkQueueFamilyProperties> families) {
  const auto computes = [](const VkQueueFamilyProperties& family) {
    return (family.queueFlags & VK_QUEUE_COMPUTE_BIT) != 0 && family.queueCount > 0;
  };
  const auto computeOnly = [&](const VkQueueFamilyProperties& family) {
    return computes(family) && (family.queueFlags & VK_QUEUE_GRAPHICS_BIT) == 0;
  };
  auto found = std::find_if(families.begin(), families.end(), computeOnly);
  if (found == families.end()) {
    found = std::find_if(families.begin(), families.end(), computes);
  }
  if (found == families.end()) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(found - families.begin());
}

Made<ComputeDevice> createComputeDevice(const InstanceApi& instance, VkPhysicalDevice physical,
                                        const void* next, std::span<const char* const> extensions) {
  const Made<std::vector<VkQueueFamilyProperties>> properties = enumerated<VkQueueFamilyProperties>(
      "vkGetPhysicalDeviceQueueFamilyProperties",
      [&](std::uint32_t* count, VkQueueFamilyProperties* families) {
        instance.vkGetPhysicalDeviceQueueFamilyProperties(physical, count, families);
        return VK_SUCCESS;
      });
  if (!properties) {
    return Why{properties.why()};
  }
  const std::optional<std::uint32_t> family = computeQueueFamily(*properties);
  if (!family) {
    return Why{"the device has no compute queue"};
  }
  ComputeDevice made;
  made.queueFamily = *family;
  const float priority = 1.0f;
  VkDeviceQueueCreateInfo queueInfo{};
  queueInfo.sType = VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO;
  queueInfo.queueFamilyIndex = made.queueFamily;
  queueInfo.queueCount = 1;
  queueInfo.pQueuePriorities = &priority;
  VkDeviceCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO;
  info.pNext = next;
  info.queueCreateInfoCount = 1;
  info.pQueueCreateInfos = &queueInfo;
  info.enabledExtensionCount = static_cast<std::uint32_t>(extensions.size());
  info.ppEnabledExtensionNames = extensions.data();
  if (auto failed = failure(instance.vkCreateDevice(physical, &info, nullptr, &made.device),
                            "vkCreateDevice")) {
    return Why{*failed};
  }
  return made;
}

} // namespace ventaro::gpu::vulkan
