#include "tests/workload/fake_gpu.h"
#include "workload/cpu/cpu_command_buffer.h"
#include "workload/cpu/cpu_device.h"
#include "workload/cpu/processor_info.h"
#include "workload/matrix_load.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <sstream>

namespace ventaro::gpu::cpu {
namespace {

using Elements = std::vector<float>;

// One matrix of a CPU device, made the way the load makes it, over a buffer that may be
// wider than the matrix.
struct Square {
  CpuDevice device;
  std::int64_t dimension;
  std::shared_ptr<Buffer> buffer;
  std::unique_ptr<Matrix> matrix;

  Square(int threads, std::int64_t n, std::uint64_t rowBytes = 0)
      : device(CpuDeviceOptions{"/nonexistent", threads}), dimension(n) {
    if (rowBytes == 0) {
      rowBytes = device.rowBytesFromColumns(n, DataType::float32);
    }
    buffer = device.newBuffer(static_cast<std::uint64_t>(n) * rowBytes,
                              ResourceOptions::storageModePrivate);
    matrix = device.newMatrix(buffer, MatrixDescriptor{n, n, rowBytes, DataType::float32});
  }

  // Encodes `count` multiplications of the matrix by itself (sizes as given, default the
  // whole matrix), runs them and answers the command buffer's error.
  std::optional<CommandError> square(std::int64_t count, std::int64_t size = 0) {
    size = size == 0 ? dimension : size;
    auto queue = device.newCommandQueue();
    auto commandBuffer = queue->commandBuffer();
    auto kernel = device.newMatrixMultiplication(size, size, size);
    for (std::int64_t i = 0; i < count; ++i) {
      kernel->encodeToCommandBuffer(*commandBuffer, *matrix, *matrix, *matrix);
    }
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    return commandBuffer->error();
  }
};

Elements randomElements(std::size_t n, unsigned seed) {
  // Entries of size about 1/√n keep repeated squares near 1 rather than overflowing.
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  Elements elements(n * n);
  const float scale = 1.7f / std::sqrt(static_cast<float>(n));
  for (float& e : elements) {
    e = uniform(random) * scale;
  }
  return elements;
}

std::vector<double> naiveSquare(const std::vector<double>& a, std::size_t n) {
  std::vector<double> c(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < n; ++k) {
      for (std::size_t j = 0; j < n; ++j) {
        c[i * n + j] += a[i * n + k] * a[k * n + j];
      }
    }
  }
  return c;
}

// ‖got − expected‖ / ‖expected‖ in the Frobenius norm.
double relativeError(const Elements& got, const std::vector<double>& expected) {
  double difference = 0, norm = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    difference += (got[i] - expected[i]) * (got[i] - expected[i]);
    norm += expected[i] * expected[i];
  }
  return std::sqrt(difference / norm);
}

TEST(CpuBackend, RepeatedSquaringMatchesDoublePrecision) {
  for (int threads : {1, 2, 3}) {
    for (std::int64_t n : {1, 2, 7, 33, 64}) {
      for (int k : {1, 2, 3, 4}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads, n " << n << ", k " << k);
        Square m(threads, n);
        ASSERT_NE(m.matrix, nullptr);
        const Elements start = randomElements(static_cast<std::size_t>(n), 17u * k + n);
        ASSERT_TRUE(writeMatrix(*m.matrix, start));
        std::vector<double> expected(start.begin(), start.end());
        for (int i = 0; i < k; ++i) {
          expected = naiveSquare(expected, static_cast<std::size_t>(n));
        }
        ASSERT_FALSE(m.square(k));
        EXPECT_LT(relativeError(readMatrix(*m.matrix), expected), 1e-5);
      }
    }
  }
}

// A permutation matrix whose squares stay exact: a skipped, repeated or misplaced
// multiplication shows as a different permutation.
TEST(CpuBackend, LongRunsOfSquaresStayExact) {
  constexpr std::int64_t n = 17; // one 17-cycle: 2 has order 8 modulo 17
  for (std::int64_t count : {1, 2, 3, 8, 9, 130}) {
    SCOPED_TRACE(count);
    Square m(2, n);
    Elements start(n * n, 0.0f);
    for (std::int64_t i = 0; i < n; ++i) {
      start[i * n + (i + 1) % n] = 1.0f; // row i has its one at column σ(i) = i + 1
    }
    ASSERT_TRUE(writeMatrix(*m.matrix, start));
    ASSERT_FALSE(m.square(count));
    std::int64_t shift = 1;
    for (std::int64_t i = 0; i < count; ++i) {
      shift = shift * 2 % n;
    }
    Elements expected(n * n, 0.0f);
    for (std::int64_t i = 0; i < n; ++i) {
      expected[i * n + (i + shift) % n] = 1.0f;
    }
    EXPECT_EQ(readMatrix(*m.matrix), expected);
  }
}

