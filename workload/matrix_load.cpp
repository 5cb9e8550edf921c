#include "workload/matrix_load.h"

#include "workload/accuracy_check.h"
#include "workload/uniform_values.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// One run of the load, step by step. Each step returns false once the load has failed, with
// the reason in the outcome.
class LoadRun {
public:
  LoadRun(gpu::Device& device, std::int64_t dimension, std::int64_t multiplications)
      : device_(device), dimension_(dimension) {
    outcome.dimension = dimension;
    outcome.multiplications = multiplications;
  }

  /// Fails the load with `what` and the device's own words, where it has them.
  const LoadOutcome& failed(const std::string& what) {
    const std::string detail = device_.lastFailure();
    outcome.failure = detail.empty() ? what : what + ": " + detail;
    return outcome;
  }

  /// The queue, the command buffer of the load, the matrix and the reference its last
  /// product is checked against, the kernel; then the fill.
  bool makeObjects() {
    queue_ = device_.newCommandQueue();
    if (!queue_) {
      return fail("cannot make a command queue");
    }
    commandBuffer_ = queue_->commandBuffer();
    if (!commandBuffer_) {
      return fail("cannot make a command buffer");
    }
    const std::uint64_t rowBytes = device_.rowBytesFromColumns(dimension_, gpu::DataType::float32);
    const auto rows = static_cast<std::uint64_t>(dimension_);
    // The length must be a valid signed 64-bit product, and the stride wide enough for a row.
    if (rowBytes / 4 < rows || rowBytes > static_cast<std::uint64_t>(int64Max) / rows) {
      return fail("no valid row stride for " + std::to_string(dimension_) + " columns");
    }
    const gpu::MatrixDescriptor descriptor{dimension_, dimension_, rowBytes,
                                           gpu::DataType::float32};
    for (std::unique_ptr<gpu::Matrix>* made : {&matrix_, &reference_}) {
      std::shared_ptr<gpu::Buffer> buffer =
          device_.newBuffer(rows * rowBytes, gpu::ResourceOptions::storageModePrivate);
      if (!buffer) {
        return fail("cannot allocate " + std::to_string(rows * rowBytes) + " bytes for a matrix");
      }
      *made = device_.newMatrix(buffer, descriptor);
      if (!*made) {
        return fail("cannot make a matrix");
      }
    }
    kernel_ = device_.newMatrixMultiplication(dimension_, dimension_, dimension_);
    if (!kernel_) {
      return fail("cannot make a multiplication kernel");
    }
    return device_.fillUniform(*matrix_, gpu::loadSeed) || fail("cannot fill the matrix");
  }

  /// The first product, computed before the clock: it also loads whatever the library loads
  /// on first use.
  bool computeReference() {
    const std::unique_ptr<gpu::CommandBuffer> setUp = queue_->commandBuffer();
    if (!setUp) {
      return fail("cannot make a command buffer");
    }
    kernel_->encodeToCommandBuffer(*setUp, *matrix_, *matrix_, *reference_);
    setUp->commit();
    setUp->waitUntilCompleted();
    if (const std::optional<gpu::CommandError> error = setUp->error()) {
      return fail("first product: " + error->message);
    }
    return true;
  }

  /// Every multiplication encoded, then submitted once and timed to its completion.
  bool timeTheLoad(const MonotonicClock& now) {
    for (std::int64_t i = 0; i < outcome.multiplications; ++i) {
      kernel_->encodeToCommandBuffer(*commandBuffer_, *matrix_, *matrix_, *matrix_);
    }
    const double t0 = now();
    commandBuffer_->commit();
    commandBuffer_->waitUntilCompleted();
    const double t1 = now();
    if (const std::optional<gpu::CommandError> error = commandBuffer_->error()) {
      return fail(error->message);
    }
    outcome.seconds = t1 - t0;
    // count × 2 × dimension³ fits in 64 bits by the choice of count.
    outcome.gflops =
        gflopsFigure(operationsPerMultiplication(dimension_) * outcome.multiplications, t1 - t0);
    return true;
  }

  /// After the clock: the last product against the first bit for bit, then values of it
  /// against the exact product (the matrix holds start × start after the load). A failed
  /// read fails the load (figure 0); a product that fails either check keeps its figure.
  bool checkTheProduct() {
    const std::optional<std::int64_t> differences = device_.countDifferences(*matrix_, *reference_);
    if (!differences) {
      return fail("cannot compare the last product with the first");
    }
    outcome.check = *differences == 0 ? ResultCheck::passed : ResultCheck::failed;
    outcome.mismatchedValues = *differences;
    const std::vector<gpu::ElementPosition> positions =
        accuracyPositions(gpu::loadSeed, dimension_);
    const std::optional<std::vector<float>> values = device_.readElements(*matrix_, positions);
    if (!values || values->size() != positions.size()) {
      return fail("cannot read back values of the product");
    }
    outcome.valuesChecked = static_cast<std::int64_t>(positions.size());
    outcome.valuesOutsideBound = valuesOutsideBound(gpu::loadSeed, dimension_, positions, *values);
    outcome.accuracyCheck =
        outcome.valuesOutsideBound == 0 ? ResultCheck::passed : ResultCheck::failed;
    return true;
  }

  LoadOutcome outcome;

private:
  // A failed load reports no figure and no check.
  bool fail(const std::string& what) {
    failed(what);
    outcome.gflops = 0;
    outcome.seconds = 0.0;
    outcome.check = ResultCheck::notRun;
    outcome.accuracyCheck = ResultCheck::notRun;
    return false;
  }

  gpu::Device& device_;
  std::int64_t dimension_;
  std::unique_ptr<gpu::CommandQueue> queue_;
  std::unique_ptr<gpu::CommandBuffer> commandBuffer_;
  std::unique_ptr<gpu::Matrix> matrix_;
  std::unique_ptr<gpu::Matrix> reference_;
  std::unique_ptr<gpu::MatrixMultiplication> kernel_;
};

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
  LoadRun run(device, dimension, effectiveRepetitions(dimension, repetitions));
  if (run.outcome.multiplications == 0) {
    return run.failed("nothing to compute for dimension " + std::to_string(dimension) +
                      " and repetitions " + std::to_string(repetitions));
  }
  if (!run.makeObjects() || !run.computeReference()) {
    return run.outcome;
  }
  if (run.timeTheLoad(now)) {
    run.checkTheProduct();
  }
  return run.outcome;
}

} // namespace ventaro
