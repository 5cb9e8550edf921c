#pragma once

// Checks every backend passes: the one matrix of a device squared in place, k times, against
// a naive double-precision computation or an exact permutation, so that a wrong swap, a
// skipped or repeated multiplication, or a write outside the product shows.

#include "workload/gpu_device.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <span>

namespace ventaro::testing {

using Elements = std::vector<float>;

struct Backend {
  gpu::Device& device;
  Elements (*read)(const gpu::Matrix&);
  bool (*write)(gpu::Matrix&, std::span<const float>);

  // An n × n matrix made the way the load makes it, with rows of `rowBytes` (default the
  // device's stride), holding `start`.
  std::unique_ptr<gpu::Matrix> matrix(std::int64_t n, const Elements& start,
                                      std::uint64_t rowBytes = 0) const {
    rowBytes = rowBytes != 0 ? rowBytes : device.rowBytesFromColumns(n, gpu::DataType::float32);
    auto buffer = device.newBuffer(static_cast<std::uint64_t>(n) * rowBytes,
                                   gpu::ResourceOptions::storageModePrivate);
    auto made =
        buffer ? device.newMatrix(buffer, {n, n, rowBytes, gpu::DataType::float32}) : nullptr;
    EXPECT_TRUE(made && write(*made, start));
    return made;
  }

  // Encodes `count` multiplications of the top-left size × size block by itself into one
  // command buffer, runs them and answers its error.
  std::optional<gpu::CommandError> square(gpu::Matrix& m, std::int64_t count,
                                          std::int64_t size) const {
    auto queue = device.newCommandQueue();
    auto commandBuffer = queue->commandBuffer();
    auto kernel = device.newMatrixMultiplication(size, size, size);
    for (std::int64_t i = 0; i < count; ++i) {
      kernel->encodeToCommandBuffer(*commandBuffer, m, m, m);
    }
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    return commandBuffer->error();
  }

  void expectSquaresMatchDoublePrecision(std::int64_t n, int k) const {
    SCOPED_TRACE(::testing::Message() << "n " << n << ", k " << k);
    // Entries of size about 1/√n keep repeated squares near 1.
    std::mt19937 random(static_cast<unsigned>(17 * k + n));
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    Elements start(static_cast<std::size_t>(n * n));
    for (float& e : start) {
      e = uniform(random) * 1.7f / std::sqrt(static_cast<float>(n));
    }
    const auto m = matrix(n, start);
    ASSERT_TRUE(m);
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
    ASSERT_FALSE(square(*m, k, n));
    const Elements got = read(*m);
    ASSERT_EQ(got.size(), expected.size());
    double difference = 0, norm = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
      difference += (got[i] - expected[i]) * (got[i] - expected[i]);
      norm += expected[i] * expected[i];
    }
    EXPECT_LT(std::sqrt(difference / norm), 1e-5);
  }

  // One 17-cycle σ(i) = i + 1: its squares stay exact, and 2 has order 8 modulo 17.
  void expectPermutationSquaresStayExact(std::int64_t count) const {
    SCOPED_TRACE(count);
    constexpr std::int64_t n = 17;
    const auto permutation = [](std::int64_t shift) {
      Elements elements(n * n, 0.0f);
      for (std::int64_t i = 0; i < n; ++i) {
        elements[i * n + (i + shift) % n] = 1.0f;
      }
      return elements;
    };
    const auto m = matrix(n, permutation(1));
    ASSERT_TRUE(m);
    ASSERT_FALSE(square(*m, count, n));
    std::int64_t shift = 1;
    for (std::int64_t i = 0; i < count; ++i) {
      shift = shift * 2 % n;
    }
    EXPECT_EQ(read(*m), permutation(shift));
  }

  // A 5 × 5 matrix of which only the top-left 3 × 3 block is squared.
  void expectPartialProductKeepsTheRest(std::uint64_t rowBytes = 0) const {
    Elements start(25);
    for (std::size_t i = 0; i < start.size(); ++i) {
      start[i] = static_cast<float>(i + 1);
    }
    const auto m = matrix(5, start, rowBytes);
    ASSERT_TRUE(m);
    ASSERT_FALSE(square(*m, 1, 3));
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
