#pragma once

// The measured matrix-multiplication load: square FP32 multiplications of one matrix by
// itself, encoded into one command buffer, submitted once, timed around submission and
// completion, and reported as whole GFLOPS.

#include "workload/gpu_device.h"

#include <cstdint>
#include <functional>

namespace ventaro {

/// A monotonic clock: seconds since an arbitrary fixed point.
using MonotonicClock = std::function<double()>;

/// The largest number of multiplications the load encodes; larger requests are capped here.
/// It is the largest count whose operation count fits in 64 bits at dimension 4096.
inline constexpr std::int64_t maxLoadRepetitions = 67'108'863;

/// Encodes `repetitions` multiplications of one `dimension` × `dimension` matrix by itself
/// (the matrix is left operand, right operand and result), submits them once, waits, and
/// returns the throughput in GFLOPS truncated toward zero. Returns 0 when the device cannot
/// make an object, when the command buffer ends with an error, when `dimension` or
/// `repetitions` is below 1, or when the elapsed time or the figure cannot give a number.
/// `repetitions` above the cap (or above what keeps the operation count within 64 bits at
/// this dimension) is reduced to it.
std::int64_t runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions);

/// The same, timed by `now` (called once just before submission and once just after
/// completion).
std::int64_t runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions,
                           const MonotonicClock& now);

/// The number of multiplications the load encodes for a request: `repetitions` capped as
/// above, 0 when nothing can be encoded.
std::int64_t effectiveRepetitions(std::int64_t dimension, std::int64_t repetitions);

/// Whole GFLOPS of `operations` floating-point operations done in `elapsedSeconds`: the
/// operations in thousand millions, divided by the time, truncated toward zero. 0 when the
/// time is not a positive finite number or the figure lies outside the signed 64-bit range.
std::int64_t gflopsFigure(std::int64_t operations, double elapsedSeconds);

} // namespace ventaro
