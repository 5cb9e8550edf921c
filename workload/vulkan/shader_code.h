#pragma once

// The SPIR-V of the backend's compute shaders, compiled from shaders/ at build time.

#include <cstdint>
#include <span>

namespace ventaro::gpu::vulkan {

std::span<const std::uint32_t> sgemmShader();
std::span<const std::uint32_t> fillUniformShader();
std::span<const std::uint32_t> countDifferencesShader();

} // namespace ventaro::gpu::vulkan
