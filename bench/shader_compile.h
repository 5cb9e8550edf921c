#pragma once

// Compiling the multiplication pipeline on the process's AMD compiler device (Mesa's RADV,
// also its null device, which RADV_FORCE_FAMILY makes stand in for a GPU family) through the
// Vulkan backend's own pipeline code, and reading back the compiler's statistics and final
// assembly.

#include "workload/vulkan/gemm_tiles.h"

#include <cstdint>
#include <map>
#include <string>
#include <variant>

namespace ventaro::bench {

struct CompiledShader {
  std::string device;                         // the device's name
  gpu::vulkan::GemmTiles tiles;               // what gemmTilesFor chose from its limits
  unsigned subgroupSize = 0;                  // the compiled wave size
  std::map<std::string, std::uint64_t> stats; // the compiler's statistics, by name
  std::string assembly;                       // the final assembly listing
};

struct NotCompiled {
  bool noDevice = false; // no RADV device here, as opposed to a failure on one
  std::string reason;
};

/// The multiplication pipeline with aligned strides (as the full-size load runs it), or why
/// it cannot be compiled here.
std::variant<CompiledShader, NotCompiled> compileOnAmdCompilerDevice();

} // namespace ventaro::bench
