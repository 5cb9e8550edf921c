#pragma once

// One Vulkan device opened for work: the logical device with its compute queue, the
// pipelines of the backend's shaders, and the knowledge of whether the device was lost.
// Made when a device is first used, shared by every object made on it, and destroyed after
// the last of them.

#include "workload/vulkan/gemm_tiles.h"
#include "workload/vulkan/vulkan_api.h"
#include "workload/vulkan/vulkan_pipelines.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace ventaro::gpu::vulkan {

/// The backend's shaders.
enum class Kernel { gemm, gemmAligned, fill, compare };

class Context {
public:
  /// Opens `physical` with one compute queue and builds the pipelines; the reason when any
  /// step fails.
  static Made<std::shared_ptr<Context>> make(const InstanceApi& instance, VkPhysicalDevice physical,
                                             const GemmTiles& tiles);
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context();

  const DeviceApi& vk() const { return api_; }
  VkDevice device() const { return device_; }
  std::uint32_t queueFamily() const { return queueFamily_; }
  const GemmTiles& tiles() const { return tiles_; }
  /// The most workgroups one dispatch may have along x and along y.
  std::array<std::uint32_t, 2> maxGroups() const { return maxGroups_; }
  VkPipeline pipeline(Kernel kernel) const { return pipelines_[static_cast<int>(kernel)]; }
  VkPipelineLayout pipelineLayout() const { return layouts_.pipeline; }
  VkDescriptorSetLayout setLayout() const { return layouts_.set; }

  /// A memory type among `allowed` (a bit set) with all of `wanted`, preferring those with
  /// `preferred` too; none when no allowed type has `wanted`.
  std::optional<std::uint32_t> memoryType(std::uint32_t allowed, VkMemoryPropertyFlags wanted,
                                          VkMemoryPropertyFlags preferred = 0) const;

  /// Submits `buffers`, in order, as one submission signalling `fence`.
  Failure submit(std::span<const VkCommandBuffer> buffers, VkFence fence);
  /// Waits for `fence` in slices of a second, so that a device lost meanwhile ends the wait
  /// rather than leaving it blocked.
  Failure wait(VkFence fence);
  /// failure(result, what), noting a lost device.
  Failure check(VkResult result, const char* what);
  /// Why nothing more can run here, once the device was lost.
  Failure lost() const;

private:
  Context() = default;
  Failure open(const InstanceApi& instance, VkPhysicalDevice physical);
  Failure buildPipelines();
  ResultReason checker();

  DeviceApi api_;
  VkDevice device_ = VK_NULL_HANDLE;
  VkQueue queue_ = VK_NULL_HANDLE;
  std::uint32_t queueFamily_ = 0;
  VkPhysicalDeviceMemoryProperties memory_{};
  GemmTiles tiles_;
  std::array<std::uint32_t, 2> maxGroups_{};
  PipelineLayouts layouts_;
  std::array<VkPipeline, 4> pipelines_{};
  std::mutex queueMutex_; // vkQueueSubmit needs the queue to itself
  std::atomic<bool> lost_ = false;
};

} // namespace ventaro::gpu::vulkan
