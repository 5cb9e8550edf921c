#include "workload/accuracy_check.h"
#include "workload/cpu/cpu_device.h"
#include "workload/matrix_load.h"
#include "workload/uniform_values.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>

namespace ventaro {
namespace {

constexpr std::uint64_t kSeed = gpu::loadSeed;

// (start × start)[row, column] of order n, summed in FP32 forward or backward, with or
// without fused multiply-adds.
float fp32Element(std::int64_t n, std::int64_t row, std::int64_t column, bool reversed,
                  bool fused) {
  const auto a = [&](std::int64_t r, std::int64_t c) {
    return gpu::uniformValue(kSeed, static_cast<std::uint64_t>(r * n + c));
  };
  float sum = 0.0f;
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int64_t k = reversed ? n - 1 - i : i;
    sum = fused ? std::fma(a(row, k), a(k, column), sum) : sum + a(row, k) * a(k, column);
  }
  return sum;
}

TEST(AccuracyCheck, PositionsAreDrawnFromTheSeedInsideTheMatrix) {
  const std::vector<gpu::ElementPosition> positions = accuracyPositions(kSeed, 4096);
  ASSERT_EQ(positions.size(), std::size_t{kAccuracySamples});
  EXPECT_EQ(positions, accuracyPositions(kSeed, 4096)) << "the same for the same seed";
  EXPECT_NE(positions, accuracyPositions(kSeed + 1, 4096));
  std::set<std::int64_t> rows;
  for (const auto& [row, column] : positions) {
    ASSERT_TRUE(row >= 0 && row < 4096 && column >= 0 && column < 4096);
    rows.insert(row);
  }
  EXPECT_GT(rows.size(), 200u) << "spread over the matrix";
  for (const auto& [row, column] : accuracyPositions(kSeed, 1)) {
    EXPECT_TRUE(row == 0 && column == 0);
  }
}

// Any FP32 summation order lies within the bound; an indexing fault (the transposed element,
// a neighbour, one term left out) does not.
TEST(AccuracyCheck, RoundingNeverFailsAndAnIndexingFaultAlwaysDoes) {
  const std::int64_t n = 4096;
  const std::vector<gpu::ElementPosition> positions = accuracyPositions(kSeed, n, 12);
  std::vector<float> forward, reversed, fused, transposed, neighbour, shortSum;
  for (const auto& [row, column] : positions) {
    forward.push_back(fp32Element(n, row, column, false, false));
    reversed.push_back(fp32Element(n, row, column, true, false));
    fused.push_back(fp32Element(n, row, column, false, true));
    transposed.push_back(fp32Element(n, column, row, false, false));
    neighbour.push_back(fp32Element(n, row, (column + 1) % n, false, false));
    // Rows of the wrong length: an order of n − 1, one term fewer.
    shortSum.push_back(fp32Element(n - 1, row, column, false, false));
  }
  for (const auto* values : {&forward, &reversed, &fused}) {
    EXPECT_EQ(valuesOutsideBound(kSeed, n, positions, *values), 0);
  }
  for (const auto* values : {&transposed, &neighbour, &shortSum}) {
    EXPECT_EQ(valuesOutsideBound(kSeed, n, positions, *values), 12);
  }
  std::vector<float> notANumber = forward;
  notANumber[3] = std::nanf("");
  EXPECT_EQ(valuesOutsideBound(kSeed, n, positions, notANumber), 1);
}

// The CPU backend's product, read back, passes at sizes that divide nothing.
TEST(AccuracyCheck, TheCpuBackendsProductPassesAtAnySize) {
  gpu::cpu::CpuDevice device(gpu::cpu::CpuDeviceOptions{"/nonexistent", 2});
  for (const std::int64_t n : {1, 7, 63, 129}) {
    const LoadOutcome outcome = runMatrixLoad(device, n, 3);
    ASSERT_FALSE(outcome.failed()) << *outcome.failure;
    EXPECT_EQ(outcome.check, ResultCheck::passed) << n;
    EXPECT_EQ(outcome.accuracyCheck, ResultCheck::passed) << n;
    EXPECT_EQ(outcome.valuesChecked, kAccuracySamples);
  }
  EXPECT_FALSE(device.readElements(*device.newMatrix(device.newBuffer(16, {}), {2, 2, 8}),
                                   std::vector<gpu::ElementPosition>{{2, 0}}))
      << "a position outside the matrix";
}

} // namespace
} // namespace ventaro
