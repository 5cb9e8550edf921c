#include "workload/vulkan/vulkan_batch.h"

namespace ventaro::gpu::vulkan {
namespace {

constexpr std::uint32_t setsPerPool = 16;

} // namespace

Made<std::unique_ptr<Batch>> Batch::make(std::shared_ptr<Context> context) {
  if (auto gone = context->lost()) {
    return Why{*gone};
  }
  std::unique_ptr<Batch> batch(new Batch(std::move(context)));
  Context& c = *batch->context_;
  VkCommandPoolCreateInfo poolInfo{};
  poolInfo.sType = VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO;
  poolInfo.queueFamilyIndex = c.queueFamily();
  VkFenceCreateInfo fenceInfo{};
  fenceInfo.sType = VK_STRUCTURE_TYPE_FENCE_CREATE_INFO;
  Failure failed =
      c.check(c.vk().vkCreateCommandPool(c.device(), &poolInfo, nullptr, &batch->pool_),
              "vkCreateCommandPool");
  if (!failed) {
    failed = c.check(c.vk().vkCreateFence(c.device(), &fenceInfo, nullptr, &batch->fence_),
                     "vkCreateFence");
  }
  if (failed) {
    return Why{*failed};
  }
  return batch;
}

Batch::~Batch() {
  // A failure was answered to whoever waited; here the work only has to be over.
  static_cast<void>(wait());
  const Context& c = *context_;
  for (VkDescriptorPool pool : descriptorPools_) {
    c.vk().vkDestroyDescriptorPool(c.device(), pool, nullptr);
  }
  if (fence_ != VK_NULL_HANDLE) {
    c.vk().vkDestroyFence(c.device(), fence_, nullptr);
  }
  if (pool_ != VK_NULL_HANDLE) {
    c.vk().vkDestroyCommandPool(c.device(), pool_, nullptr);
  }
}

Failure Batch::addDescriptorPool() {
  VkDescriptorPoolSize size{VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 3 * setsPerPool};
  VkDescriptorPoolCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
  info.maxSets = setsPerPool;
  info.poolSizeCount = 1;
  info.pPoolSizes = &size;
  VkDescriptorPool pool = VK_NULL_HANDLE;
  if (auto failed = context_->check(
          context_->vk().vkCreateDescriptorPool(context_->device(), &info, nullptr, &pool),
          "vkCreateDescriptorPool")) {
    return failed;
  }
  descriptorPools_.push_back(pool);
  setsInLastPool_ = 0;
  return std::nullopt;
}

Made<VkDescriptorSet> Batch::bind(std::span<const VkBuffer, 3> buffers) {
  const Context& c = *context_;
  VkDescriptorSetLayout layout = c.setLayout();
  VkDescriptorSet set = VK_NULL_HANDLE;
  VkResult result = VK_ERROR_OUT_OF_POOL_MEMORY;
  // A new pool once the last one has handed out all its sets, which a driver need not
  // refuse; and one more where a driver runs out before that.
  for (int attempt = 0; attempt < 2 && result != VK_SUCCESS; ++attempt) {
    if (descriptorPools_.empty() || setsInLastPool_ == setsPerPool || attempt == 1) {
      if (auto failed = addDescriptorPool()) {
        return Why{*failed};
      }
    }
    VkDescriptorSetAllocateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
    info.descriptorPool = descriptorPools_.back();
    info.descriptorSetCount = 1;
    info.pSetLayouts = &layout;
    result = c.vk().vkAllocateDescriptorSets(c.device(), &info, &set);
  }
  if (auto failed = context_->check(result, "vkAllocateDescriptorSets")) {
    return Why{*failed};
  }
  ++setsInLastPool_;
  std::array<VkDescriptorBufferInfo, 3> infos{};
  std::array<VkWriteDescriptorSet, 3> writes{};
  for (std::size_t i = 0; i < infos.size(); ++i) {
    infos[i] = {buffers[i], 0, VK_WHOLE_SIZE};
    writes[i].sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
    writes[i].dstSet = set;
    writes[i].dstBinding = static_cast<std::uint32_t>(i);
    writes[i].descriptorCount = 1;
    writes[i].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
    writes[i].pBufferInfo = &infos[i];
  }
  c.vk().vkUpdateDescriptorSets(c.device(), static_cast<std::uint32_t>(writes.size()),
                                writes.data(), 0, nullptr);
  return set;
}

Made<VkCommandBuffer> Batch::begin(bool reusable) {
  const Context& c = *context_;
  VkCommandBufferAllocateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO;
  info.commandPool = pool_;
  info.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
  info.commandBufferCount = 1;
  VkCommandBuffer commands = VK_NULL_HANDLE;
  VkCommandBufferBeginInfo beginInfo{};
  beginInfo.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO;
  beginInfo.flags = reusable ? VK_COMMAND_BUFFER_USAGE_SIMULTANEOUS_USE_BIT
                             : VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
  Failure failed = context_->check(c.vk().vkAllocateCommandBuffers(c.device(), &info, &commands),
                                   "vkAllocateCommandBuffers");
  if (!failed) {
    failed =
        context_->check(c.vk().vkBeginCommandBuffer(commands, &beginInfo), "vkBeginCommandBuffer");
  }
  if (failed) {
    return Why{*failed};
  }
  memoryBarrier(c.vk(), commands);
  return commands;
}

Failure Batch::end(VkCommandBuffer commands) {
  return context_->check(context_->vk().vkEndCommandBuffer(commands), "vkEndCommandBuffer");
}

Failure Batch::submit(std::span<const VkCommandBuffer> commands) {
  if (submitted_) {
    return std::string("work submitted twice");
  }
  auto failed = context_->submit(commands, fence_);
  submitted_ = !failed;
  return failed;
}

Failure Batch::wait() {
  if (submitted_ && !waited_) {
    waited_ = true;
    waitFailure_ = context_->wait(fence_);
  }
  return waitFailure_;
}

void memoryBarrier(const DeviceApi& vk, VkCommandBuffer commands) {
  VkMemoryBarrier barrier{};
  barrier.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
  barrier.srcAccessMask = VK_ACCESS_SHADER_WRITE_BIT | VK_ACCESS_TRANSFER_WRITE_BIT;
  barrier.dstAccessMask = VK_ACCESS_SHADER_READ_BIT | VK_ACCESS_SHADER_WRITE_BIT |
                          VK_ACCESS_TRANSFER_READ_BIT | VK_ACCESS_TRANSFER_WRITE_BIT;
  const VkPipelineStageFlags stages =
      VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_TRANSFER_BIT;
  vk.vkCmdPipelineBarrier(commands, stages, stages, 0, 1, &barrier, 0, nullptr, 0, nullptr);
}

void hostBarrier(const DeviceApi& vk, VkCommandBuffer commands) {
  VkMemoryBarrier barrier{};
  barrier.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
  barrier.srcAccessMask = VK_ACCESS_TRANSFER_WRITE_BIT | VK_ACCESS_SHADER_WRITE_BIT;
  barrier.dstAccessMask = VK_ACCESS_HOST_READ_BIT;
  vk.vkCmdPipelineBarrier(commands,
                          VK_PIPELINE_STAGE_TRANSFER_BIT | VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT,
                          VK_PIPELINE_STAGE_HOST_BIT, 0, 1, &barrier, 0, nullptr, 0, nullptr);
}

void dispatch(const Context& context, VkCommandBuffer commands, Kernel kernel, VkDescriptorSet set,
              std::span<const std::uint32_t> push, std::uint32_t groupsX, std::uint32_t groupsY) {
  const DeviceApi& vk = context.vk();
  vk.vkCmdBindPipeline(commands, VK_PIPELINE_BIND_POINT_COMPUTE, context.pipeline(kernel));
  vk.vkCmdBindDescriptorSets(commands, VK_PIPELINE_BIND_POINT_COMPUTE, context.pipelineLayout(), 0,
                             1, &set, 0, nullptr);
  vk.vkCmdPushConstants(commands, context.pipelineLayout(), VK_SHADER_STAGE_COMPUTE_BIT, 0,
                        static_cast<std::uint32_t>(push.size_bytes()), push.data());
  vk.vkCmdDispatch(commands, groupsX, groupsY, 1);
}

Failure Batch::runAlone(VkCommandBuffer commands) {
  Failure failed = end(commands);
  if (!failed) {
    failed = submit(std::span(&commands, 1));
  }
  if (!failed) {
    failed = wait();
  }
  return failed;
}

} // namespace ventaro::gpu::vulkan
