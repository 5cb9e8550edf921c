#include "tests/workload/fake_gpu.h"
#include "workload/matrix_load.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace ventaro {
namespace {

using testing::FakeDevice;

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

// A fake device whose command buffers take `elapsed` virtual seconds between commit and the
// end of the wait, timed by a clock that only moves when the fake says so.
struct TimedLoad {
  FakeDevice device;
  double now = 1000.0;
  double elapsed = 1.0;

  TimedLoad() {
    device.onCommit = [this] { now += elapsed / 2; };
    device.onWait = [this] { now += elapsed / 2; };
  }
  std::int64_t run(std::int64_t dimension, std::int64_t repetitions) {
    return runMatrixLoad(device, dimension, repetitions, [this] { return now; });
  }
};

TEST(MatrixLoad, MakesOneOfEachObjectAndSubmitsOnceWhateverTheRepetitions) {
  for (std::int64_t repetitions : {1, 2, 3, 1000, 100000}) {
    SCOPED_TRACE(repetitions);
    TimedLoad load;
    load.run(4096, repetitions);
    const FakeDevice::Counts& counts = load.device.counts;
    EXPECT_EQ(counts.queues, 1);
    EXPECT_EQ(counts.commandBuffers, 1);
    EXPECT_EQ(counts.buffers, 1);
    EXPECT_EQ(counts.matrices, 1);
    EXPECT_EQ(counts.kernels, 1);
    EXPECT_EQ(counts.encodes, repetitions);
    EXPECT_EQ(counts.commits, 1);
    EXPECT_EQ(counts.waits, 1);
    EXPECT_EQ(load.device.distinctOperandEncodes, 0) << "the one matrix is every operand";
    EXPECT_EQ(load.device.encodesAfterCommit, 0);
    EXPECT_EQ(load.device.liveObjects, 0) << "every object is released before returning";
  }
}

TEST(MatrixLoad, SizesBufferMatrixAndKernelFromTheDimensionAndTheDeviceStride) {
  TimedLoad load;
  load.device.rowBytes = 16448; // a padded stride: the length must use it, not 4 × dimension
  load.run(4096, 1);
  EXPECT_EQ(load.device.lastRowBytesColumns, 4096);
  EXPECT_EQ(load.device.lastBufferLength, 4096u * 16448u);
  EXPECT_EQ(load.device.lastBufferOptions, gpu::ResourceOptions::storageModePrivate);
  EXPECT_EQ(static_cast<std::uint64_t>(gpu::ResourceOptions::storageModePrivate), 32u);
  ASSERT_TRUE(load.device.lastDescriptor);
  EXPECT_EQ(load.device.lastDescriptor->rows, 4096);
  EXPECT_EQ(load.device.lastDescriptor->columns, 4096);
  EXPECT_EQ(load.device.lastDescriptor->rowBytes, 16448u);
  EXPECT_EQ(load.device.lastDescriptor->dataType, gpu::DataType::float32);
  ASSERT_TRUE(load.device.lastKernelSizes);
  EXPECT_EQ(load.device.lastKernelSizes->resultRows, 4096);
  EXPECT_EQ(load.device.lastKernelSizes->resultColumns, 4096);
  EXPECT_EQ(load.device.lastKernelSizes->interiorColumns, 4096);
}

TEST(MatrixLoad, TimesOnlySubmissionAndCompletion) {
  FakeDevice device;
  runMatrixLoad(device, 64, 5, [&device] {
    device.calls.emplace_back("clock");
    return static_cast<double>(device.calls.size());
  });
  const std::vector<std::string> expected = {
      "newCommandQueue",         "commandBuffer", "newBuffer", "newMatrix",
      "newMatrixMultiplication", "encode",        "clock",     "commit",
      "waitUntilCompleted",      "clock",         "error"};
  EXPECT_EQ(device.calls, expected);
}

struct FigureCase {
  const char* label;
  std::int64_t repetitions;
  double elapsed;
  std::int64_t expected;
};

TEST(MatrixLoad, TurnsOperationsAndElapsedTimeIntoWholeGflops) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  const FigureCase cases[] = {
      {"truncated, not rounded", 1, 0.5, 274},
      {"256 in ten seconds", 256, 10.0, 3518},
      {"below one", 1, 200.0, 0},
      {"zero elapsed", 1, 0.0, 0},
      {"negative elapsed", 1, -0.5, 0},
      {"not a number", 1, nan, 0},
      {"infinite elapsed", 1, infinity, 0},
      {"figure beyond 64 bits", 1, 1e-20, 0},
  };
  for (const FigureCase& c : cases) {
    SCOPED_TRACE(c.label);
    TimedLoad load;
    load.elapsed = c.elapsed;
    EXPECT_EQ(load.run(4096, c.repetitions), c.expected);
  }
}

