#include "workload/matrix_load.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>

namespace ventaro {
namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

// 2 × dimension³, the operations of one multiplication; 0 when it does not fit in 64 bits.
std::int64_t operationsPerMultiplication(std::int64_t dimension) {
  if (dimension < 1 || dimension > int64Max / 2) {
    return 0;
  }
  std::int64_t operations = dimension + dimension;
  for (int factor = 0; factor < 2; ++factor) {
    if (operations > int64Max / dimension) {
      return 0;
    }
    operations *= dimension;
  }
  return operations;
}

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

std::int64_t effectiveRepetitions(std::int64_t dimension, std::int64_t repetitions) {
  const std::int64_t perMultiplication = operationsPerMultiplication(dimension);
  if (perMultiplication == 0 || repetitions < 1) {
    return 0;
  }
  const std::int64_t fitting = int64Max / perMultiplication;
  return std::min({repetitions, maxLoadRepetitions, fitting});
}

std::int64_t gflopsFigure(std::int64_t operations, double elapsedSeconds) {
  if (!std::isfinite(elapsedSeconds) || elapsedSeconds <= 0.0) {
    return 0;
  }
  const double figure = static_cast<double>(operations) / 1e9 / elapsedSeconds;
  // 2^63 is exactly representable; every double strictly between -2^63 - 1 and 2^63
  // truncates to a value of the range.
  constexpr double limit = 9223372036854775808.0;
  if (!std::isfinite(figure) || figure >= limit || figure <= -limit) {
    return 0;
  }
  return static_cast<std::int64_t>(figure);
}

std::int64_t runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions) {
  return runMatrixLoad(device, dimension, repetitions, steadySeconds);
}

std::int64_t runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions,
                           const MonotonicClock& now) {
  const std::int64_t count = effectiveRepetitions(dimension, repetitions);
  if (count == 0) {
    return 0;
  }

  std::unique_ptr<gpu::CommandQueue> queue = device.newCommandQueue();
  if (!queue) {
    return 0;
  }
  std::unique_ptr<gpu::CommandBuffer> commandBuffer = queue->commandBuffer();
  if (!commandBuffer) {
    return 0;
  }

  const std::uint64_t rowBytes = device.rowBytesFromColumns(dimension, gpu::DataType::float32);
  const auto rows = static_cast<std::uint64_t>(dimension);
  // The length must be a valid signed 64-bit product, and the stride wide enough for a row.
  if (rowBytes / 4 < rows || rowBytes > static_cast<std::uint64_t>(int64Max) / rows) {
    return 0;
  }
  std::shared_ptr<gpu::Buffer> buffer =
      device.newBuffer(rows * rowBytes, gpu::ResourceOptions::storageModePrivate);
  if (!buffer) {
    return 0;
  }

  const gpu::MatrixDescriptor descriptor{dimension, dimension, rowBytes, gpu::DataType::float32};
  std::unique_ptr<gpu::Matrix> matrix = device.newMatrix(buffer, descriptor);
  if (!matrix) {
    return 0;
  }
  std::unique_ptr<gpu::MatrixMultiplication> kernel =
      device.newMatrixMultiplication(dimension, dimension, dimension);
  if (!kernel) {
    return 0;
  }

  for (std::int64_t i = 1; i <= count; ++i) {
    kernel->encodeToCommandBuffer(*commandBuffer, *matrix, *matrix, *matrix);
  }

  const double t0 = now();
  commandBuffer->commit();
  commandBuffer->waitUntilCompleted();
  const double t1 = now();

  const bool failed = commandBuffer->error().has_value();
  buffer.reset();
  commandBuffer.reset();
  queue.reset();
  matrix.reset();
  kernel.reset();
  if (failed) {
    return 0;
  }
  // count × 2 × dimension³ fits in 64 bits by the choice of count.
  return gflopsFigure(operationsPerMultiplication(dimension) * count, t1 - t0);
}

} // namespace ventaro
