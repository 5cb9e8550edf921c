#include "workload/matrix_load.h"

#include "workload/load_session.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <stop_token>
#include <string>

namespace ventaro {
namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

// A failed load reports no figure and no check.
LoadOutcome failedLoad(LoadOutcome outcome, const std::string& failure) {
  outcome.failure = failure;
  outcome.gflops = 0;
  outcome.seconds = 0.0;
  outcome.check = ResultCheck::notRun;
  outcome.accuracyCheck = ResultCheck::notRun;
  return outcome;
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

LoadOutcome runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions) {
  return runMatrixLoad(device, dimension, repetitions, steadySeconds);
}

LoadOutcome runMatrixLoad(gpu::Device& device, std::int64_t dimension, std::int64_t repetitions,
                          const MonotonicClock& now) {
  LoadOutcome outcome;
  outcome.dimension = dimension;
  outcome.multiplications = effectiveRepetitions(dimension, repetitions);
  if (outcome.multiplications == 0) {
    const std::string detail = device.lastFailure();
    const std::string what = "nothing to compute for dimension " + std::to_string(dimension) +
                             " and repetitions " + std::to_string(repetitions);
    outcome.failure = detail.empty() ? what : what + ": " + detail;
    return outcome;
  }
  LoadSession session(device, dimension, LoadSession::Product::inPlace);
  if (!session.prepare()) {
    return failedLoad(outcome, *session.failure());
  }
  // One submission of every multiplication, timed from commit to completion.
  const std::optional<SegmentTiming> timing = session.runSegment(
      outcome.multiplications, outcome.multiplications, std::stop_token{}, {}, now);
  if (!timing) {
    return failedLoad(outcome, *session.failure());
  }
  outcome.seconds = timing->seconds;
  outcome.gflops = timing->gflops;
  // After the clock: the last product against the first bit for bit, then values of it
  // against the exact product (the matrix holds start × start after the load). A failed
  // read fails the load (figure 0); a product that fails either check keeps its figure.
  const std::optional<std::int64_t> differences = session.countDifferences();
  if (!differences) {
    return failedLoad(outcome, *session.failure());
  }
  outcome.check = *differences == 0 ? ResultCheck::passed : ResultCheck::failed;
  outcome.mismatchedValues = *differences;
  const std::optional<LoadSession::Accuracy> accuracy = session.checkAccuracy();
  if (!accuracy) {
    return failedLoad(outcome, *session.failure());
  }
  outcome.valuesChecked = accuracy->checked;
  outcome.valuesOutsideBound = accuracy->outsideBound;
  outcome.accuracyCheck = accuracy->outsideBound == 0 ? ResultCheck::passed : ResultCheck::failed;
  return outcome;
}

} // namespace ventaro
