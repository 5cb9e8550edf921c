#define G_LOG_DOMAIN "ventaro"

#include "workload/vulkan/vulkan_api.h"

#include <algorithm>
#include <dlfcn.h>
#include <glib.h>
#include <memory>
#include <mutex>
#include <optional>

namespace ventaro::gpu::vulkan {
namespace {

struct Loaded {
  std::optional<InstanceApi> api;
  std::string why;
};

std::string logged(std::string message) {
  g_debug("%s", message.c_str());
  return message;
}

Loaded makeInstance() {
  Loaded loaded;
  // Closed again on every failure below; kept open once an instance is made.
  std::unique_ptr<void, int (*)(void*)> library(dlopen("libvulkan.so.1", RTLD_NOW | RTLD_LOCAL),
                                                &dlclose);
  if (!library) {
    // Only ever called under the once flag below.
    const char* error = dlerror(); // NOLINT(concurrency-mt-unsafe)
    loaded.why = logged("no Vulkan loader: " + std::string(error != nullptr ? error : ""));
    return loaded;
  }
  auto getInstanceProcAddr =
      reinterpret_cast<PFN_vkGetInstanceProcAddr>(dlsym(library.get(), "vkGetInstanceProcAddr"));
  if (getInstanceProcAddr == nullptr) {
    loaded.why = logged("the Vulkan loader has no vkGetInstanceProcAddr");
    return loaded;
  }
  auto enumerateVersion = reinterpret_cast<PFN_vkEnumerateInstanceVersion>(
      getInstanceProcAddr(VK_NULL_HANDLE, "vkEnumerateInstanceVersion"));
  std::uint32_t version = VK_API_VERSION_1_0;
  if (enumerateVersion == nullptr || enumerateVersion(&version) != VK_SUCCESS ||
      version < VK_API_VERSION_1_1) {
    loaded.why = logged("the Vulkan loader is older than Vulkan 1.1");
    return loaded;
  }
  auto createInstance = reinterpret_cast<PFN_vkCreateInstance>(
      getInstanceProcAddr(VK_NULL_HANDLE, "vkCreateInstance"));
  VkApplicationInfo application{};
  application.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
  application.pApplicationName = "ventaro";
  application.apiVersion = VK_API_VERSION_1_1;
  VkInstanceCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
  info.pApplicationInfo = &application;
  InstanceApi api;
  if (createInstance == nullptr) {
    loaded.why = logged("the Vulkan loader has no vkCreateInstance");
    return loaded;
  }
  if (auto failed = failure(createInstance(&info, nullptr, &api.instance), "vkCreateInstance")) {
    loaded.why = *failed;
    return loaded;
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
    loaded.why = logged("the Vulkan instance lacks a Vulkan 1.1 entry point");
    return loaded;
  }
  // The loader stays open and the instance alive for the rest of the process: devices made
  // from it may live until exit.
  loaded.api = api;
  static_cast<void>(library.release()); // deliberately never closed
  return loaded;
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
  static std::once_flag once;
  static Loaded loaded;
  std::call_once(once, [] { loaded = makeInstance(); });
  if (!loaded.api) {
    return Why{loaded.why};
  }
  return &*loaded.api;
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
  const auto computes = [](const VkQueueFamilyProperties& family) {
    return (family.queueFlags & VK_QUEUE_COMPUTE_BIT) != 0 && family.queueCount > 0;
  };
  const auto found = std::find_if(properties->begin(), properties->end(), computes);
  if (found == properties->end()) {
    return Why{"the device has no compute queue"};
  }
  ComputeDevice made;
  made.queueFamily = static_cast<std::uint32_t>(found - properties->begin());
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