TEST(MatrixLoad, CommandBufferErrorGivesZeroWhateverTheTime) {
  TimedLoad load;
  load.elapsed = 0.5; // would be 274 without the error
  load.device.commandError = gpu::CommandError{"device lost"};
  EXPECT_EQ(load.run(4096, 1), 0);
  EXPECT_EQ(load.device.counts.waits, 1);
  EXPECT_EQ(load.device.liveObjects, 0);
}

TEST(MatrixLoad, ObjectThatCannotBeMadeGivesZeroWithoutSubmitting) {
  struct Case {
    const char* label;
    bool FakeDevice::*refusal;
  };
  const Case cases[] = {{"queue", &FakeDevice::failQueue},
                        {"command buffer", &FakeDevice::failCommandBuffer},
                        {"buffer", &FakeDevice::failBuffer},
                        {"matrix", &FakeDevice::failMatrix},
                        {"kernel", &FakeDevice::failKernel}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TimedLoad load;
    load.device.*c.refusal = true;
    EXPECT_EQ(load.run(4096, 3), 0);
    EXPECT_EQ(load.device.counts.encodes, 0);
    EXPECT_EQ(load.device.counts.commits, 0);
    EXPECT_EQ(load.device.liveObjects, 0);
  }
}

TEST(MatrixLoad, RefusesStridesThatCannotHoldTheMatrix) {
  for (std::uint64_t rowBytes : {std::uint64_t{8}, std::uint64_t{16383},
                                 std::uint64_t{1} << 62 /* length beyond 64 bits */}) {
    SCOPED_TRACE(rowBytes);
    TimedLoad load;
    load.device.rowBytes = rowBytes;
    EXPECT_EQ(load.run(4096, 1), 0);
    EXPECT_EQ(load.device.counts.buffers, 0);
    EXPECT_EQ(load.device.lastBufferLength, 0u) << "no buffer of a wrapped length requested";
  }
}

TEST(MatrixLoad, NothingToEncodeGivesZeroWithoutTouchingTheDevice) {
  for (auto [dimension, repetitions] : {std::pair<std::int64_t, std::int64_t>{4096, 0},
                                        {4096, -5},
                                        {0, 1},
                                        {-4096, 1},
                                        {int64Max, 1}}) {
    SCOPED_TRACE(::testing::PrintToString(std::pair(dimension, repetitions)));
    TimedLoad load;
    EXPECT_EQ(load.run(dimension, repetitions), 0);
    EXPECT_TRUE(load.device.calls.empty());
  }
}

TEST(MatrixLoad, CapsRepetitionsSoThatTheOperationCountFits) {
  struct Case {
    std::int64_t dimension, repetitions, expected;
  };
  const Case cases[] = {
      {4096, 67'108'863, 67'108'863}, {4096, 67'108'864, 67'108'863}, {4096, int64Max, 67'108'863},
      {1024, int64Max, 67'108'863},   // the cap holds at smaller sizes too
      {std::int64_t{1} << 20, 10, 3}, // 2 × 2^60 per multiplication: three fit in 63 bits
      {std::int64_t{1} << 21, 1, 0},  // one multiplication alone overflows
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::pair(c.dimension, c.repetitions)));
    EXPECT_EQ(effectiveRepetitions(c.dimension, c.repetitions), c.expected);
  }
}

TEST(MatrixLoad, EncodesTheCappedCountAndMeasuresIt) {
  TimedLoad load;
  load.elapsed = 1.0;
  const std::int64_t dimension = std::int64_t{1} << 20;
  const std::int64_t figure = load.run(dimension, 10);
  EXPECT_EQ(load.device.counts.encodes, 3);
  // 3 × 2 × 2^60 operations in one second.
  EXPECT_EQ(figure, static_cast<std::int64_t>(3.0 * 0x1p61 / 1e9));
}

TEST(MatrixLoad, FigureAtTheCapStaysInRange) {
  const std::int64_t operations = (std::int64_t{2} << 36) * maxLoadRepetitions;
  EXPECT_EQ(operations, int64Max - ((std::int64_t{1} << 37) - 1));
  EXPECT_EQ(gflopsFigure(operations, 1.0), 9'223'371'899);
  EXPECT_GT(gflopsFigure(operations, 1e-9), 9'223'371'000'000'000'000);
  EXPECT_EQ(gflopsFigure(operations, 0.5e-9), 0) << "twice the largest 64-bit figure";
}

} // namespace
} // namespace ventaro
