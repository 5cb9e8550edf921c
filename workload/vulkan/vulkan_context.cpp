#define G_LOG_DOMAIN "ventaro"

#include "workload/vulkan/vulkan_context.h"

#include "workload/vulkan/shader_code.h"

#include <glib.h>
#include <vector>

namespace ventaro::gpu::vulkan {
namespace {

constexpr std::uint64_t waitSliceNanoseconds = 1'000'000'000;

} // namespace

Made<std::shared_ptr<Context>> Context::make(const InstanceApi& instance, VkPhysicalDevice physical,
                                             const GemmTiles& tiles) {
  std::shared_ptr<Context> context(new Context());
  context->tiles_ = tiles;
  Failure failed = context->open(instance, physical);
  if (!failed) {
    failed = context->buildPipelines();
  }
  if (failed) {
    return Why{*failed};
  }
  return context;
}

Failure Context::open(const InstanceApi& instance, VkPhysicalDevice physical) {
  Made<ComputeDevice> made = createComputeDevice(instance, physical);
  if (!made) {
    return made.failure();
  }
  device_ = made->device;
  queueFamily_ = made->queueFamily;
  if (!api_.load(instance, device_)) {
    // Nothing else can be called without the functions: destroy it here if that one is known.
    if (api_.vkDestroyDevice != nullptr) {
      api_.vkDestroyDevice(device_, nullptr);
    }
    device_ = VK_NULL_HANDLE;
    return "the Vulkan device lacks an entry point";
  }
  api_.vkGetDeviceQueue(device_, queueFamily_, 0, &queue_);
  instance.vkGetPhysicalDeviceMemoryProperties(physical, &memory_);
  VkPhysicalDeviceProperties limits{};
  instance.vkGetPhysicalDeviceProperties(physical, &limits);
  maxGroups_ = {limits.limits.maxComputeWorkGroupCount[0],
                limits.limits.maxComputeWorkGroupCount[1]};
  return std::nullopt;
}

ResultReason Context::checker() {
  return [this](VkResult result, const char* what) { return check(result, what); };
}

Failure Context::buildPipelines() {
  const ResultReason checked = checker();
  if (auto failed = buildLayouts(api_, device_, layouts_, checked)) {
    return failed;
  }
  auto pipeline = [&](Kernel kernel) -> VkPipeline& {
    return pipelines_[static_cast<int>(kernel)];
  };
  VkPipelineLayout layout = layouts_.pipeline;
  if (auto failed = buildGemmPipeline(api_, device_, layout, tiles_, false, 0,
                                      pipeline(Kernel::gemm), checked)) {
    return failed;
  }
  if (auto failed = buildGemmPipeline(api_, device_, layout, tiles_, true, 0,
                                      pipeline(Kernel::gemmAligned), checked)) {
    return failed;
  }
  if (auto failed = buildPipeline(api_, device_, layout, fillUniformShader(), nullptr, 0,
                                  pipeline(Kernel::fill), checked)) {
    return failed;
  }
  return buildPipeline(api_, device_, layout, countDifferencesShader(), nullptr, 0,
                       pipeline(Kernel::compare), checked);
}

Context::~Context() {
  if (device_ == VK_NULL_HANDLE) {
    return;
  }
  api_.vkDeviceWaitIdle(device_);
  for (VkPipeline pipeline : pipelines_) {
    if (pipeline != VK_NULL_HANDLE) {
      api_.vkDestroyPipeline(device_, pipeline, nullptr);
    }
  }
  destroyLayouts(api_, device_, layouts_);
  api_.vkDestroyDevice(device_, nullptr);
}

std::optional<std::uint32_t> Context::memoryType(std::uint32_t allowed,
                                                 VkMemoryPropertyFlags wanted,
                                                 VkMemoryPropertyFlags preferred) const {
  std::optional<std::uint32_t> found;
  for (std::uint32_t type = 0; type < memory_.memoryTypeCount; ++type) {
    const VkMemoryPropertyFlags flags = memory_.memoryTypes[type].propertyFlags;
    if ((allowed & (1u << type)) == 0 || (flags & wanted) != wanted) {
      continue;
    }
    if ((flags & preferred) == preferred) {
      return type;
    }
    if (!found) {
      found = type;
    }
  }
  return found;
}

Failure Context::submit(std::span<const VkCommandBuffer> buffers, VkFence fence) {
  if (auto gone = lost()) {
    return gone;
  }
  VkSubmitInfo info{};
  info.sType = VK_STRUCTURE_TYPE_SUBMIT_INFO;
  info.commandBufferCount = static_cast<std::uint32_t>(buffers.size());
  info.pCommandBuffers = buffers.data();
  const std::lock_guard lock(queueMutex_);
  return check(api_.vkQueueSubmit(queue_, 1, &info, fence), "vkQueueSubmit");
}

Failure Context::wait(VkFence fence) {
  for (;;) {
    const VkResult result = api_.vkWaitForFences(device_, 1, &fence, VK_TRUE, waitSliceNanoseconds);
    if (result != VK_TIMEOUT) {
      return check(result, "vkWaitForFences");
    }
    if (auto gone = lost()) {
      return gone;
    }
  }
}

Failure Context::check(VkResult result, const char* what) {
  if (result == VK_ERROR_DEVICE_LOST) {
    lost_ = true;
  }
  return failure(result, what);
}

Failure Context::lost() const {
  if (lost_) {
    return std::string("the device was lost (VK_ERROR_DEVICE_LOST)");
  }
  return std::nullopt;
}

} // namespace ventaro::gpu::vulkan
