#include "workload/vulkan/vulkan_command_buffer.h"

#include <algorithm>

namespace ventaro::gpu::vulkan {
namespace {

std::uint32_t groupsFor(int size, std::uint32_t block) {
  return (static_cast<std::uint32_t>(size) + block - 1) / block;
}

bool strideAligned(const VulkanMatrix& matrix) {
  return matrix.leadingDimension() % 4 == 0;
}

} // namespace

void VulkanCommandBuffer::encode(const GemmSizes& sizes, VulkanMatrix& left, VulkanMatrix& right,
                                 VulkanMatrix& result) {
  if (!openForEncoding() || hasError()) {
    return; // Nothing more is prepared for a buffer that has already failed.
  }
  const Context* own = &context();
  if (left.buffer().context() != own || right.buffer().context() != own ||
      result.buffer().context() != own) {
    fail("matrix on another Vulkan device encoded");
    return;
  }
  const GemmTiles& tiles = own->tiles();
  if (groupsFor(sizes.columns, tiles.blockColumns) > own->maxGroups()[0] ||
      groupsFor(sizes.rows, tiles.blockRows) > own->maxGroups()[1]) {
    fail("multiplication too large for one dispatch on this device");
    return;
  }
  const auto multiplication = Multiplication::make(*this, sizes, left, right, result);
  if (!multiplication) {
    return;
  }
  if (runs_.empty() || !(runs_.back().multiplication == *multiplication)) {
    if (auto failed = startRun(*multiplication)) {
      fail(*failed);
      return;
    }
  }
  Run& run = runs_.back();
  ++run.count;
  if (auto failed = prepareLevels(run)) {
    fail(*failed);
  }
}

Failure VulkanCommandBuffer::startRun(const Multiplication& m) {
  VulkanBuffer& target = m.result->buffer();
  const std::array<VkBuffer, 3> buffers{m.left->buffer().storage(), m.right->buffer().storage(),
                                        m.placement == Placement::direct ? target.storage()
                                                                         : target.second()};
  const Made<VkDescriptorSet> set = batch_->bind(buffers);
  if (!set) {
    return set.failure();
  }
  runs_.push_back(Run{m, 0, *set, {}, VK_NULL_HANDLE});
  if (m.placement != Placement::direct) {
    return recordMoveIn(runs_.back());
  }
  return std::nullopt;
}

Failure VulkanCommandBuffer::prepareLevels(Run& run) {
  if (std::all_of(run.levels.begin(), run.levels.end(),
                  [](VkCommandBuffer level) { return level != VK_NULL_HANDLE; })) {
    return std::nullopt; // Every count is covered from here on.
  }
  for (const GraphLaunch& launch : launchPlan(run.count)) {
    if (run.levels[launch.level] == VK_NULL_HANDLE) {
      if (auto failed = record(run, launch.level, run.levels[launch.level])) {
        return failed;
      }
    }
  }
  return std::nullopt;
}

Failure VulkanCommandBuffer::record(const Run& run, int level, VkCommandBuffer& out) {
  // Only the largest level is launched more than once in a submission.
  const Made<VkCommandBuffer> commands = batch_->begin(level == maxGraphLevel);
  if (!commands) {
    return commands.failure();
  }
  const Multiplication& m = run.multiplication;
  const Context& c = context();
  const bool aligned =
      strideAligned(*m.left) && strideAligned(*m.right) && strideAligned(*m.result);
  const std::array<std::uint32_t, 6> push{static_cast<std::uint32_t>(m.sizes.rows),
                                          static_cast<std::uint32_t>(m.sizes.columns),
                                          static_cast<std::uint32_t>(m.sizes.interior),
                                          static_cast<std::uint32_t>(m.left->leadingDimension()),
                                          static_cast<std::uint32_t>(m.right->leadingDimension()),
                                          static_cast<std::uint32_t>(m.result->leadingDimension())};
  const std::uint32_t groupsX = groupsFor(m.sizes.columns, c.tiles().blockColumns);
  const std::uint32_t groupsY = groupsFor(m.sizes.rows, c.tiles().blockRows);
  for (std::int64_t i = 0; i < (std::int64_t{1} << level); ++i) {
    if (i > 0) {
      memoryBarrier(c.vk(), *commands); // the first comes with the buffer
    }
    dispatch(c, *commands, aligned ? Kernel::gemmAligned : Kernel::gemm, run.set, push, groupsX,
             groupsY);
  }
  out = *commands;
  return batch_->end(*commands);
}

Failure VulkanCommandBuffer::recordMoveIn(Run& run) {
  const Made<VkCommandBuffer> commands = batch_->begin(false);
  if (!commands) {
    return commands.failure();
  }
  const Multiplication& m = run.multiplication;
  VulkanBuffer& target = m.result->buffer();
  const std::uint64_t rowBytes = m.result->descriptor().rowBytes;
  const std::uint64_t width = sizeof(float) * static_cast<std::uint64_t>(m.sizes.columns);
  std::vector<VkBufferCopy> rows;
  if (m.placement == Placement::swapIn) {
    rows.push_back({0, 0, target.length()}); // the product covers the whole buffer
  } else {
    for (int row = 0; row < m.sizes.rows; ++row) {
      rows.push_back({row * rowBytes, row * rowBytes, width});
    }
  }
  context().vk().vkCmdCopyBuffer(*commands, target.second(), target.storage(),
                                 static_cast<std::uint32_t>(rows.size()), rows.data());
  run.moveIn = *commands;
  return batch_->end(*commands);
}

void VulkanCommandBuffer::commit() {
  if (!markCommitted() || hasError() || runs_.empty()) {
    return;
  }
  // The largest level appears once per 2^maxGraphLevel multiplications: 8 bytes each.
  std::vector<VkCommandBuffer> order;
  for (const Run& run : runs_) {
    for (const GraphLaunch& launch : launchPlan(run.count)) {
      order.insert(order.end(), static_cast<std::size_t>(launch.times), run.levels[launch.level]);
    }
    if (run.moveIn != VK_NULL_HANDLE) {
      order.push_back(run.moveIn);
    }
  }
  if (auto failed = batch_->submit(order)) {
    fail(*failed);
  }
}

void VulkanCommandBuffer::waitUntilCompleted() {
  if (!committed() || !batch_) {
    return;
  }
  if (auto failed = batch_->wait()) {
    fail(*failed);
  }
}

} // namespace ventaro::gpu::vulkan
