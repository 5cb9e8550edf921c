#pragma once

// The measured matrix-multiplication load: square FP32 multiplications of one matrix of
// seeded pseudo-random values by itself, encoded into one command buffer, submitted once,
// timed around submission and completion, reported as whole GFLOPS, and checked: every
// multiplication computes the same product, so the last one must equal the first bit for bit.

#include "workload/gpu_device.h"
#include "workload/load_outcome.h"
#include "workload/load_session.h"

#include <cstdint>

namespace ventaro {

/// The largest number of multiplications the load encodes; larger requests are capped here.
/// It is the largest count whose operation count fits in 64 bits at dimension 4096.
inline constexpr std::int64_t maxLoadRepetitions = 67'108'863;

/// Runs the load on `device`: fills one `dimension` × `dimension` matrix with the values of
/// loadSeed, computes its square once into a reference matrix (set-up, before the clock),
/// then encodes `repetitions` multiplications with the matrix as left operand, right operand
/// and result, submits them once, waits, and compares the last product with the reference.
/// Afterwards the matrix holds its start × start. Any object the device cannot make, a
/// command buffer that ends with an error, or nothing to encode is a failed load (figure 0,
/// the reason in the outcome); a last product that differs is a failed check (the figure is
/// kept). `repetitions` above the cap is reduced to it.
LoadOutcome runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions);

/// The same, timed by `now` (called once just before submission and once just after
/// completion).
LoadOutcome runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions,
                          const MonotonicClock& now);

/// The number of multiplications the load encodes for a request: `repetitions` capped as
/// above, 0 when nothing can be encoded.
std::int64_t effectiveRepetitions(std::int64_t dimension, std::int64_t repetitions);

} // namespace ventaro
