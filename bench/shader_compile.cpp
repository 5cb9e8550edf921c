#include "bench/shader_compile.h"

#include "workload/vulkan/vulkan_device.h"
#include "workload/vulkan/vulkan_devices.h"
#include "workload/vulkan/vulkan_pipelines.h"

#include <array>
#include <memory>
#include <vector>

namespace ventaro::bench {
namespace {

using gpu::vulkan::DeviceApi;
using gpu::vulkan::InstanceApi;

struct Executables {
  PFN_vkGetPipelineExecutablePropertiesKHR properties = nullptr;
  PFN_vkGetPipelineExecutableStatisticsKHR statistics = nullptr;
  PFN_vkGetPipelineExecutableInternalRepresentationsKHR representations = nullptr;
};

bool isRadv(const InstanceApi& api, VkPhysicalDevice physical) {
  VkPhysicalDeviceDriverProperties driver{};
  driver.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRIVER_PROPERTIES;
  VkPhysicalDeviceProperties2 properties{};
  properties.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2;
  api.vkGetPhysicalDeviceProperties(physical, &properties.properties);
  if (properties.properties.apiVersion < VK_API_VERSION_1_2) {
    return false; // RADV speaks 1.2 and later
  }
  properties.pNext = &driver;
  api.vkGetPhysicalDeviceProperties2(physical, &properties);
  return driver.driverID == VK_DRIVER_ID_MESA_RADV;
}

// A logical device with pipeline executable properties on; VK_NULL_HANDLE with the reason.
VkDevice openForStatistics(const InstanceApi& api, VkPhysicalDevice physical, std::string& why) {
  VkPhysicalDevicePipelineExecutablePropertiesFeaturesKHR feature{};
  feature.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PIPELINE_EXECUTABLE_PROPERTIES_FEATURES_KHR;
  feature.pipelineExecutableInfo = VK_TRUE;
  const std::array<const char*, 1> extensions{VK_KHR_PIPELINE_EXECUTABLE_PROPERTIES_EXTENSION_NAME};
  auto made = gpu::vulkan::createComputeDevice(api, physical, &feature, extensions);
  if (!made) {
    why = "the RADV device: " + made.why();
    return VK_NULL_HANDLE;
  }
  return made->device;
}

std::string readStatistics(const Executables& get, VkDevice device, VkPipeline pipeline,
                           CompiledShader& shader) {
  VkPipelineInfoKHR info{};
  info.sType = VK_STRUCTURE_TYPE_PIPELINE_INFO_KHR;
  info.pipeline = pipeline;
  std::uint32_t count = 1;
  VkPipelineExecutablePropertiesKHR properties{};
  properties.sType = VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_PROPERTIES_KHR;
  const VkResult listed = get.properties(device, &info, &count, &properties);
  if ((listed != VK_SUCCESS && listed != VK_INCOMPLETE) || count == 0) {
    return "the compiler lists no executable of the pipeline";
  }
  shader.subgroupSize = properties.subgroupSize;
  VkPipelineExecutableInfoKHR executable{};
  executable.sType = VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_INFO_KHR;
  executable.pipeline = pipeline;
  get.statistics(device, &executable, &count, nullptr);
  std::vector<VkPipelineExecutableStatisticKHR> statistics(count);
  for (auto& statistic : statistics) {
    statistic.sType = VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_STATISTIC_KHR;
  }
  get.statistics(device, &executable, &count, statistics.data());
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto& statistic = statistics[i];
    if (statistic.format == VK_PIPELINE_EXECUTABLE_STATISTIC_FORMAT_UINT64_KHR) {
      shader.stats[statistic.name] = statistic.value.u64;
    }
  }
  get.representations(device, &executable, &count, nullptr);
  std::vector<VkPipelineExecutableInternalRepresentationKHR> texts(count);
  for (auto& text : texts) {
    text.sType = VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_INTERNAL_REPRESENTATION_KHR;
  }
  get.representations(device, &executable, &count, texts.data());
  std::vector<std::vector<char>> storage;
  for (std::uint32_t i = 0; i < count; ++i) {
    storage.emplace_back(texts[i].dataSize + 1, '\0');
    texts[i].pData = storage.back().data();
  }
  get.representations(device, &executable, &count, texts.data());
  for (std::uint32_t i = 0; i < count; ++i) {
    // The final assembly is the last representation, named so by the AMD compilers.
    if (texts[i].isText == VK_TRUE &&
        (i + 1 == count || std::string(texts[i].name).find("Assembly") != std::string::npos)) {
      shader.assembly.assign(storage[i].data());
      break;
    }
  }
  return shader.assembly.empty() ? "the compiler returned no assembly" : std::string();
}

} // namespace

