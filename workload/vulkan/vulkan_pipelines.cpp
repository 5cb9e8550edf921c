#include "workload/vulkan/vulkan_pipelines.h"

#include "workload/vulkan/shader_code.h"

namespace ventaro::gpu::vulkan {

GemmSpecialization::GemmSpecialization(const GemmTiles& tiles, bool aligned) {
  values_[SGEMM_INVOCATIONS] = tiles.invocations;
  values_[SGEMM_BLOCK_ROWS] = tiles.blockRows;
  values_[SGEMM_BLOCK_COLUMNS] = tiles.blockColumns;
  values_[SGEMM_DEPTH] = tiles.depth;
  values_[SGEMM_THREAD_ROWS] = tiles.threadRows;
  values_[SGEMM_THREAD_COLUMNS] = tiles.threadColumns;
  values_[SGEMM_ALIGNED] = aligned ? VK_TRUE : VK_FALSE;
  for (std::uint32_t i = 0; i < entries_.size(); ++i) {
    entries_[i] = {i, i * static_cast<std::uint32_t>(sizeof(std::uint32_t)), sizeof(std::uint32_t)};
  }
  info_ = {static_cast<std::uint32_t>(entries_.size()), entries_.data(), sizeof(values_),
           values_.data()};
}

Failure buildLayouts(const DeviceApi& api, VkDevice device, PipelineLayouts& layouts,
                     const ResultReason& check) {
  std::array<VkDescriptorSetLayoutBinding, 3> bindings{};
  for (std::uint32_t i = 0; i < bindings.size(); ++i) {
    bindings[i].binding = i;
    bindings[i].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
    bindings[i].descriptorCount = 1;
    bindings[i].stageFlags = VK_SHADER_STAGE_COMPUTE_BIT;
  }
  VkDescriptorSetLayoutCreateInfo setInfo{};
  setInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
  setInfo.bindingCount = static_cast<std::uint32_t>(bindings.size());
  setInfo.pBindings = bindings.data();
  if (auto failed = check(api.vkCreateDescriptorSetLayout(device, &setInfo, nullptr, &layouts.set),
                          "vkCreateDescriptorSetLayout")) {
    return failed;
  }
  VkPushConstantRange push{VK_SHADER_STAGE_COMPUTE_BIT, 0, maxPushWords * sizeof(std::uint32_t)};
  VkPipelineLayoutCreateInfo layoutInfo{};
  layoutInfo.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
  layoutInfo.setLayoutCount = 1;
  layoutInfo.pSetLayouts = &layouts.set;
  layoutInfo.pushConstantRangeCount = 1;
  layoutInfo.pPushConstantRanges = &push;
  return check(api.vkCreatePipelineLayout(device, &layoutInfo, nullptr, &layouts.pipeline),
               "vkCreatePipelineLayout");
}

void destroyLayouts(const DeviceApi& api, VkDevice device, PipelineLayouts& layouts) {
  if (layouts.pipeline != VK_NULL_HANDLE) {
    api.vkDestroyPipelineLayout(device, layouts.pipeline, nullptr);
  }
  if (layouts.set != VK_NULL_HANDLE) {
    api.vkDestroyDescriptorSetLayout(device, layouts.set, nullptr);
  }
  layouts = {};
}

Failure buildPipeline(const DeviceApi& api, VkDevice device, VkPipelineLayout layout,
                      std::span<const std::uint32_t> code,
                      const VkSpecializationInfo* specialization, VkPipelineCreateFlags flags,
                      VkPipeline& pipeline, const ResultReason& check) {
  VkShaderModuleCreateInfo moduleInfo{};
  moduleInfo.sType = VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO;
  moduleInfo.codeSize = code.size_bytes();
  moduleInfo.pCode = code.data();
  VkShaderModule module = VK_NULL_HANDLE;
  if (auto failed = check(api.vkCreateShaderModule(device, &moduleInfo, nullptr, &module),
                          "vkCreateShaderModule")) {
    return failed;
  }
  VkComputePipelineCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO;
  info.flags = flags;
  info.stage.sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
  info.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
  info.stage.module = module;
  info.stage.pName = "main";
  info.stage.pSpecializationInfo = specialization;
  info.layout = layout;
  Failure failed =
      check(api.vkCreateComputePipelines(device, VK_NULL_HANDLE, 1, &info, nullptr, &pipeline),
            "vkCreateComputePipelines");
  api.vkDestroyShaderModule(device, module, nullptr);
  return failed;
}

Failure buildGemmPipeline(const DeviceApi& api, VkDevice device, VkPipelineLayout layout,
                          const GemmTiles& tiles, bool aligned, VkPipelineCreateFlags flags,
                          VkPipeline& pipeline, const ResultReason& check) {
  const GemmSpecialization specialization(tiles, aligned);
  return buildPipeline(api, device, layout, sgemmShader(), specialization.info(), flags, pipeline,
                       check);
}

} // namespace ventaro::gpu::vulkan
