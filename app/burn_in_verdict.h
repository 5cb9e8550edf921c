#pragma once

// What a timed run on one device amounts to, judged from its segments: steady, throttled or
// unstable, with the figures the notice, the JSON and the picture show.
//
// The rules:
// - unstable: a segment's last product differed from the first product in any element, or the
//   accuracy check of the run failed.
// - throttled: a segment's figure lies more than kThrottleFigureDrop below the best figure of
//   the segments before it while its clock lies more than kThrottleClockDrop below the clock of
//   that best segment (both clocks known); or a segment reports any throttle reason. A reason
//   that names heat ("thermal", "temperature", "heat", any case) is a temperature limit.
//   A drop of the figure without a clock reading on both sides is not taken as throttling: it
//   may be anything else on the machine.
// - steady: neither.
// Unstable outranks throttled; the throttling is still recorded then.

#include "app/burn_in_series.h"
#include "telemetry/sample.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ventaro {

/// How far (a fraction of the best earlier figure) a segment's figure must fall to count.
inline constexpr double kThrottleFigureDrop = 0.10;
/// How far (a fraction of the best segment's clock) the clock must fall with it. Small, so that
/// the figure's fall is matched by a real fall of the clock, not by its jitter.
inline constexpr double kThrottleClockDrop = 0.02;

enum class Verdict { steady, throttled, unstable };

/// What showed the throttling first.
enum class ThrottleCause {
  clockDrop,        // the figure fell with the clock
  throttleReason,   // the driver reported a reason that is not about heat
  temperatureLimit, // the driver reported a reason about heat
};

/// The first segment that showed throttling.
struct Throttling {
  /// Seconds from the start of the run to the end of that segment.
  double t = 0.0;
  /// The hottest temperature read at its end, when any was.
  std::optional<double> temperature;
  ThrottleCause cause = ThrottleCause::clockDrop;
  /// The driver's reason when one was reported (the first one), as the driver wrote it.
  std::string reason;
};

struct BurnInJudgement {
  Verdict verdict = Verdict::steady;
  /// Present whenever throttling was seen, also when the run is unstable.
  std::optional<Throttling> throttling;
  /// The median and lowest figure of the segments (the mean of the middle two for an even
  /// count, rounded down); 0 without segments.
  std::int64_t medianGflops = 0;
  std::int64_t lowestGflops = 0;
  /// Segments whose last product differed from the first, and the most elements that
  /// differed in one of them.
  std::int64_t segmentsWithErrors = 0;
  std::int64_t mostDifferingElements = 0;
  /// The hottest temperature reading of the whole run, when any was read.
  std::optional<telemetry::Reading> hottest;
  /// Seconds the run lasted: the end of its last segment (0 without segments).
  double secondsRun = 0.0;
};

/// The clock of a segment: its first finite clock reading (the telemetry lists a device's
/// core clock before its memory clock), or none.
std::optional<double> segmentClock(const telemetry::Sample& sensors);

/// The hottest finite temperature reading of a segment, or none.
std::optional<telemetry::Reading> hottestTemperature(const telemetry::Sample& sensors);

/// Whether a driver's throttle reason is about heat.
bool isTemperatureLimit(const std::string& reason);

/// The judgement of a run by the rules above.
BurnInJudgement judgeBurnIn(const BurnInSeries& series);

} // namespace ventaro