std::variant<CompiledShader, NotCompiled> compileOnAmdCompilerDevice() {
  const auto loaded = gpu::vulkan::instanceApi();
  if (!loaded) {
    return NotCompiled{true, loaded.why()};
  }
  const InstanceApi* api = *loaded;
  std::string why;
  std::shared_ptr<gpu::vulkan::VulkanDevice> amd;
  for (const auto& device : gpu::vulkan::vulkanDevices()) {
    auto vulkan = std::dynamic_pointer_cast<gpu::vulkan::VulkanDevice>(device);
    if (vulkan && isRadv(*api, vulkan->physical())) {
      amd = vulkan;
      break;
    }
  }
  if (!amd) {
    return NotCompiled{true, "no RADV device: Mesa's RADV Vulkan driver is not installed, or "
                             "offers no device here"};
  }
  CompiledShader shader;
  shader.device = amd->name();
  shader.tiles = amd->facts().tiles;
  VkDevice device = openForStatistics(*api, amd->physical(), why);
  if (device == VK_NULL_HANDLE) {
    return NotCompiled{false, why};
  }
  DeviceApi vk;
  Executables get;
  get.properties = reinterpret_cast<PFN_vkGetPipelineExecutablePropertiesKHR>(
      api->vkGetDeviceProcAddr(device, "vkGetPipelineExecutablePropertiesKHR"));
  get.statistics = reinterpret_cast<PFN_vkGetPipelineExecutableStatisticsKHR>(
      api->vkGetDeviceProcAddr(device, "vkGetPipelineExecutableStatisticsKHR"));
  get.representations = reinterpret_cast<PFN_vkGetPipelineExecutableInternalRepresentationsKHR>(
      api->vkGetDeviceProcAddr(device, "vkGetPipelineExecutableInternalRepresentationsKHR"));
  if (!vk.load(*api, device) || get.properties == nullptr || get.statistics == nullptr ||
      get.representations == nullptr) {
    auto destroy =
        reinterpret_cast<PFN_vkDestroyDevice>(api->vkGetDeviceProcAddr(device, "vkDestroyDevice"));
    if (destroy != nullptr) {
      destroy(device, nullptr);
    }
    return NotCompiled{false, "the RADV device lacks an entry point"};
  }
  gpu::vulkan::PipelineLayouts layouts;
  VkPipeline pipeline = VK_NULL_HANDLE;
  gpu::vulkan::Failure failed = gpu::vulkan::buildLayouts(vk, device, layouts);
  if (!failed) {
    failed = gpu::vulkan::buildGemmPipeline(
        vk, device, layouts.pipeline, shader.tiles, true,
        VK_PIPELINE_CREATE_CAPTURE_STATISTICS_BIT_KHR |
            VK_PIPELINE_CREATE_CAPTURE_INTERNAL_REPRESENTATIONS_BIT_KHR,
        pipeline);
  }
  if (!failed) {
    if (std::string reason = readStatistics(get, device, pipeline, shader); !reason.empty()) {
      failed = reason;
    }
  }
  if (pipeline != VK_NULL_HANDLE) {
    vk.vkDestroyPipeline(device, pipeline, nullptr);
  }
  gpu::vulkan::destroyLayouts(vk, device, layouts);
  vk.vkDestroyDevice(device, nullptr);
  if (failed) {
    return NotCompiled{false, *failed};
  }
  return shader;
}

} // namespace ventaro::bench
