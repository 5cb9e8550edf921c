// The multiplication shader as the compiler of each AMD GPU family compiles it, on RADV's null
// device (no GPU needed): it must keep the figures README.md's "Shader report" table gives.

#include "bench/shader_report.h"

#include <cmath>
#include <gtest/gtest.h>

namespace ventaro::bench {
namespace {} // namespace

// Names a parameter in the test's output.
void PrintTo(const FamilyRun& run, std::ostream* out) {
  *out << run.label();
}

namespace {

// The least waves per SIMD each compilation reaches today, as README.md's table lists them.
unsigned leastWaves(const FamilyRun& run) {
  if (run.family == "polaris10" || run.family == "vega10") {
    return 2;
  }
  return run.wave32 ? 8 : 4;
}

class ShaderOnFamily : public ::testing::TestWithParam<FamilyRun> {};

TEST_P(ShaderOnFamily, KeepsItsRegistersOccupancyAndInstructionMix) {
  const FamilyRun& run = GetParam();
  const FamilyReport report = compileFamily(VENTARO_BENCH, run);
  if (report.status == FamilyReport::Status::unavailable) {
    GTEST_SKIP() << "RADV's null device is not available here (mesa-vulkan-drivers): "
                 << report.reason;
  }
  ASSERT_EQ(report.status, FamilyReport::Status::compiled) << report.reason;
  EXPECT_EQ(report.spills, 0u);
  EXPECT_GE(report.waves, leastWaves(run))
      << report.vgprs << " VGPRs, " << report.sgprs << " SGPRs, " << report.sharedBytes
      << " bytes of shared memory";
  ASSERT_TRUE(report.loop) << "no main loop with FMAs in the assembly";
  const LoopFigures& loop = *report.loop;
  const auto& t = report.tiles;
  const double step = double(t.threadRows) * t.threadColumns * t.depth;
  EXPECT_EQ(std::fmod(loop.fmas, step), 0.0) << loop.fmas << " FMAs, steps of " << step;
  EXPECT_GE(loop.fmaShareOfAll(), 0.80);
  EXPECT_GE(loop.fmaShareOfVector(), 0.92);
  EXPECT_FALSE(loop.globalWaitBeforeFmas)
      << "a prefetch overlaps only " << loop.fmasInFlight << " FMAs";
}

INSTANTIATE_TEST_SUITE_P(RadvNullDevice, ShaderOnFamily, ::testing::ValuesIn(reportedFamilies()),
                         [](const ::testing::TestParamInfo<FamilyRun>& info) {
                           return info.param.family + (info.param.wave32 ? "Wave32" : "");
                         });

TEST(ShaderReport, AnUnknownFamilyIsRefusedWithoutStartingAnything) {
  const FamilyReport report = compileFamily(VENTARO_BENCH, {"navi99", false});
  EXPECT_EQ(report.status, FamilyReport::Status::failed);
  EXPECT_NE(report.reason.find("navi99"), std::string::npos) << report.reason;
}

TEST(ShaderReport, AChildThatCannotStartIsAFailureWithItsReason) {
  const FamilyReport report = compileFamily("/nonexistent/ventaro-bench", {"vega10", false});
  EXPECT_EQ(report.status, FamilyReport::Status::failed);
  EXPECT_FALSE(report.reason.empty());
}

} // namespace
} // namespace ventaro::bench
