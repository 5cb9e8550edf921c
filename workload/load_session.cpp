#include "workload/load_session.h"

#include "workload/accuracy_check.h"
#include "workload/uniform_values.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

namespace ventaro {
namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

} // namespace

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

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

LoadSession::LoadSession(gpu::Device& device, std::int64_t dimension, Product product)
    : device_(device), dimension_(dimension), productPlace_(product) {}

LoadSession::~LoadSession() = default;

bool LoadSession::fail(const std::string& what) {
  const std::string detail = device_.lastFailure();
  failure_ = detail.empty() ? what : what + ": " + detail;
  return false;
}

std::unique_ptr<gpu::CommandBuffer> LoadSession::takeCommandBuffer() {
  return spare_ ? std::move(spare_) : queue_->commandBuffer();
}

gpu::Matrix& LoadSession::product() {
  return productPlace_ == Product::separate ? *separate_ : *matrix_;
}

bool LoadSession::prepare() {
  queue_ = device_.newCommandQueue();
  if (!queue_) {
    return fail("cannot make a command queue");
  }
  spare_ = queue_->commandBuffer();
  if (!spare_) {
    return fail("cannot make a command buffer");
  }
  const std::uint64_t rowBytes = device_.rowBytesFromColumns(dimension_, gpu::DataType::float32);
  const auto rows = static_cast<std::uint64_t>(dimension_);
  // The length must be a valid signed 64-bit product, and the stride wide enough for a row.
  if (rowBytes / 4 < rows || rowBytes > static_cast<std::uint64_t>(int64Max) / rows) {
    return fail("no valid row stride for " + std::to_string(dimension_) + " columns");
  }
  const gpu::MatrixDescriptor descriptor{dimension_, dimension_, rowBytes, gpu::DataType::float32};
  std::vector<std::unique_ptr<gpu::Matrix>*> matrices{&matrix_, &reference_};
  if (productPlace_ == Product::separate) {
    matrices.push_back(&separate_);
  }
  for (std::unique_ptr<gpu::Matrix>* made : matrices) {
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
  if (!device_.fillUniform(*matrix_, gpu::loadSeed)) {
    return fail("cannot fill the matrix");
  }
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

std::optional<SegmentTiming> LoadSession::runSegment(std::int64_t count, std::int64_t perSubmission,
                                                     const std::stop_token& stop,
                                                     const std::function<void()>& whileBusy,
                                                     const MonotonicClock& now) {
  if (failure_ || !kernel_) {
    return std::nullopt;
  }
  SegmentTiming timing;
  if (count < 1) {
    return timing;
  }
  perSubmission = std::clamp<std::int64_t>(perSubmission, 1, count);
  gpu::Matrix& result = product();
  // Encodes the next submission of the segment; null when no command buffer can be made.
  std::int64_t encoded = 0;
  const auto encodeNext = [&]() -> std::unique_ptr<gpu::CommandBuffer> {
    std::unique_ptr<gpu::CommandBuffer> buffer = takeCommandBuffer();
    if (!buffer) {
      return nullptr;
    }
    const std::int64_t n = std::min(perSubmission, count - encoded);
    for (std::int64_t i = 0; i < n; ++i) {
      kernel_->encodeToCommandBuffer(*buffer, *matrix_, *matrix_, result);
    }
    encoded += n;
    return buffer;
  };

  std::unique_ptr<gpu::CommandBuffer> inFlight = encodeNext();
  if (!inFlight) {
    fail("cannot make a command buffer");
    return std::nullopt;
  }
  std::int64_t inFlightCount = encoded;
  const double t0 = now();
  inFlight->commit();
  double t1 = 0.0;
  for (;;) {
    // The next submission is encoded while this one runs, and committed once it has ended:
    // submissions never overlap, whatever order a backend keeps between them.
    std::unique_ptr<gpu::CommandBuffer> next;
    const std::int64_t before = encoded;
    if (encoded < count && !stop.stop_requested()) {
      next = encodeNext();
    }
    if (!next && whileBusy) {
      whileBusy();
    }
    inFlight->waitUntilCompleted();
    t1 = now();
    if (const std::optional<gpu::CommandError> error = inFlight->error()) {
      fail(error->message);
      return std::nullopt;
    }
    timing.multiplications += inFlightCount;
    if (!next || stop.stop_requested()) {
      if (!next && encoded < count && !stop.stop_requested()) {
        fail("cannot make a command buffer");
        return std::nullopt;
      }
      break;
    }
    next->commit();
    inFlight = std::move(next);
    inFlightCount = encoded - before;
  }
  timing.stopped = timing.multiplications < count;
  timing.seconds = t1 - t0;
  // count × 2 × dimension³ fits in 64 bits by the caller's choice of count.
  timing.gflops =
      gflopsFigure(operationsPerMultiplication(dimension_) * timing.multiplications, t1 - t0);
  return timing;
}

std::optional<std::int64_t> LoadSession::countDifferences() {
  if (failure_ || !reference_) {
    return std::nullopt;
  }
  const std::optional<std::int64_t> differences = device_.countDifferences(product(), *reference_);
  if (!differences) {
    fail("cannot compare the last product with the first");
  }
  return differences;
}

std::optional<LoadSession::Accuracy> LoadSession::checkAccuracy() {
  if (failure_ || !reference_) {
    return std::nullopt;
  }
  const std::vector<gpu::ElementPosition> positions = accuracyPositions(gpu::loadSeed, dimension_);
  const std::optional<std::vector<float>> values = device_.readElements(product(), positions);
  if (!values || values->size() != positions.size()) {
    fail("cannot read back values of the product");
    return std::nullopt;
  }
  return Accuracy{static_cast<std::int64_t>(positions.size()),
                  valuesOutsideBound(gpu::loadSeed, dimension_, positions, *values)};
}

} // namespace ventaro
