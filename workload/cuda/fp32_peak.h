#pragma once

// A CUDA device's FP32 peak from what the device reports: its multiprocessors, its compute
// capability and its highest clock.

#include <optional>
#include <string>

namespace ventaro::gpu::cuda {

/// What the runtime reports of a device's multiprocessors.
struct SmFigures {
  int multiprocessors = 0;
  int major = 0; // compute capability
  int minor = 0;
  int clockKhz = 0; // the highest clock the device runs its multiprocessors at
};

/// The FP32 lanes of one multiprocessor, each doing one fused multiply-add per clock: 64 for
/// compute capability 6.0, 7.x and 8.0, 128 for the other 6.x and for 8.6 up to 12.x. None
/// before 6.0 (which this runtime does not drive) and after 12.x (not yet known).
std::optional<int> fp32LanesPerMultiprocessor(int major, int minor);

/// Multiprocessors × FP32 lanes × 2 × clock, in GFLOPS; none where the lanes are not known or
/// a figure is not positive.
std::optional<double> fp32PeakGflops(const SmFigures& figures);

/// "132 SMs, compute capability 9.0, 128 FP32 lanes per SM, 1980 MHz" (lanes "unknown" where
/// they are not known).
std::string describe(const SmFigures& figures);

/// The figures of the device `ordinal` as the runtime reports them; none where it cannot.
std::optional<SmFigures> smFigures(int ordinal);

} // namespace ventaro::gpu::cuda
