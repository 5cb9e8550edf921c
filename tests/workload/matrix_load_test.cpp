#include "tests/workload/fake_gpu.h"
#include "workload/matrix_load.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventaro {
namespace {

// A fake device whose load takes `elapsed` virtual seconds, all at commit, timed by a clock
// that moves only then and notes each reading among the calls.
struct TimedLoad {
  testing::FakeDevice device;
  double now = 1000.0;
  double elapsed = 1.0;

  TimedLoad() {
    device.onCommit = [this] { now += elapsed; };
  }
  LoadOutcome run(std::int64_t dimension, std::int64_t repetitions) {
    return runMatrixLoad(device, dimension, repetitions, [this] {
      device.record("clock");
      return now;
    });
  }
};

TEST(MatrixLoad, FillsAndComputesTheFirstProductBeforeTheClockAndChecksAfterIt) {
  TimedLoad load;
  load.device.rowBytes = 16448; // the buffers' length uses the device's stride
  load.device.differences = 12; // a planted fault: the last product differs from the first
  const LoadOutcome outcome = load.run(4096, 100000);
  const std::string buffer = "newBuffer 67371008 private", matrix = "newMatrix 4096x4096 16448";
  std::string calls;
  for (const std::string& call : load.device.calls) {
    calls += call + ", ";
  }
  EXPECT_EQ(calls,
            "newCommandQueue, commandBuffer, " + buffer + ", " + matrix + ", " + buffer + ", " +
                matrix +
                ", newMatrixMultiplication 4096 4096 4096, fillUniform, "
                "commandBuffer, encode, commit, waitUntilCompleted, error, " // first product
                "encode, clock, commit, waitUntilCompleted, clock, error, countDifferences, "
                "readElements 256, ");
  EXPECT_EQ(load.device.encodes, 100000);
  EXPECT_EQ(load.device.otherEncodes, 1) << "the first product, into the reference";
  EXPECT_EQ(outcome.multiplications, 100000);
  EXPECT_EQ(outcome.seconds, 1.0);
  EXPECT_EQ(outcome.gflops, 13'743'895) << "the figure is kept";
  EXPECT_TRUE(outcome.wrongResults() && !outcome.failed());
  EXPECT_EQ(outcome.mismatchedValues, 12);
  EXPECT_EQ(outcome.accuracyCheck, ResultCheck::passed);
}

// A kernel wrong the same way every time passes last = first; the values read back against
// the exact product catch it, and the figure is kept. Rounding to FP32 never fails it.
TEST(MatrixLoad, AProductWrongTheSameWayEveryTimeFailsTheAccuracyCheck) {
  for (const float error : {0.0f, 0.25f, -1.0f}) {
    TimedLoad load;
    load.device.productError = error;
    const LoadOutcome outcome = load.run(512, 4);
    EXPECT_EQ(outcome.check, ResultCheck::passed) << error;
    EXPECT_EQ(outcome.valuesChecked, 256);
    EXPECT_EQ(outcome.valuesOutsideBound, error == 0.0f ? 0 : 256) << error;
    EXPECT_EQ(outcome.accuracyCheck, error == 0.0f ? ResultCheck::passed : ResultCheck::failed);
    EXPECT_EQ(outcome.wrongResults(), error != 0.0f);
    EXPECT_FALSE(outcome.failed());
    EXPECT_GT(outcome.gflops, 0) << "the figure is kept";
  }
}

TEST(MatrixLoad, TurnsOperationsAndElapsedTimeIntoWholeGflops) {
  // 274.87 is not rounded to 275; below one, and elapsed times that give no figure or one
  // beyond 64 bits, give 0.
  const std::tuple<std::int64_t, double, std::int64_t> cases[] = {
      {1, 0.5, 274}, {256, 10.0, 3518}, {1, 200.0, 0},
      {1, 0.0, 0},   {1, -0.5, 0},      {1, std::numeric_limits<double>::quiet_NaN(), 0},
      {1, 1e-20, 0}};
  for (const auto& [repetitions, elapsed, gflops] : cases) {
    TimedLoad load;
    load.elapsed = elapsed;
    EXPECT_EQ(load.run(4096, repetitions).gflops, gflops) << elapsed;
  }
  const std::int64_t atTheCap = (std::int64_t{2} << 36) * maxLoadRepetitions; // 2 × 4096³ each
  EXPECT_EQ(gflopsFigure(atTheCap, 1.0), 9'223'371'899);
  EXPECT_EQ(gflopsFigure(atTheCap, 0.5e-9), 0) << "twice the largest 64-bit figure";
}

// Anything refused or a command buffer ending in error: figure 0 and the reason, with the
// device's own words where it has them.
TEST(MatrixLoad, AnyFailureGivesZeroAndSaysWhy) {
  const std::pair<const char*, const char*> refusals[] = {
      {"newCommandQueue", "cannot make a command queue: refused"},
      {"commandBuffer", "cannot make a command buffer: refused"},
      {"newBuffer", "cannot allocate 67108864 bytes for a matrix: refused"},
      {"newMatrixMultiplication", "cannot make a multiplication kernel: refused"},
      {"fillUniform", "cannot fill the matrix: refused"},
      {"countDifferences", "cannot compare the last product with the first: refused"},
      {"readElements", "cannot read back values of the product: refused"}};
  for (const auto& [refused, reason] : refusals) {
    TimedLoad load;
    load.device.refuse = refused;
    const LoadOutcome outcome = load.run(4096, 3);
    EXPECT_EQ(outcome.gflops, 0) << refused;
    EXPECT_EQ(outcome.failure, reason);
  }
  TimedLoad lost;
  lost.device.commandError = gpu::CommandError{"device lost"};
  EXPECT_EQ(lost.run(4096, 3).failure, "first product: device lost");
  TimedLoad narrow;
  narrow.device.rowBytes = 16383;
  EXPECT_EQ(narrow.run(4096, 1).failure, "no valid row stride for 4096 columns");
}

TEST(MatrixLoad, CapsRepetitionsSoThatTheOperationCountFits) {
  const std::int64_t cases[][3] = {
      // dimension, repetitions asked, repetitions made
      {4096, 67'108'863, 67'108'863}, {4096, 67'108'864, 67'108'863}, {4096, INT64_MAX, 67'108'863},
      {std::int64_t{1} << 20, 10, 3}, // 2 × 2^60 per multiplication: three fit in 63 bits
      {std::int64_t{1} << 21, 1, 0},  // one multiplication alone overflows
  };
  for (const auto& [dimension, asked, made] : cases) {
    EXPECT_EQ(effectiveRepetitions(dimension, asked), made) << dimension << " " << asked;
  }
}

} // namespace
} // namespace ventaro
