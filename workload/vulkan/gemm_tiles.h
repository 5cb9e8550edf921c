#pragma once

// The tile sizes of the multiplication shader on one device, chosen from its limits.

#include <cstdint>

namespace ventaro::gpu::vulkan {

/// What a device allows a compute workgroup, as its properties report it.
struct ComputeLimits {
  std::uint32_t maxInvocations = 128;   // maxComputeWorkGroupInvocations
  std::uint32_t maxSizeX = 128;         // maxComputeWorkGroupSize[0]
  std::uint32_t maxSharedBytes = 16384; // maxComputeSharedMemorySize
  std::uint32_t subgroupSize = 0;       // 0 where the device does not say
};

/// One workgroup computes a blockRows × blockColumns block of the product, stepping through
/// the interior `depth` columns at a time staged in shared memory; each of its invocations
/// holds threadRows × threadColumns outputs in registers.
struct GemmTiles {
  std::uint32_t invocations = 0;
  std::uint32_t blockRows = 0;
  std::uint32_t blockColumns = 0;
  std::uint32_t depth = 0;
  std::uint32_t threadRows = 0;
  std::uint32_t threadColumns = 0;
  bool operator==(const GemmTiles&) const = default;

  /// Bytes of shared memory a workgroup stages its operand tiles in.
  std::uint32_t sharedBytes() const {
    return static_cast<std::uint32_t>(sizeof(float)) * depth * (blockRows + blockColumns);
  }
};

/// The largest of the shader's tilings that `limits` allow: 128 × 128 blocks of 256
/// invocations where the device takes them, smaller blocks where it does not.
GemmTiles gemmTilesFor(const ComputeLimits& limits);

} // namespace ventaro::gpu::vulkan
