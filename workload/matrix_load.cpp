#include "workload/matrix_load.h"

#include "workload/uniform_values.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

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

LoadOutcome runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions) {
  return runMatrixLoad(device, dimension, repetitions, steadySeconds);
}

LoadOutcome runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions,
                          const MonotonicClock& now) {
  LoadOutcome outcome;
  outcome.dimension = dimension;
  outcome.multiplications = effectiveRepetitions(dimension, repetitions);
  const auto failed = [&](const std::string& what) {
    const std::string detail = device.lastFailure();
    outcome.failure = detail.empty() ? what : what + ": " + detail;
    return outcome;
  };
  if (outcome.multiplications == 0) {
    return failed("nothing to compute for dimension " + std::to_string(dimension) +
                  " and repetitions " + std::to_string(repetitions));
  }

  const std::unique_ptr<gpu::CommandQueue> queue = device.newCommandQueue();
  if (!queue) {
    return failed("cannot make a command queue");
  }
  const std::unique_ptr<gpu::CommandBuffer> commandBuffer = queue->commandBuffer();
  if (!commandBuffer) {
    return failed("cannot make a command buffer");
  }

  const std::uint64_t rowBytes = device.rowBytesFromColumns(dimension, gpu::DataType::float32);
  const auto rows = static_cast<std::uint64_t>(dimension);
  // The length must be a valid signed 64-bit product, and the stride wide enough for a row.
  if (rowBytes / 4 < rows || rowBytes > static_cast<std::uint64_t>(int64Max) / rows) {
    return failed("no valid row stride for " + std::to_string(dimension) + " columns");
  }
  const gpu::MatrixDescriptor descriptor{dimension, dimension, rowBytes, gpu::DataType::float32};
  // The matrix of the load and the reference its last product is checked against.
  std::unique_ptr<gpu::Matrix> matrix;
  std::unique_ptr<gpu::Matrix> reference;
  for (std::unique_ptr<gpu::Matrix>* made : {&matrix, &reference}) {
    std::shared_ptr<gpu::Buffer> buffer =
        device.newBuffer(rows * rowBytes, gpu::ResourceOptions::storageModePrivate);
    if (!buffer) {
      return failed("cannot allocate " + std::to_string(rows * rowBytes) + " bytes for a matrix");
    }
    *made = device.newMatrix(buffer, descriptor);
    if (!*made) {
      return failed("cannot make a matrix");
    }
  }
  const std::unique_ptr<gpu::MatrixMultiplication> kernel =
      device.newMatrixMultiplication(dimension, dimension, dimension);
  if (!kernel) {
    return failed("cannot make a multiplication kernel");
  }
  if (!device.fillUniform(*matrix, gpu::loadSeed)) {
    return failed("cannot fill the matrix");
  }
  // The first product, computed before the clock: it also loads whatever the library loads
  // on first use.
  const std::unique_ptr<gpu::CommandBuffer> setUp = queue->commandBuffer();
  if (!setUp) {
    return failed("cannot make a command buffer");
  }
  kernel->encodeToCommandBuffer(*setUp, *matrix, *matrix, *reference);
  setUp->commit();
  setUp->waitUntilCompleted();
  if (const std::optional<gpu::CommandError> error = setUp->error()) {
    return failed("first product: " + error->message);
  }

  for (std::int64_t i = 0; i < outcome.multiplications; ++i) {
    kernel->encodeToCommandBuffer(*commandBuffer, *matrix, *matrix, *matrix);
  }

  const double t0 = now();
  commandBuffer->commit();
  commandBuffer->waitUntilCompleted();
  const double t1 = now();

  if (const std::optional<gpu::CommandError> error = commandBuffer->error()) {
    return failed(error->message);
  }
  const std::optional<std::int64_t> differences = device.countDifferences(*matrix, *reference);
  if (!differences) {
    return failed("cannot compare the last product with the first");
  }
  outcome.check = *differences == 0 ? ResultCheck::passed : ResultCheck::failed;
  outcome.mismatchedValues = *differences;
  outcome.seconds = t1 - t0;
  // count × 2 × dimension³ fits in 64 bits by the choice of count.
  outcome.gflops =
      gflopsFigure(operationsPerMultiplication(dimension) * outcome.multiplications, t1 - t0);
  return outcome;
}

} // namespace ventaro
