#pragma once

// A timed run of the checked load: one prepared session multiplied back to back, cut into
// segments of about two seconds of work, each made of bounded submissions of about half a
// second, so that no driver's job timeout or hang check ends a long run on a slow device.
// Every segment's last product is compared with the first bit for bit; the first and the
// last segments' products are also read back against the exact product.

#include "workload/gpu_device.h"
#include "workload/load_session.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace ventaro {

struct BurnInOptions {
  /// How long to run, in seconds of segments (set-up not counted).
  double seconds = 60.0;
  /// Work per segment and per submission, in seconds.
  double segmentSeconds = 2.0;
  double submissionSeconds = 0.5;
  /// The largest and the smallest order of the matrices; the run picks the largest power of
  /// two between them whose single multiplication fits in a submission.
  std::int64_t largestDimension = 4096;
  std::int64_t smallestDimension = 64;
};

/// One segment as the run measured it.
struct BurnInSegment {
  /// Seconds from the start of the first segment to the end of this one.
  double t = 0.0;
  /// Seconds of work it timed, the multiplications it completed, and their figure (whole
  /// GFLOPS).
  double seconds = 0.0;
  std::int64_t multiplications = 0;
  std::int64_t gflops = 0;
  /// Elements of its last product whose bits differ from the first product's.
  std::int64_t differingElements = 0;
};

/// How a timed run went.
struct BurnInResult {
  std::int64_t dimension = 0;
  std::int64_t perSubmission = 0;
  std::int64_t submissionsPerSegment = 0;
  std::vector<BurnInSegment> segments;
  /// Values of the first and the last products outside their bound, of those read.
  std::int64_t valuesChecked = 0;
  std::int64_t valuesOutsideBound = 0;
  bool stopped = false;
  /// Why the device could not go on; the segments measured before stay.
  std::optional<std::string> failure;
};

struct BurnInHooks {
  /// Runs once per segment while its last submission is on the device (a sensor read).
  std::function<void()> whileBusy;
  /// Runs after each segment, with it, before the next one begins.
  std::function<void(const BurnInSegment&)> onSegment;
};

/// The size of a run from the rate a device showed: the order (the largest power of two
/// from `smallest` to `largest` whose multiplication is expected to take at most
/// `multiplicationBound` seconds, else `smallest`), then, from the measured seconds of one
/// multiplication at that order, multiplications per submission and submissions per segment
/// (each at least 1).
std::int64_t burnInDimension(double gflopsRate, double multiplicationBound, std::int64_t smallest,
                             std::int64_t largest);
struct SubmissionPlan {
  std::int64_t perSubmission = 1;
  std::int64_t submissionsPerSegment = 1;
};
SubmissionPlan submissionPlan(double secondsPerMultiplication, const BurnInOptions& options);

/// Runs the timed load on `device` until `options.seconds` of segments have passed, `stop`
/// is requested (within one submission), or the device fails. The rate is first measured at a
/// small order to choose the order; the first submission at that order sizes the rest.
BurnInResult runBurnIn(gpu::Device& device, const BurnInOptions& options,
                       const std::stop_token& stop, const BurnInHooks& hooks,
                       const MonotonicClock& now = steadySeconds);

} // namespace ventaro
