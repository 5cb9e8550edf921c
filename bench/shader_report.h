#pragma once

// The shader report: the multiplication pipeline compiled for each AMD GPU family by Mesa's
// RADV null device, with no GPU needed. Each family is compiled in a child process of its
// own (the driver reads RADV_FORCE_FAMILY once, when it is loaded), which prints what the
// compiler returned; the parent reads the statistics and analyses the assembly.

#include "bench/isa_analysis.h"
#include "bench/occupancy.h"
#include "workload/vulkan/gemm_tiles.h"

#include <string>
#include <vector>

namespace ventaro::bench {

/// One compilation the report asks for: a family, in wave32 where it is asked.
struct FamilyRun {
  std::string family;
  bool wave32 = false;
  std::string label() const { return family + (wave32 ? " wave32" : ""); }
};

/// polaris10, vega10, navi10, navi21, and the gfx10 families again in wave32.
std::vector<FamilyRun> reportedFamilies();

struct FamilyReport {
  enum class Status { compiled, unavailable, failed };
  Status status = Status::failed;
  std::string reason; // why it was not compiled
  std::string device;
  gpu::vulkan::GemmTiles tiles;
  unsigned waveSize = 0;
  unsigned vgprs = 0, sgprs = 0, spills = 0, sharedBytes = 0;
  unsigned waves = 0; // from the family's occupancy rules
  std::optional<LoopFigures> loop;
};

/// Compiles on `run`'s family in a child process started from `executable` (a ventaro-bench)
/// with `--shader-family`, ended after `limitSeconds`. `unavailable` when RADV's null device
/// is not available here.
FamilyReport compileFamily(const std::string& executable, const FamilyRun& run,
                           unsigned limitSeconds = 120);

/// The child's part: compiles on the device the environment gives, prints the record on
/// standard output; the exit status is 0, 77 where there is no RADV device, 1 on failure.
int printCompiledShader();

/// Prints the report for every family; non-zero when one could not be compiled.
int printShaderReport(const std::string& executable);

} // namespace ventaro::bench
