#include "workload/vulkan/vulkan_objects.h"

#include <algorithm>

namespace ventaro::gpu::vulkan {
namespace {

// The least memory a block takes: drivers hand out memory in large pages, and an allocation
// smaller than this (the counter of a comparison, a few read-back values) is all overhead.
constexpr VkDeviceSize smallestAllocation = VkDeviceSize{256} * 1024;

} // namespace

Made<std::unique_ptr<Block>> Block::make(std::shared_ptr<Context> context, std::uint64_t length,
                                         Kind kind) {
  std::unique_ptr<Block> block(new Block(std::move(context)));
  Context& c = *block->context_;
  const DeviceApi& vk = c.vk();
  VkBufferCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO;
  info.size = length;
  info.usage = VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT |
               VK_BUFFER_USAGE_TRANSFER_DST_BIT;
  info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
  if (auto failed = c.check(vk.vkCreateBuffer(c.device(), &info, nullptr, &block->buffer_),
                            "vkCreateBuffer")) {
    return Why{*failed};
  }
  VkMemoryRequirements requirements{};
  vk.vkGetBufferMemoryRequirements(c.device(), block->buffer_, &requirements);
  const std::optional<std::uint32_t> type =
      kind == Kind::device
          ? c.memoryType(requirements.memoryTypeBits, 0, VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT)
          : c.memoryType(requirements.memoryTypeBits, VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT |
                                                          VK_MEMORY_PROPERTY_HOST_COHERENT_BIT);
  if (!type) {
    return Why{"no memory type for the buffer"};
  }
  VkMemoryAllocateInfo allocation{};
  allocation.sType = VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO;
  allocation.allocationSize = std::max(requirements.size, smallestAllocation);
  allocation.memoryTypeIndex = *type;
  Failure failed = c.check(vk.vkAllocateMemory(c.device(), &allocation, nullptr, &block->memory_),
                           "vkAllocateMemory");
  if (!failed) {
    failed = c.check(vk.vkBindBufferMemory(c.device(), block->buffer_, block->memory_, 0),
                     "vkBindBufferMemory");
  }
  if (!failed && kind == Kind::host) {
    failed =
        c.check(vk.vkMapMemory(c.device(), block->memory_, 0, VK_WHOLE_SIZE, 0, &block->mapped_),
                "vkMapMemory");
  }
  if (failed) {
    return Why{*failed};
  }
  return block;
}

Block::~Block() {
  const Context& c = *context_;
  if (buffer_ != VK_NULL_HANDLE) {
    c.vk().vkDestroyBuffer(c.device(), buffer_, nullptr);
  }
  if (memory_ != VK_NULL_HANDLE) {
    // Freeing mapped memory unmaps it.
    c.vk().vkFreeMemory(c.device(), memory_, nullptr);
  }
}

Failure VulkanBuffer::ensureSecond() {
  if (second_) {
    return std::nullopt;
  }
  Made<std::unique_ptr<Block>> made = Block::make(context_, length_, Block::Kind::device);
  if (!made) {
    return made.failure();
  }
  second_ = std::move(*made);
  return std::nullopt;
}

} // namespace ventaro::gpu::vulkan
