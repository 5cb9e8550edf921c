#pragma once

// The matrix load as a session of three steps, so that one prepared set of objects serves a
// single timed run as well as a long series of segments: prepare (objects, fill, the first
// product as the reference), runSegment (any number of times), and the checks of the product
// a segment leaves.

#include "workload/gpu_device.h"
#include "workload/load_outcome.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace ventaro {

/// A monotonic clock: seconds since an arbitrary fixed point.
using MonotonicClock = std::function<double()>;

/// The seconds of the steady clock, the clock the load is timed with by default.
double steadySeconds();

/// 2 × dimension³, the operations of one multiplication; 0 when it does not fit in 64 bits.
std::int64_t operationsPerMultiplication(std::int64_t dimension);

/// What one segment did.
struct SegmentTiming {
  /// Multiplications completed, and the seconds from the first submission to the end of the
  /// last one.
  std::int64_t multiplications = 0;
  double seconds = 0.0;
  /// Whole GFLOPS of that work.
  std::int64_t gflops = 0;
  /// Whether the stop token ended it before its count.
  bool stopped = false;
};

class LoadSession {
public:
  /// Where the multiplications write their product. In place: the matrix is left operand,
  /// right operand and result, so one run leaves start × start in it (the single timed run).
  /// Separate: the product goes to a matrix of its own and the operands never change, so
  /// that every segment multiplies the same operands as the reference.
  enum class Product { inPlace, separate };

  LoadSession(gpu::Device& device, std::int64_t dimension, Product product);
  ~LoadSession();
  LoadSession(const LoadSession&) = delete;
  LoadSession& operator=(const LoadSession&) = delete;

  /// The queue, a command buffer, the matrices, the kernel, the fill, and the first product
  /// (before any clock: it also loads whatever the library loads on first use). False once
  /// the load has failed, with the reason in failure().
  bool prepare();

  /// `count` multiplications in submissions of at most `perSubmission` each; the next
  /// submission is encoded while the one before runs and committed as soon as it has ended,
  /// so the device is idle only for that moment. `stop` is looked at before each submission;
  /// `whileBusy` (may be empty) runs once while the last submission is on the device. None once the
  /// load has failed (the reason in failure()).
  std::optional<SegmentTiming> runSegment(std::int64_t count, std::int64_t perSubmission,
                                          const std::stop_token& stop,
                                          const std::function<void()>& whileBusy,
                                          const MonotonicClock& now);

  /// Elements of the last product whose bits differ from the first product's; none when
  /// they cannot be compared (the load has failed).
  std::optional<std::int64_t> countDifferences();

  /// Values of the last product read back against the exact product: how many were checked
  /// and how many lay outside their bound; none when they cannot be read (the load has
  /// failed).
  struct Accuracy {
    std::int64_t checked = 0;
    std::int64_t outsideBound = 0;
  };
  std::optional<Accuracy> checkAccuracy();

  /// Why the load failed, with the device's own words where it has them.
  const std::optional<std::string>& failure() const { return failure_; }
  std::int64_t dimension() const { return dimension_; }

private:
  bool fail(const std::string& what);
  std::unique_ptr<gpu::CommandBuffer> takeCommandBuffer();
  gpu::Matrix& product();

  gpu::Device& device_;
  std::int64_t dimension_;
  Product productPlace_;
  std::optional<std::string> failure_;
  std::unique_ptr<gpu::CommandQueue> queue_;
  std::unique_ptr<gpu::CommandBuffer> spare_; // made with the objects, used first
  std::unique_ptr<gpu::Matrix> matrix_;
  std::unique_ptr<gpu::Matrix> reference_;
  std::unique_ptr<gpu::Matrix> separate_;
  std::unique_ptr<gpu::MatrixMultiplication> kernel_;
};

/// Whole GFLOPS of `operations` floating-point operations done in `elapsedSeconds`: the
/// operations in thousand millions, divided by the time, truncated toward zero. 0 when the
/// time is not a positive finite number or the figure lies outside the signed 64-bit range.
std::int64_t gflopsFigure(std::int64_t operations, double elapsedSeconds);

} // namespace ventaro
