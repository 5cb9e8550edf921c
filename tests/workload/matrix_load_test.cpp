#include "tests/workload/fake_gpu.h"
#include "workload/matrix_load.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventaro {
namespace {

using testing::FakeDevice;

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

// A fake device whose command buffers take `elapsed` virtual seconds from commit to the end
// of the wait, timed by a clock that moves only then and notes each reading among the calls.
struct TimedLoad {
  FakeDevice device;
  double now = 1000.0;
  double elapsed = 1.0;

  TimedLoad() {
    device.onCommit = [this] { now += elapsed / 2; };
    device.onWait = [this] { now += elapsed / 2; };
  }
  LoadOutcome run(std::int64_t dimension, std::int64_t repetitions) {
    return runMatrixLoad(device, dimension, repetitions, [this] {
      device.record("clock");
      return now;
    });
  }
};

TEST(MatrixLoad, FillsAndComputesTheFirstProductBeforeTheClockAndChecksAfterIt) {
  // The buffers' length uses the device's stride, not 4 × dimension.
  const std::tuple<std::int64_t, std::uint64_t, const char*, const char*> cases[] = {
      {1, 0, "newBuffer 67108864 private", "newMatrix 4096x4096 16384"},
      {100000, 16448, "newBuffer 67371008 private", "newMatrix 4096x4096 16448"}};
  for (const auto& [repetitions, rowBytes, buffer, matrix] : cases) {
    TimedLoad load;
    load.device.rowBytes = rowBytes;
    const LoadOutcome outcome = load.run(4096, repetitions);
    EXPECT_EQ(load.device.calls, (std::vector<std::string>{"newCommandQueue",
                                                           "commandBuffer",
                                                           buffer,
                                                           matrix,
                                                           buffer,
                                                           matrix,
                                                           "newMatrixMultiplication 4096 4096 4096",
                                                           "fillUniform",
                                                           "commandBuffer",
                                                           "encode",
                                                           "commit",
                                                           "waitUntilCompleted",
                                                           "error", // the first product
                                                           "encode",
                                                           "clock",
                                                           "commit",
                                                           "waitUntilCompleted",
                                                           "clock",
                                                           "error",
                                                           "countDifferences"}));
    EXPECT_EQ(load.device.encodes, repetitions + 1);
    EXPECT_EQ(load.device.distinctOperandEncodes, 1) << "only the first product is elsewhere";
    EXPECT_EQ(outcome.multiplications, repetitions);
    EXPECT_EQ(outcome.seconds, 1.0);
    EXPECT_EQ(outcome.check, ResultCheck::passed);
    EXPECT_FALSE(outcome.failed());
  }
}

TEST(MatrixLoad, TurnsOperationsAndElapsedTimeIntoWholeGflops) {
  TimedLoad truncated;
  truncated.elapsed = 0.5;
  EXPECT_EQ(truncated.run(4096, 1).gflops, 274) << "not rounded to 275";
  TimedLoad many;
  many.elapsed = 10.0;
  EXPECT_EQ(many.run(4096, 256).gflops, 3518);
  // Below one, and elapsed times that give no figure or one beyond 64 bits.
  for (const double elapsed : {200.0, 0.0, -0.5, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(), 1e-20}) {
    TimedLoad load;
    load.elapsed = elapsed;
    EXPECT_EQ(load.run(4096, 1).gflops, 0) << elapsed;
  }
  const std::int64_t atTheCap = (std::int64_t{2} << 36) * maxLoadRepetitions; // 2 × 4096³ each
  EXPECT_EQ(gflopsFigure(atTheCap, 1.0), 9'223'371'899);
  EXPECT_EQ(gflopsFigure(atTheCap, 0.5e-9), 0) << "twice the largest 64-bit figure";
}

// Anything refused, a command buffer ending in error, or nothing to compute: figure 0 and
// the reason, with the device's own words where it has them.
TEST(MatrixLoad, AnyFailureGivesZeroAndSaysWhy) {
  const std::pair<const char*, const char*> refusals[] = {
      {"newCommandQueue", "cannot make a command queue: refused"},
      {"commandBuffer", "cannot make a command buffer: refused"},
      {"newBuffer", "cannot allocate 67108864 bytes for a matrix: refused"},
      {"newMatrixMultiplication", "cannot make a multiplication kernel: refused"},
      {"fillUniform", "cannot fill the matrix: refused"},
      {"countDifferences", "cannot compare the last product with the first: refused"}};
  for (const auto& [refused, reason] : refusals) {
    TimedLoad load;
    load.elapsed = 0.5; // 274 without the failure
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
  for (const auto& [dimension, repetitions] :
       {std::pair<std::int64_t, std::int64_t>{4096, 0}, {-4096, 1}, {int64Max, 1}}) {
    TimedLoad load;
    EXPECT_TRUE(load.run(dimension, repetitions).failed()) << dimension << " " << repetitions;
    EXPECT_TRUE(load.device.calls.empty());
  }
}

TEST(MatrixLoad, ALastProductThatDiffersFailsTheCheckButKeepsTheFigure) {
  TimedLoad load;
  load.elapsed = 0.5;
  load.device.differences = 12;
  const LoadOutcome outcome = load.run(4096, 1);
  EXPECT_EQ(outcome.gflops, 274);
  EXPECT_TRUE(outcome.wrongResults());
  EXPECT_EQ(outcome.mismatchedValues, 12);
  EXPECT_FALSE(outcome.failed());
}

TEST(MatrixLoad, CapsRepetitionsSoThatTheOperationCountFits) {
  const std::int64_t cases[][3] = {
      // dimension, repetitions asked, repetitions made
      {4096, 67'108'863, 67'108'863}, {4096, 67'108'864, 67'108'863}, {4096, int64Max, 67'108'863},
      {std::int64_t{1} << 20, 10, 3}, // 2 × 2^60 per multiplication: three fit in 63 bits
      {std::int64_t{1} << 21, 1, 0},  // one multiplication alone overflows
  };
  for (const auto& [dimension, asked, made] : cases) {
    EXPECT_EQ(effectiveRepetitions(dimension, asked), made) << dimension << " " << asked;
  }
}

} // namespace
} // namespace ventaro
