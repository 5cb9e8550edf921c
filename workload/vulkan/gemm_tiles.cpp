#include "workload/vulkan/gemm_tiles.h"

#include <array>

namespace ventaro::gpu::vulkan {
namespace {

// The tilings, largest first. The first is the one GPUs get: a 128 × 128 block per workgroup
// of 256 invocations, 8 × 8 outputs each, 16 interior columns per step. Per invocation that is
// 64 accumulators plus 16 operand values and two sets of fetched tiles, which stays inside
// the 128 registers that still let two workgroups share an AMD gfx8/9 compute unit without
// spilling (bench's shader report shows the figures per family); each operand value read from
// shared memory feeds 8 multiply-adds, so shared-memory bandwidth is not the limit; 16 columns
// per step halve the barriers and stores per multiply-add against 8; and the two tiles take
// 16 KiB of shared memory, so several workgroups fit on one compute unit and hide each other's
// barriers and global loads. 256 invocations are a whole number of subgroups of 8, 16, 32 or
// 64 lanes. The smaller tilings keep the same shape for devices whose workgroups or shared
// memory are smaller (Vulkan guarantees at least 128 invocations and 16 KiB).
constexpr std::array<GemmTiles, 4> tilings{{
    {256, 128, 128, 16, 8, 8},
    {128, 128, 64, 8, 8, 8},
    {64, 64, 64, 8, 8, 8},
    {16, 16, 16, 8, 4, 4},
}};

bool fits(const GemmTiles& tiles, const ComputeLimits& limits) {
  const bool wholeSubgroups =
      limits.subgroupSize == 0 || tiles.invocations % limits.subgroupSize == 0;
  return tiles.invocations <= limits.maxInvocations && tiles.invocations <= limits.maxSizeX &&
         tiles.sharedBytes() <= limits.maxSharedBytes && wholeSubgroups;
}

} // namespace

GemmTiles gemmTilesFor(const ComputeLimits& limits) {
  for (const GemmTiles& tiles : tilings) {
    if (fits(tiles, limits)) {
      return tiles;
    }
  }
  return tilings.back(); // Every conformant device takes it.
}

} // namespace ventaro::gpu::vulkan
