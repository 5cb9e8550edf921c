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
  std::int64_t run(std::int64_t dimension, std::int64_t repetitions) {
    return runMatrixLoad(device, dimension, repetitions, [this] {
      device.record("clock");
      return now;
    });
  }
};

TEST(MatrixLoad, OneMatrixOneSubmissionTimedAroundCommitAndWaitOnly) {
  // The buffer's length uses the device's stride, not 4 × dimension.
  const std::tuple<std::int64_t, std::uint64_t, const char*, const char*> cases[] = {
      {1, 0, "newBuffer 67108864 32", "newMatrix 4096x4096 16384"},
      {100000, 16448, "newBuffer 67371008 32", "newMatrix 4096x4096 16448"}};
  for (const auto& [repetitions, rowBytes, buffer, matrix] : cases) {
    TimedLoad load;
    load.device.rowBytes = rowBytes;
    load.run(4096, repetitions);
    EXPECT_EQ(load.device.calls,
              (std::vector<std::string>{"newCommandQueue", "commandBuffer", buffer, matrix,
                                        "newMatrixMultiplication 4096 4096 4096", "encode", "clock",
                                        "commit", "waitUntilCompleted", "clock", "error"}));
    EXPECT_EQ(load.device.encodes, repetitions);
    EXPECT_EQ(load.device.distinctOperandEncodes, 0) << "the one matrix is every operand";
    EXPECT_EQ(load.device.encodesAfterCommit, 0);
  }
}

TEST(MatrixLoad, TurnsOperationsAndElapsedTimeIntoWholeGflops) {
  TimedLoad truncated;
  truncated.elapsed = 0.5;
  EXPECT_EQ(truncated.run(4096, 1), 274) << "not rounded to 275";
  TimedLoad many;
  many.elapsed = 10.0;
  EXPECT_EQ(many.run(4096, 256), 3518);
  // Below one, and elapsed times that give no figure or one beyond 64 bits.
  for (const double elapsed : {200.0, 0.0, -0.5, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(), 1e-20}) {
    TimedLoad load;
    load.elapsed = elapsed;
    EXPECT_EQ(load.run(4096, 1), 0) << elapsed;
  }
  const std::int64_t atTheCap = (std::int64_t{2} << 36) * maxLoadRepetitions; // 2 × 4096³ each
  EXPECT_EQ(gflopsFigure(atTheCap, 1.0), 9'223'371'899);
  EXPECT_GT(gflopsFigure(atTheCap, 1e-9), 9'223'371'000'000'000'000);
  EXPECT_EQ(gflopsFigure(atTheCap, 0.5e-9), 0) << "twice the largest 64-bit figure";
}

// An object refused (allocation failure) or a command buffer ending in error gives 0.
TEST(MatrixLoad, AnyGpuFailureGivesZero) {
  for (const char* refused : {"newCommandQueue", "commandBuffer", "newBuffer", "newMatrix",
                              "newMatrixMultiplication", ""}) {
    TimedLoad load;
    load.elapsed = 0.5; // 274 without the failure
    load.device.refuse = refused;
    if (*refused == '\0') {
      load.device.commandError = gpu::CommandError{"device lost"};
    }
    EXPECT_EQ(load.run(4096, 3), 0) << refused;
    EXPECT_EQ(load.device.count("commit"), *refused == '\0' ? 1u : 0u) << refused;
  }
}

TEST(MatrixLoad, StrideThatCannotHoldTheMatrixGivesZeroWithoutABuffer) {
  for (const std::uint64_t rowBytes : {std::uint64_t{8}, std::uint64_t{16383},
                                       std::uint64_t{1} << 62 /* length beyond 64 bits */}) {
    TimedLoad load;
    load.device.rowBytes = rowBytes;
    EXPECT_EQ(load.run(4096, 1), 0) << rowBytes;
    EXPECT_EQ(load.device.calls, (std::vector<std::string>{"newCommandQueue", "commandBuffer"}));
  }
}

TEST(MatrixLoad, NothingToEncodeGivesZeroWithoutTouchingTheDevice) {
  for (const auto& [dimension, repetitions] : {std::pair<std::int64_t, std::int64_t>{4096, 0},
                                               {4096, -5},
                                               {0, 1},
                                               {-4096, 1},
                                               {int64Max, 1}}) {
    TimedLoad load;
    EXPECT_EQ(load.run(dimension, repetitions), 0) << dimension << " " << repetitions;
    EXPECT_TRUE(load.device.calls.empty());
  }
}

TEST(MatrixLoad, CapsRepetitionsSoThatTheOperationCountFits) {
  const std::int64_t cases[][3] = {
      // dimension, repetitions asked, repetitions made
      {4096, 67'108'863, 67'108'863}, {4096, 67'108'864, 67'108'863}, {4096, int64Max, 67'108'863},
      {1024, int64Max, 67'108'863},   // the cap holds at smaller sizes too
      {std::int64_t{1} << 20, 10, 3}, // 2 × 2^60 per multiplication: three fit in 63 bits
      {std::int64_t{1} << 21, 1, 0},  // one multiplication alone overflows
  };
  for (const auto& [dimension, asked, made] : cases) {
    EXPECT_EQ(effectiveRepetitions(dimension, asked), made) << dimension << " " << asked;
  }
  TimedLoad load;
  EXPECT_EQ(load.run(std::int64_t{1} << 20, 10), static_cast<std::int64_t>(3 * 0x1p61 / 1e9));
  EXPECT_EQ(load.device.encodes, 3);
}

} // namespace
} // namespace ventaro
