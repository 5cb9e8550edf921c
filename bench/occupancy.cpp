#include "bench/occupancy.h"

#include <algorithm>
#include <array>

namespace ventaro::bench {
namespace {

constexpr std::array<GpuFamily, 4> families{{
    {"polaris10", "gfx8", 8, false}, // the Polaris parts take 8 waves per SIMD, not 10
    {"vega10", "gfx9", 10, false},
    {"navi10", "gfx10.1", 20, true},
    {"navi21", "gfx10.3", 16, true},
}};

unsigned alignUp(unsigned value, unsigned granule) {
  return (value + granule - 1) / granule * granule;
}

} // namespace

std::optional<GpuFamily> gpuFamily(std::string_view name) {
  for (const GpuFamily& family : families) {
    if (family.name == name) {
      return family;
    }
  }
  return std::nullopt;
}

// The occupancy rules, each an upper bound on the waves one SIMD holds:
// - Vector registers. gfx8/9: 256 per lane for each SIMD, handed out in granules of 4 per
//   wave (wave64 only). gfx10: 1024 per lane of a SIMD32 to wave32 waves, which a wave64
//   takes in pairs (512), in granules of 8 (wave32) or 4 (wave64) on gfx10.1 and of 16 or 8
//   on gfx10.3. A wave holds at most 256.
// - Scalar registers. gfx8/9: 800 per SIMD in granules of 16. gfx10: each wave has its own
//   fixed set, so they never limit.
// - Wave slots per SIMD: 10 on gfx8/9 (8 on Polaris), 20 on gfx10.1, 16 on gfx10.3.
// - Whole workgroups: every wave of a workgroup runs on one compute unit, spread over its
//   SIMDs (4 on gfx8/9, 2 SIMD32 in a gfx10 compute unit), so a compute unit holds only as
//   many workgroups as fit whole, and a SIMD the waves those bring.
// - Shared memory: 64 KiB per compute unit, handed out in granules of 512 bytes (1 KiB on
//   gfx10.3) per workgroup.
// - Barriers: at most 16 workgroups of more than one wave per compute unit.
unsigned wavesPerSimd(const GpuFamily& family, const ShaderResources& shader) {
  const bool gfx10 = family.generation.substr(0, 5) == "gfx10";
  const bool gfx103 = family.generation == "gfx10.3";
  const bool wave32 = gfx10 && shader.waveSize == 32;
  if (shader.vgprs > 256 || shader.workgroupInvocations == 0) {
    return 0;
  }
  unsigned waves = family.maxWavesPerSimd;
  const unsigned vgprFile = !gfx10 ? 256 : (wave32 ? 1024 : 512);
  const unsigned vgprGranule = !gfx10 ? 4 : (wave32 ? 8 : 4) * (gfx103 ? 2 : 1);
  waves = std::min(waves, vgprFile / alignUp(std::max(shader.vgprs, 1u), vgprGranule));
  if (!gfx10) {
    waves = std::min(waves, 800 / alignUp(std::max(shader.sgprs, 1u), 16));
  }
  const unsigned simds = gfx10 ? 2 : 4;
  const unsigned wavesPerGroup =
      (shader.workgroupInvocations + shader.waveSize - 1) / shader.waveSize;
  unsigned groups = waves * simds / wavesPerGroup;
  if (shader.sharedBytes > 0) {
    groups = std::min(groups, 65536 / alignUp(shader.sharedBytes, gfx103 ? 1024 : 512));
  }
  if (wavesPerGroup > 1) {
    groups = std::min(groups, 16u);
  }
  return std::min(waves, (groups * wavesPerGroup + simds - 1) / simds);
}

} // namespace ventaro::bench
