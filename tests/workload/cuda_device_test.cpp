#include "workload/cuda/cuda_device.h"
#include "workload/matrix_load.h"

#include <cmath>
#include <cuda_runtime_api.h>
#include <gtest/gtest.h>
#include <random>

namespace ventaro::gpu::cuda {
namespace {

using Elements = std::vector<float>;

class CudaBackend : public ::testing::Test {
protected:
  void SetUp() override {
    if (cudaDevices().empty()) {
      GTEST_SKIP() << "no CUDA driver or device on this machine";
    }
    device = cudaDevices().front();
  }

  struct Square {
    std::shared_ptr<Buffer> buffer;
    std::unique_ptr<Matrix> matrix;
  };

  Square makeSquare(std::int64_t n) {
    Square square;
    const std::uint64_t rowBytes = device->rowBytesFromColumns(n, DataType::float32);
    square.buffer = device->newBuffer(static_cast<std::uint64_t>(n) * rowBytes,
                                      ResourceOptions::storageModePrivate);
    if (square.buffer) {
      square.matrix =
          device->newMatrix(square.buffer, MatrixDescriptor{n, n, rowBytes, DataType::float32});
    }
    return square;
  }

  // Multiplies `matrix` by itself in place `count` times over its top-left `size` block.
  std::optional<CommandError> square(Matrix& matrix, std::int64_t count, std::int64_t size) {
    auto queue = device->newCommandQueue();
    if (!queue) {
      return CommandError{"no queue"};
    }
    auto commandBuffer = queue->commandBuffer();
    auto kernel = device->newMatrixMultiplication(size, size, size);
    for (std::int64_t i = 0; i < count; ++i) {
      kernel->encodeToCommandBuffer(*commandBuffer, matrix, matrix, matrix);
    }
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    return commandBuffer->error();
  }

