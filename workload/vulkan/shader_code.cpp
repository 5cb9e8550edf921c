#include "workload/vulkan/shader_code.h"

namespace ventaro::gpu::vulkan {
namespace {

// glslc writes each module as a brace-enclosed list of 32-bit words.
constexpr std::uint32_t sgemm[] = // NOLINT(modernize-avoid-c-arrays)
#include "sgemm.comp.inc"
    ;
constexpr std::uint32_t fillUniform[] = // NOLINT(modernize-avoid-c-arrays)
#include "fill_uniform.comp.inc"
    ;
constexpr std::uint32_t countDifferences[] = // NOLINT(modernize-avoid-c-arrays)
#include "count_differences.comp.inc"
    ;

} // namespace

std::span<const std::uint32_t> sgemmShader() {
  return sgemm;
}

std::span<const std::uint32_t> fillUniformShader() {
  return fillUniform;
}

std::span<const std::uint32_t> countDifferencesShader() {
  return countDifferences;
}

} // namespace ventaro::gpu::vulkan
