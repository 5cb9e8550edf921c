#pragma once

// A command buffer of the Vulkan backend.
//
// The encoded multiplications are kept as runs of identical ones with a count. While they
// are encoded, each run gets the Vulkan command buffers its count will need (see
// launchPlan): buffers of 1, 2, 4, ... dispatches of the multiplication shader, each
// dispatch after a barrier, recorded once and reusable. Commit hands them to the queue in one
// vkQueueSubmit, the largest listed as often as the count needs it: recording stays bounded
// however large the count, and nothing is recorded or compiled in the timed window.
//
// A multiplication whose result shares storage with an operand never writes the buffer it
// reads: its product goes to the buffer's second block and is copied into the result once
// its run has ended, so that every multiplication of the run computes the same product.

#include "workload/launch_plan.h"
#include "workload/vulkan/vulkan_batch.h"
#include "workload/vulkan/vulkan_objects.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventaro::gpu::vulkan {

class VulkanCommandBuffer final : public RecordingCommandBuffer {
public:
  explicit VulkanCommandBuffer(std::unique_ptr<Batch> batch) : batch_(std::move(batch)) {}
  /// A command buffer that has failed already, with `why` as its error: whatever is encoded
  /// into it is dropped, and committing it runs nothing.
  explicit VulkanCommandBuffer(const std::string& why) { fail(why); }
  VulkanCommandBuffer(const VulkanCommandBuffer&) = delete;
  VulkanCommandBuffer& operator=(const VulkanCommandBuffer&) = delete;
  ~VulkanCommandBuffer() override = default; // the batch waits for its work

  void commit() override;
  void waitUntilCompleted() override;

  /// Appends result = left × right; the kernel has checked the sizes.
  void encode(const GemmSizes& sizes, VulkanMatrix& left, VulkanMatrix& right,
              VulkanMatrix& result);

  const Context& context() const { return batch_->context(); }

private:
  using Multiplication = EncodedMultiplication<VulkanMatrix>;

  struct Run {
    Multiplication multiplication;
    std::int64_t count = 0;
    VkDescriptorSet set = VK_NULL_HANDLE;
    std::array<VkCommandBuffer, maxGraphLevel + 1> levels{}; // levels[k]: 2^k multiplications
    VkCommandBuffer moveIn = VK_NULL_HANDLE;                 // the copy of an aliased product
  };

  Failure startRun(const Multiplication& multiplication);
  Failure prepareLevels(Run& run);
  Failure record(const Run& run, int level, VkCommandBuffer& out);
  Failure recordMoveIn(Run& run);

  std::unique_ptr<Batch> batch_;
  std::vector<Run> runs_;
};

} // namespace ventaro::gpu::vulkan
