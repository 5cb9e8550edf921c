// Waves per SIMD from each family's occupancy rules, as a table of shaders that each rule
// limits in turn.

#include "bench/occupancy.h"

#include <gtest/gtest.h>

namespace ventaro::bench {
namespace {

struct Case {
  const char* family;
  ShaderResources shader; // wave size, VGPRs, SGPRs, shared bytes, invocations
  unsigned waves;
  const char* why;
};

TEST(Occupancy, EachRuleLimitsTheWavesPerSimd) {
  const Case table[] = {
      // The multiplication shader before tuning: 256 invocations, 8 KiB.
      {"polaris10", {64, 108, 96, 8192, 256}, 2, "256 VGPRs / 108 (112)"},
      {"vega10", {64, 108, 96, 8192, 256}, 2, "as on gfx8"},
      {"navi10", {64, 108, 128, 8192, 256}, 4, "512 wave64 VGPRs / 108"},
      {"navi10", {32, 112, 128, 8192, 256}, 8, "1024 / 112 = 9, whole workgroups of 8 waves"},
      {"navi21", {64, 112, 128, 8192, 256}, 4, "512 / 112"},
      {"navi21", {64, 113, 128, 8192, 256}, 4, "granule 8: 120"},
      {"navi21", {64, 129, 128, 0, 64}, 3, "granule 8: 136"},
      {"navi10", {64, 129, 128, 0, 64}, 3, "granule 4: 132"},
      {"vega10", {64, 128, 32, 16384, 256}, 2, "exactly half the file"},
      {"vega10", {64, 129, 32, 16384, 256}, 1, "one register past half"},
      // Small shaders: the wave slots.
      {"polaris10", {64, 16, 16, 0, 64}, 8, "Polaris holds 8"},
      {"vega10", {64, 16, 16, 0, 64}, 10, "gfx9 holds 10"},
      {"navi10", {32, 16, 128, 0, 64}, 16, "16 workgroups of two waves per compute unit"},
      {"navi10", {32, 16, 128, 0, 32}, 20, "one-wave workgroups need no barrier"},
      {"navi21", {32, 16, 128, 0, 32}, 16, "gfx10.3 holds 16"},
      // Scalar registers on gfx8/9 only.
      {"vega10", {64, 24, 102, 0, 64}, 7, "800 SGPRs / 112"},
      {"navi10", {64, 24, 106, 0, 64}, 20, "gfx10 SGPRs never limit"},
      // Shared memory: 64 KiB per compute unit.
      {"vega10", {64, 32, 32, 32768, 256}, 2, "two workgroups of 32 KiB"},
      {"vega10", {64, 32, 32, 65536, 1024}, 4, "one workgroup of 16 waves over 4 SIMDs"},
      {"navi21", {64, 32, 128, 40000, 256}, 2, "one workgroup, 4 waves over 2 SIMDs"},
      // What cannot run.
      {"vega10", {64, 257, 32, 0, 64}, 0, "more VGPRs than a wave may hold"},
  };
  for (const Case& c : table) {
    const auto family = gpuFamily(c.family);
    ASSERT_TRUE(family) << c.family;
    EXPECT_EQ(wavesPerSimd(*family, c.shader), c.waves) << c.family << ": " << c.why;
  }
}

TEST(Occupancy, KnowsTheReportedFamiliesOnly) {
  for (const char* name : {"polaris10", "vega10", "navi10", "navi21"}) {
    EXPECT_TRUE(gpuFamily(name)) << name;
  }
  EXPECT_FALSE(gpuFamily("navi31"));
  EXPECT_FALSE(gpuFamily(""));
  EXPECT_FALSE(gpuFamily("gfx9"));
  EXPECT_TRUE(gpuFamily("navi10")->wave32);
  EXPECT_FALSE(gpuFamily("vega10")->wave32);
}

} // namespace
} // namespace ventaro::bench
