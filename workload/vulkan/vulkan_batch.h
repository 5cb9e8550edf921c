#pragma once

// One piece of work for a Vulkan device: a command pool, descriptor sets, a fence, and the
// command buffers recorded into them, submitted together at most once. Destroying it waits
// for the work first, so nothing the device still runs is freed.

#include "workload/vulkan/vulkan_context.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ventaro::gpu::vulkan {

class Batch {
public:
  /// The reason when the device was lost or the pool or the fence cannot be made.
  static Made<std::unique_ptr<Batch>> make(std::shared_ptr<Context> context);
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;
  ~Batch();

  Context& context() const { return *context_; }
  /// A descriptor set binding the three buffers, in order, as storage buffers.
  Made<VkDescriptorSet> bind(std::span<const VkBuffer, 3> buffers);
  /// A new command buffer, begun with a barrier that orders it after all earlier work of the
  /// queue. `reusable`: it may appear more than once in the submission.
  Made<VkCommandBuffer> begin(bool reusable);
  Failure end(VkCommandBuffer commands);
  /// Submits `commands` as one submission; once only.
  Failure submit(std::span<const VkCommandBuffer> commands);
  /// Waits for the submission (at once when there was none).
  Failure wait();
  /// Ends `commands`, submits them alone and waits for them: the set-up steps' one-off work.
  Failure runAlone(VkCommandBuffer commands);
  /// The descriptor pools made so far (each holds a fixed number of sets).
  std::size_t descriptorPools() const { return descriptorPools_.size(); }

private:
  explicit Batch(std::shared_ptr<Context> context) : context_(std::move(context)) {}
  Failure addDescriptorPool();

  std::shared_ptr<Context> context_;
  VkCommandPool pool_ = VK_NULL_HANDLE;
  VkFence fence_ = VK_NULL_HANDLE;
  std::vector<VkDescriptorPool> descriptorPools_;
  std::uint32_t setsInLastPool_ = 0;
  bool submitted_ = false;
  bool waited_ = false;
  Failure waitFailure_;
};

/// Orders everything before it in the queue (shader and transfer writes) before everything
/// after it (shader and transfer reads and writes).
void memoryBarrier(const DeviceApi& vk, VkCommandBuffer commands);

/// Makes transfer writes before it visible to the host once the work has finished.
void hostBarrier(const DeviceApi& vk, VkCommandBuffer commands);

/// Records one dispatch of `kernel` over `groups` workgroups (x, y) with `set` and `push`.
void dispatch(const Context& context, VkCommandBuffer commands, Kernel kernel, VkDescriptorSet set,
              std::span<const std::uint32_t> push, std::uint32_t groupsX, std::uint32_t groupsY);

} // namespace ventaro::gpu::vulkan
