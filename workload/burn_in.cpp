#include "workload/burn_in.h"

#include <algorithm>
#include <cmath>

namespace ventaro {
namespace {

// The rate is measured at this order, doubling the multiplications of one submission until
// it takes long enough to time, or until the count grows absurd for a device this fast.
constexpr std::int64_t kProbeDimension = 256;
constexpr std::int64_t kSecondProbeDimension = 1024;
constexpr double kProbeSeconds = 0.05;
constexpr std::int64_t kProbeMaxCount = std::int64_t{1} << 20;

// GFLOPS of a multiplication count in the seconds it took (not truncated: a slow device's
// rate below 1 still sizes the run).
double rateOf(std::int64_t dimension, std::int64_t count, double seconds) {
  return static_cast<double>(operationsPerMultiplication(dimension)) * static_cast<double>(count) /
         1e9 / seconds;
}

// The measured rate at the probe order; none when stopped or failed (noted in `result`).
std::optional<double> probeRate(gpu::Device& device, std::int64_t dimension,
                                const std::stop_token& stop, const MonotonicClock& now,
                                BurnInResult& result) {
  LoadSession probe(device, dimension, LoadSession::Product::separate);
  if (!probe.prepare()) {
    result.failure = probe.failure();
    return std::nullopt;
  }
  for (std::int64_t count = 1;; count *= 2) {
    const std::optional<SegmentTiming> timing = probe.runSegment(count, count, stop, {}, now);
    if (!timing) {
      result.failure = probe.failure();
      return std::nullopt;
    }
    if (timing->stopped || stop.stop_requested()) {
      result.stopped = true;
      return std::nullopt;
    }
    if (timing->seconds >= kProbeSeconds || count >= kProbeMaxCount) {
      return timing->seconds > 0.0 ? rateOf(dimension, count, timing->seconds) : 1e12;
    }
  }
}

} // namespace

std::int64_t burnInDimension(double gflopsRate, double multiplicationBound, std::int64_t smallest,
                             std::int64_t largest) {
  std::int64_t chosen = smallest;
  for (std::int64_t order = smallest; order <= largest; order *= 2) {
    const double seconds =
        static_cast<double>(operationsPerMultiplication(order)) / 1e9 / gflopsRate;
    if (!(seconds <= multiplicationBound)) {
      break;
    }
    chosen = order;
  }
  return chosen;
}

SubmissionPlan submissionPlan(double secondsPerMultiplication, const BurnInOptions& options) {
  SubmissionPlan plan;
  if (!(secondsPerMultiplication > 0.0) || !std::isfinite(secondsPerMultiplication)) {
    return plan;
  }
  const double perSubmission = std::floor(options.submissionSeconds / secondsPerMultiplication);
  plan.perSubmission = static_cast<std::int64_t>(std::clamp(perSubmission, 1.0, 1e9));
  const double submissionSeconds =
      secondsPerMultiplication * static_cast<double>(plan.perSubmission);
  const double submissions = std::round(options.segmentSeconds / submissionSeconds);
  plan.submissionsPerSegment = static_cast<std::int64_t>(std::clamp(submissions, 1.0, 1e6));
  return plan;
}

BurnInResult runBurnIn(gpu::Device& device, const BurnInOptions& options,
                       const std::stop_token& stop, const BurnInHooks& hooks,
                       const MonotonicClock& now) {
  BurnInResult result;
  const std::int64_t smallest = std::max<std::int64_t>(options.smallestDimension, 1);
  const std::int64_t largest = std::max(options.largestDimension, smallest);
  // A GPU's submission must end before a driver's job timeout; a processor-type device has
  // no such watchdog, and a multiplication may take up to a segment there.
  const double bound = device.isProcessor() ? options.segmentSeconds : options.submissionSeconds;
  const std::int64_t firstProbe = std::clamp(kProbeDimension, smallest, largest);
  std::optional<double> rate = probeRate(device, firstProbe, stop, now, result);
  if (!rate) {
    return result;
  }
  // Small products run below a device's rate: where the first estimate allows a larger order,
  // the rate is measured again nearer to it.
  std::int64_t dimension = burnInDimension(*rate, bound, smallest, largest);
  if (const std::int64_t secondProbe = std::min(dimension, kSecondProbeDimension);
      secondProbe > firstProbe) {
    const std::optional<double> nearer = probeRate(device, secondProbe, stop, now, result);
    if (!nearer) {
      return result;
    }
    rate = std::max(*rate, *nearer);
    dimension = burnInDimension(*rate, bound, smallest, largest);
  }
  result.dimension = dimension;

  LoadSession session(device, dimension, LoadSession::Product::separate);
  if (!session.prepare()) {
    result.failure = session.failure();
    return result;
  }
  // The first submission, one multiplication, sizes the others.
  const std::optional<SegmentTiming> first = session.runSegment(1, 1, stop, {}, now);
  if (!first) {
    result.failure = session.failure();
    return result;
  }
  double perMultiplication =
      first->seconds > 0.0
          ? first->seconds
          : static_cast<double>(operationsPerMultiplication(dimension)) / 1e9 / *rate;
  const SubmissionPlan plan = submissionPlan(perMultiplication, options);
  result.perSubmission = plan.perSubmission;
  result.submissionsPerSegment = plan.submissionsPerSegment;
  const std::int64_t perSegment = plan.perSubmission * plan.submissionsPerSegment;

  const auto checkAccuracy = [&]() {
    if (const std::optional<LoadSession::Accuracy> accuracy = session.checkAccuracy()) {
      result.valuesChecked += accuracy->checked;
      result.valuesOutsideBound += accuracy->outsideBound;
      return true;
    }
    result.failure = session.failure();
    return false;
  };

  const double start = now();
  bool lastChecked = false;
  while (!stop.stop_requested()) {
    const double remaining = options.seconds - (now() - start);
    if (remaining <= 0.0) {
      break;
    }
    // The last segment takes the time left: up to one and a half segments, so that no
    // sliver of a segment is left at the end.
    std::int64_t count = perSegment;
    if (remaining < 1.5 * options.segmentSeconds) {
      count =
          std::clamp<std::int64_t>(std::llround(remaining / perMultiplication), 1, 2 * perSegment);
    }
    const std::optional<SegmentTiming> timing =
        session.runSegment(count, plan.perSubmission, stop, hooks.whileBusy, now);
    if (!timing) {
      result.failure = session.failure();
      break;
    }
    if (timing->multiplications == 0) {
      break;
    }
    const std::optional<std::int64_t> differing = session.countDifferences();
    if (!differing) {
      result.failure = session.failure();
      break;
    }
    result.segments.push_back(BurnInSegment{now() - start, timing->seconds, timing->multiplications,
                                            timing->gflops, *differing});
    if (hooks.onSegment) {
      hooks.onSegment(result.segments.back());
    }
    // The time left is cut by the pace the device keeps now, not by its first submission.
    if (timing->seconds > 0.0) {
      perMultiplication = timing->seconds / static_cast<double>(timing->multiplications);
    }
    lastChecked = false;
    if (result.segments.size() == 1) {
      if (!checkAccuracy()) {
        break;
      }
      lastChecked = true;
    }
    if (timing->stopped) {
      break;
    }
  }
  result.stopped = stop.stop_requested();
  if (!result.failure && !result.segments.empty() && !lastChecked) {
    checkAccuracy();
  }
  return result;
}

} // namespace ventaro
