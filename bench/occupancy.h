#pragma once

// How many waves of a compute shader one SIMD of an AMD GPU holds at once, from the
// registers and shared memory the compiler gave it and the rules of the GPU's generation.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ventaro::bench {

/// One GPU family as the compiler's null device offers it, with its generation's limits.
struct GpuFamily {
  std::string_view name;       // as RADV_FORCE_FAMILY takes it, e.g. "navi10"
  std::string_view generation; // "gfx8", "gfx9", "gfx10.1", "gfx10.3"
  unsigned maxWavesPerSimd = 10;
  bool wave32 = false; // whether compute shaders may run 32 lanes wide
};

/// The families the shader report compiles for.
std::optional<GpuFamily> gpuFamily(std::string_view name);

/// What the compiler's statistics say about one compiled shader.
struct ShaderResources {
  unsigned waveSize = 64;
  unsigned vgprs = 0;
  unsigned sgprs = 0;
  unsigned sharedBytes = 0;
  unsigned workgroupInvocations = 0;
};

/// The waves per SIMD `shader` reaches on `family` (0 when it cannot run at all).
unsigned wavesPerSimd(const GpuFamily& family, const ShaderResources& shader);

} // namespace ventaro::bench
