#pragma once

// Checks every backend passes: the load's matrix multiplied by itself k times in one command
// buffer holds start × start afterwards (checked against a double-precision product), and a
// product of part of a matrix leaves the rest alone.

#include "workload/gpu_device.h"
#include "workload/uniform_values.h"

#include <cmath>
#include <gtest/gtest.h>
#include <span>

namespace ventaro::testing {

using Elements = std::vector<float>;

struct Backend {
  gpu::Device& device;
  Elements (*read)(const gpu::Matrix&);
  bool (*write)(gpu::Matrix&, std::span<const float>);

  // An n × n matrix made the way the load makes it, with rows of `rowBytes` (default the
  // device's stride); null, with a failure, when any step fails.
  std::unique_ptr<gpu::Matrix> matrix(std::int64_t n, std::uint64_t rowBytes = 0) const {
    rowBytes = rowBytes != 0 ? rowBytes : device.rowBytesFromColumns(n, gpu::DataType::float32);
    auto buffer = device.newBuffer(static_cast<std::uint64_t>(n) * rowBytes,
                                   gpu::ResourceOptions::storageModePrivate);
    auto made =
        buffer ? device.newMatrix(buffer, {n, n, rowBytes, gpu::DataType::float32}) : nullptr;
    EXPECT_NE(made, nullptr);
    return made;
  }

  // Encodes `count` multiplications of the top-left size × size block by itself into one
  // command buffer, runs them and answers its error.
  std::optional<gpu::CommandError> square(gpu::Matrix& m, std::int64_t count,
                                          std::int64_t size) const {
    auto queue = device.newCommandQueue();
    auto commandBuffer = queue ? queue->commandBuffer() : nullptr;
    auto kernel = device.newMatrixMultiplication(size, size, size);
    if (!commandBuffer || !kernel) {
      return gpu::CommandError{"cannot make the objects"};
    }
    for (std::int64_t i = 0; i < count; ++i) {
      kernel->encodeToCommandBuffer(*commandBuffer, m, m, m);
    }
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    return commandBuffer->error();
  }

  // After k multiplications of the seeded matrix, it holds start × start: finite, not all
  // zero, and within single-precision error of the double-precision product.
  void expectDenseSquare(std::int64_t n, std::int64_t k) const {
    SCOPED_TRACE(::testing::Message() << "n " << n << ", k " << k);
    const auto m = matrix(n);
    ASSERT_TRUE(m && device.fillUniform(*m, gpu::loadSeed)) << device.lastFailure();
    const Elements start = read(*m);
    ASSERT_FALSE(square(*m, k, n));
    const Elements got = read(*m);
    ASSERT_EQ(got.size(), start.size());
    double difference = 0, norm = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      for (std::int64_t j = 0; j < n; ++j) {
        double expected = 0;
        for (std::int64_t c = 0; c < n; ++c) {
          expected += double{start[i * n + c]} * start[c * n + j];
        }
        const float value = got[i * n + j];
        ASSERT_TRUE(std::isfinite(value));
        difference += (value - expected) * (value - expected);
        norm += expected * expected;
      }
    }
    ASSERT_GT(norm, 0.0) << "all zero";
    EXPECT_LT(std::sqrt(difference / norm), 1e-5);
  }

  // A 5 × 5 matrix of which only the top-left 3 × 3 block is squared.
  void expectPartialProductKeepsTheRest(std::uint64_t rowBytes = 0) const {
    Elements start(25);
    for (std::size_t i = 0; i < start.size(); ++i) {
      start[i] = static_cast<float>(i + 1);
    }
    const auto m = matrix(5, rowBytes);
    ASSERT_TRUE(m && write(*m, start));
    ASSERT_FALSE(square(*m, 3, 3));
    Elements expected = start;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        expected[i * 5 + j] = 0;
        for (int k = 0; k < 3; ++k) {
          expected[i * 5 + j] += start[i * 5 + k] * start[k * 5 + j];
        }
      }
    }
    EXPECT_EQ(read(*m), expected);
  }
};

} // namespace ventaro::testing