  std::shared_ptr<Device> device;
};

TEST(CudaDevices, ListingIsStableAndAnEmptyListWithoutADriver) {
  const auto first = cudaDevices();
  EXPECT_EQ(cudaDevices(), first) << "the same device objects every time";
  for (const auto& device : first) {
    EXPECT_FALSE(device->name().empty());
  }
  int count = 0;
  if (cudaGetDeviceCount(&count) != cudaSuccess) {
    EXPECT_TRUE(first.empty());
  } else {
    EXPECT_EQ(first.size(), static_cast<std::size_t>(count));
  }
}

TEST_F(CudaBackend, ReportsNameAndTotalMemory) {
  cudaDeviceProp properties{};
  ASSERT_EQ(cudaGetDeviceProperties(&properties, 0), cudaSuccess);
  EXPECT_EQ(device->name(), properties.name);
  EXPECT_EQ(device->recommendedMaxWorkingSetSize(), properties.totalGlobalMem);
}

TEST_F(CudaBackend, RepeatedSquaringMatchesDoublePrecision) {
  for (std::int64_t n : {1, 3, 64, 200}) {
    for (int k : {1, 2, 3, 5}) {
      SCOPED_TRACE(::testing::Message() << "n " << n << ", k " << k);
      Square m = makeSquare(n);
      ASSERT_NE(m.matrix, nullptr);
      std::mt19937 random(static_cast<unsigned>(n * 31 + k));
      std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
      Elements start(static_cast<std::size_t>(n * n));
      for (float& e : start) {
        e = uniform(random) * 1.7f / std::sqrt(static_cast<float>(n));
      }
      ASSERT_TRUE(writeMatrix(*m.matrix, start));
      std::vector<double> expected(start.begin(), start.end());
      for (int step = 0; step < k; ++step) {
        std::vector<double> next(expected.size(), 0.0);
        for (std::int64_t i = 0; i < n; ++i) {
          for (std::int64_t c = 0; c < n; ++c) {
            for (std::int64_t j = 0; j < n; ++j) {
              next[i * n + j] += expected[i * n + c] * expected[c * n + j];
            }
          }
        }
        expected = next;
      }
      ASSERT_FALSE(square(*m.matrix, k, n));
      const Elements got = readMatrix(*m.matrix);
      ASSERT_EQ(got.size(), expected.size());
      double difference = 0, norm = 0;
      for (std::size_t i = 0; i < got.size(); ++i) {
        difference += (got[i] - expected[i]) * (got[i] - expected[i]);
        norm += expected[i] * expected[i];
      }
      EXPECT_LT(std::sqrt(difference / norm), 1e-5);
    }
  }
}

TEST_F(CudaBackend, LongRunsOfSquaresStayExact) {
  // A 17-cycle permutation: its squares stay exact, and 2 has order 8 modulo 17, so a
  // skipped or repeated multiplication anywhere in a run shows. 130 and 257 go through the
  // largest prebuilt graph more than once, with an odd last multiplication for 257.
  constexpr std::int64_t n = 17;
  for (std::int64_t count : {1, 2, 3, 8, 9, 130, 257}) {
    SCOPED_TRACE(count);
    Square m = makeSquare(n);
    ASSERT_NE(m.matrix, nullptr);
    Elements start(n * n, 0.0f);
    for (std::int64_t i = 0; i < n; ++i) {
      start[i * n + (i + 1) % n] = 1.0f;
    }
    ASSERT_TRUE(writeMatrix(*m.matrix, start));
    ASSERT_FALSE(square(*m.matrix, count, n));
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

TEST_F(CudaBackend, ComputesInFullSinglePrecision) {
  // 1 + 2^-12 is not representable with TF32's 10-bit mantissa: a reduced-precision path
  // would give exactly 64 for each element of the square of this 64 × 64 matrix.
  constexpr std::int64_t n = 64;
  Square m = makeSquare(n);
  ASSERT_NE(m.matrix, nullptr);
  const float value = 1.0f + 0x1p-12f;
  ASSERT_TRUE(writeMatrix(*m.matrix, Elements(n * n, value)));
  ASSERT_FALSE(square(*m.matrix, 1, n));
  const double exact = 64.0 * static_cast<double>(value) * value;
  for (float element : readMatrix(*m.matrix)) {
    ASSERT_NEAR(element, exact, 1e-4);
  }
}

TEST_F(CudaBackend, PartialProductKeepsTheRestOfTheMatrix) {
  constexpr std::int64_t n = 5;
  Square m = makeSquare(n);
  ASSERT_NE(m.matrix, nullptr);
  Elements start(n * n);
  for (std::size_t i = 0; i < start.size(); ++i) {
    start[i] = static_cast<float>(i + 1);
  }
  ASSERT_TRUE(writeMatrix(*m.matrix, start));
  ASSERT_FALSE(square(*m.matrix, 1, 3));
  Elements expected = start;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      float sum = 0;
      for (int k = 0; k < 3; ++k) {
        sum += start[i * n + k] * start[k * n + j];
      }
      expected[i * n + j] = sum;
    }
  }
  EXPECT_EQ(readMatrix(*m.matrix), expected);
}

TEST_F(CudaBackend, MisuseEndsAsACommandBufferError) {
  Square m = makeSquare(4);
  ASSERT_NE(m.matrix, nullptr);
  EXPECT_TRUE(square(*m.matrix, 1, 5)) << "kernel larger than the matrix";
  EXPECT_FALSE(square(*m.matrix, 1, 4));
  EXPECT_EQ(device->newBuffer(0, ResourceOptions::storageModePrivate), nullptr);
  EXPECT_EQ(device->newMatrixMultiplication(0, 1, 1), nullptr);
}

TEST_F(CudaBackend, RunsTheMeasuredLoad) {
  EXPECT_GE(runMatrixLoad(*device, 1024, 9), 1);
}

} // namespace
} // namespace ventaro::gpu::cuda
