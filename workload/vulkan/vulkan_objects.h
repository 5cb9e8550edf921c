#pragma once

// The memory objects of the Vulkan backend: a block (a buffer bound to its own memory), the
// backend's Buffer of a storage block and an on-demand second block, and its matrix.

#include "workload/backend_objects.h"
#include "workload/vulkan/vulkan_context.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ventaro::gpu::vulkan {

/// A VkBuffer of its own memory: device-local for matrices, host-visible and mapped for the
/// transfers to and from the host.
class Block {
public:
  enum class Kind { device, host };
  /// The reason when the device refuses the buffer or its memory.
  static Made<std::unique_ptr<Block>> make(std::shared_ptr<Context> context, std::uint64_t length,
                                           Kind kind);
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block();
  VkBuffer handle() const { return buffer_; }
  /// The host's view of a host block; null for a device block.
  void* mapped() const { return mapped_; }

private:
  explicit Block(std::shared_ptr<Context> context) : context_(std::move(context)) {}
  std::shared_ptr<Context> context_;
  VkBuffer buffer_ = VK_NULL_HANDLE;
  VkDeviceMemory memory_ = VK_NULL_HANDLE;
  void* mapped_ = nullptr;
};

/// Device memory of the Vulkan backend. A multiplication whose result aliases an operand
/// writes into the second block, made when it is first encoded, and its product is copied
/// back into the storage once its run ends (see Placement).
class VulkanBuffer final : public Buffer {
public:
  VulkanBuffer(std::shared_ptr<Context> context, std::uint64_t length,
               std::unique_ptr<Block> storage)
      : context_(std::move(context)), length_(length), storage_(std::move(storage)) {}
  std::uint64_t length() const override { return length_; }

  const Context* context() const { return context_.get(); }
  const std::shared_ptr<Context>& sharedContext() const { return context_; }
  VkBuffer storage() const { return storage_->handle(); }
  /// The second block; VK_NULL_HANDLE until ensureSecond() has made it.
  VkBuffer second() const { return second_ ? second_->handle() : VK_NULL_HANDLE; }
  /// Makes the second block if there is none yet; why not when it cannot be made.
  Failure ensureSecond();

private:
  std::shared_ptr<Context> context_;
  std::uint64_t length_;
  std::unique_ptr<Block> storage_;
  std::unique_ptr<Block> second_;
};

class VulkanMatrix final : public BufferMatrix<VulkanBuffer> {
public:
  using BufferMatrix::BufferMatrix;
};

} // namespace ventaro::gpu::vulkan
