#pragma once

// Building the backend's compute pipelines on an open device: the layouts every kernel
// shares, and a pipeline of one shader, the multiplication specialized for any tiling. The
// backend's Context builds its kernels with it, and so does the bench's shader report, which
// asks the compiler for its statistics through the creation flags.

#include "workload/vulkan/failure.h"
#include "workload/vulkan/gemm_tiles.h"
#include "workload/vulkan/shaders/sgemm_constants.h"
#include "workload/vulkan/vulkan_api.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace ventaro::gpu::vulkan {

/// Push constants every kernel takes at most of (32-bit words).
inline constexpr std::uint32_t maxPushWords = 8;

/// Turns a result into a failure reason (none for VK_SUCCESS); `failure` by default, the
/// Context's own where a lost device must be noted.
using ResultReason = std::function<Failure(VkResult, const char*)>;

/// The descriptor-set and pipeline layouts every kernel shares: three storage buffers at
/// bindings 0 to 2 and maxPushWords of push constants.
struct PipelineLayouts {
  VkDescriptorSetLayout set = VK_NULL_HANDLE;
  VkPipelineLayout pipeline = VK_NULL_HANDLE;
};

/// The multiplication shader's specialization for `tiles`, aligned strides or not. info()
/// points into the object, which must outlive the pipeline creation that uses it.
class GemmSpecialization {
public:
  GemmSpecialization(const GemmTiles& tiles, bool aligned);
  GemmSpecialization(const GemmSpecialization&) = delete;
  GemmSpecialization& operator=(const GemmSpecialization&) = delete;
  GemmSpecialization(GemmSpecialization&&) = delete;
  GemmSpecialization& operator=(GemmSpecialization&&) = delete;
  ~GemmSpecialization() = default;

  const VkSpecializationInfo* info() const { return &info_; }

private:
  std::array<std::uint32_t, SGEMM_CONSTANT_COUNT> values_{};
  std::array<VkSpecializationMapEntry, SGEMM_CONSTANT_COUNT> entries_{};
  VkSpecializationInfo info_{};
};

/// Makes `layouts` on `device`; on failure, what was made is left in `layouts` for the
/// caller to destroy, and the reason is returned.
Failure buildLayouts(const DeviceApi& api, VkDevice device, PipelineLayouts& layouts,
                     const ResultReason& check = failure);

/// Destroys what `layouts` holds and clears it.
void destroyLayouts(const DeviceApi& api, VkDevice device, PipelineLayouts& layouts);

/// A compute pipeline of `code` (entry point "main") with `specialization` (may be null) and
/// `flags`, into `pipeline`; the reason when it fails.
Failure buildPipeline(const DeviceApi& api, VkDevice device, VkPipelineLayout layout,
                      std::span<const std::uint32_t> code,
                      const VkSpecializationInfo* specialization, VkPipelineCreateFlags flags,
                      VkPipeline& pipeline, const ResultReason& check = failure);

/// The multiplication pipeline for `tiles`, from the SPIR-V the backend embeds.
Failure buildGemmPipeline(const DeviceApi& api, VkDevice device, VkPipelineLayout layout,
                          const GemmTiles& tiles, bool aligned, VkPipelineCreateFlags flags,
                          VkPipeline& pipeline, const ResultReason& check = failure);

} // namespace ventaro::gpu::vulkan