TEST(CpuBackend, PaddedRowsAndPartialProductsKeepTheRestOfTheMatrix) {
  // A 5 × 5 matrix with 8-float rows, of which only the top-left 3 × 3 block is squared.
  Square m(2, 5, 8 * sizeof(float));
  ASSERT_NE(m.matrix, nullptr);
  Elements start(25);
  std::iota(start.begin(), start.end(), 1.0f);
  ASSERT_TRUE(writeMatrix(*m.matrix, start));
  ASSERT_FALSE(m.square(1, 3));
  Elements expected = start;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      float sum = 0;
      for (int k = 0; k < 3; ++k) {
        sum += start[i * 5 + k] * start[k * 5 + j];
      }
      expected[i * 5 + j] = sum;
    }
  }
  EXPECT_EQ(readMatrix(*m.matrix), expected);
}

TEST(CpuBackend, DistinctOperandsRunInEncodingOrder) {
  CpuDevice device(CpuDeviceOptions{"/nonexistent", 2});
  auto make = [&device](Elements values) {
    auto buffer = device.newBuffer(4 * sizeof(float), ResourceOptions::storageModePrivate);
    auto matrix = device.newMatrix(buffer, {2, 2, 2 * sizeof(float), DataType::float32});
    writeMatrix(*matrix, values);
    return matrix;
  };
  auto a = make({1, 2, 3, 4});
  auto b = make({5, 6, 7, 8});
  auto c = make({0, 0, 0, 0});
  auto queue = device.newCommandQueue();
  auto commandBuffer = queue->commandBuffer();
  auto kernel = device.newMatrixMultiplication(2, 2, 2);
  kernel->encodeToCommandBuffer(*commandBuffer, *a, *b, *c);
  kernel->encodeToCommandBuffer(*commandBuffer, *c, *b, *a); // then a = c·b, after c is made
  commandBuffer->commit();
  commandBuffer->waitUntilCompleted();
  ASSERT_FALSE(commandBuffer->error());
  EXPECT_EQ(readMatrix(*c), (Elements{19, 22, 43, 50}));
  EXPECT_EQ(readMatrix(*a), (Elements{249, 290, 565, 658}));
}

TEST(CpuBackend, FlushesDenormalsOnEveryComputingThread) {
  // Each product is 1e-40, a denormal; with flushing every element of the result is 0.
  Square m(3, 48);
  ASSERT_TRUE(writeMatrix(*m.matrix, Elements(48 * 48, 1e-20f)));
  ASSERT_FALSE(m.square(1));
  const Elements result = readMatrix(*m.matrix);
  EXPECT_EQ(std::count(result.begin(), result.end(), 0.0f), 48 * 48);
}

TEST(CpuBackend, CommandBufferMemoryDoesNotGrowWithRepetitions) {
  Square m(1, 2);
  auto queue = m.device.newCommandQueue();
  auto commandBuffer = queue->commandBuffer();
  auto kernel = m.device.newMatrixMultiplication(2, 2, 2);
  for (int i = 0; i < 10000; ++i) {
    kernel->encodeToCommandBuffer(*commandBuffer, *m.matrix, *m.matrix, *m.matrix);
  }
  EXPECT_EQ(dynamic_cast<CpuCommandBuffer&>(*commandBuffer).runCount(), 1u);
}

TEST(CpuBackend, ReportsMisuseAsTheCommandBufferError) {
  Square m(2, 4);
  testing::FakeDevice fake;
  auto fakeBuffer = fake.newBuffer(64, ResourceOptions::storageModePrivate);
  auto foreign = fake.newMatrix(fakeBuffer, {4, 4, 16, DataType::float32});
  auto queue = m.device.newCommandQueue();
  {
    auto commandBuffer = queue->commandBuffer();
    m.device.newMatrixMultiplication(4, 4, 4)->encodeToCommandBuffer(*commandBuffer, *m.matrix,
                                                                     *foreign, *m.matrix);
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    EXPECT_TRUE(commandBuffer->error()) << "matrix of another device";
  }
  {
    auto commandBuffer = queue->commandBuffer();
    m.device.newMatrixMultiplication(5, 4, 4)->encodeToCommandBuffer(*commandBuffer, *m.matrix,
                                                                     *m.matrix, *m.matrix);
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    EXPECT_TRUE(commandBuffer->error()) << "kernel larger than the matrix";
  }
  {
    auto commandBuffer = queue->commandBuffer();
    auto kernel = m.device.newMatrixMultiplication(4, 4, 4);
    commandBuffer->commit();
    kernel->encodeToCommandBuffer(*commandBuffer, *m.matrix, *m.matrix, *m.matrix);
    commandBuffer->waitUntilCompleted();
    EXPECT_TRUE(commandBuffer->error()) << "encoded after commit";
  }
}

TEST(CpuBackend, RefusesObjectsItCannotMake) {
  CpuDevice device(CpuDeviceOptions{"/nonexistent", 1});
  EXPECT_EQ(device.newBuffer(0, ResourceOptions::storageModePrivate), nullptr);
  EXPECT_EQ(device.newBuffer(UINT64_MAX, ResourceOptions::storageModePrivate), nullptr);
  auto buffer = device.newBuffer(64, ResourceOptions::storageModePrivate);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->length(), 64u);
  EXPECT_NE(device.newMatrix(buffer, {4, 4, 16, DataType::float32}), nullptr);
  EXPECT_EQ(device.newMatrix(buffer, {5, 4, 16, DataType::float32}), nullptr) << "too small";
  EXPECT_EQ(device.newMatrix(buffer, {4, 4, 12, DataType::float32}), nullptr) << "short rows";
  EXPECT_EQ(device.newMatrix(buffer, {2, 2, 10, DataType::float32}), nullptr) << "odd stride";
  EXPECT_EQ(device.newMatrix(nullptr, {1, 1, 4, DataType::float32}), nullptr);
  EXPECT_EQ(device.newMatrixMultiplication(0, 4, 4), nullptr);
  EXPECT_EQ(device.newMatrixMultiplication(4, std::int64_t{1} << 31, 4), nullptr);
  EXPECT_EQ(device.rowBytesFromColumns(4096, DataType::float32), 16384u);
  EXPECT_EQ(device.rowBytesFromColumns(0, DataType::float32), 0u);
}

TEST(CpuBackend, RunsTheMeasuredLoad) {
  CpuDevice device(CpuDeviceOptions{"/nonexistent", 2});
  EXPECT_GE(runMatrixLoad(device, 512, 4), 1); // about 1 GFLOP of work
}

TEST(CpuBackend, NamesItselfAfterTheProcessorAndSizesByThreads) {
  const std::filesystem::path file =
      std::filesystem::path(::testing::TempDir()) / "ventaro-cpuinfo-test";
  std::ofstream(file) << "processor\t: 0\nmodel\t\t: 1\nmodel name\t: Example Processor 9000  \n"
                         "\nprocessor\t: 1\nmodel name\t: Second Name\n";
  CpuDevice device(CpuDeviceOptions{file.string(), 3});
  EXPECT_EQ(device.name(), "Example Processor 9000");
  EXPECT_EQ(device.recommendedMaxWorkingSetSize(), 3 * (std::uint64_t{64} << 20));
  std::filesystem::remove(file);

  EXPECT_EQ(CpuDevice(CpuDeviceOptions{"/nonexistent", 1}).name(), "CPU");
  EXPECT_GE(CpuDevice().threads(), 1) << "all processors by default";
  EXPECT_EQ(CpuDevice().threads(), availableProcessorCount());
}

TEST(CpuBackend, ReadsTheModelNameFromCpuInfoText) {
  const std::pair<const char*, const char*> cases[] = {
      {"model name\t: A B C\n", "A B C"},
      {"vendor_id : x\nmodel : 5\nmodel name:Tight\n", "Tight"},
      {"model name\t: \n", ""},
      {"processor : 0\nBogoMIPS : 50\n", ""}, // no model name (some ARM kernels)
      {"", ""},
  };
  for (auto [text, expected] : cases) {
    SCOPED_TRACE(text);
    std::istringstream in(text);
    EXPECT_EQ(modelNameFromCpuInfo(in), expected);
  }
}

} // namespace
} // namespace ventaro::gpu::cpu
