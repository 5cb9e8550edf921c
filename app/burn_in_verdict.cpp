#include "app/burn_in_verdict.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string_view>
#include <vector>

namespace ventaro {

namespace {

using telemetry::Quantity;
using telemetry::Reading;

bool containsIgnoringCase(std::string_view text, std::string_view word) {
  const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  return std::search(text.begin(), text.end(), word.begin(), word.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

// The median of the figures, rounded down between the middle two.
std::int64_t median(std::vector<std::int64_t> figures) {
  if (figures.empty()) {
    return 0;
  }
  const auto middle = figures.begin() + static_cast<std::ptrdiff_t>(figures.size() / 2);
  std::nth_element(figures.begin(), middle, figures.end());
  if (figures.size() % 2 == 1) {
    return *middle;
  }
  const std::int64_t below = *std::max_element(figures.begin(), middle);
  return below + (*middle - below) / 2;
}

// The throttling a segment shows by its driver's reasons: a reason about heat first.
std::optional<Throttling> reportedThrottling(const SegmentRecord& segment) {
  if (segment.sensors.throttleReasons.empty()) {
    return std::nullopt;
  }
  const std::vector<std::string>& reasons = segment.sensors.throttleReasons;
  const auto heat = std::find_if(reasons.begin(), reasons.end(), isTemperatureLimit);
  Throttling throttling;
  throttling.cause =
      heat != reasons.end() ? ThrottleCause::temperatureLimit : ThrottleCause::throttleReason;
  throttling.reason = heat != reasons.end() ? *heat : reasons.front();
  return throttling;
}

// Whether a segment's figure fell with its clock against the best segment before it.
bool fellWithClock(const SegmentRecord& segment, const SegmentRecord& best) {
  if (static_cast<double>(segment.gflops) >=
      static_cast<double>(best.gflops) * (1.0 - kThrottleFigureDrop)) {
    return false;
  }
  const std::optional<double> clock = segmentClock(segment.sensors);
  const std::optional<double> bestClock = segmentClock(best.sensors);
  return clock && bestClock && *clock < *bestClock * (1.0 - kThrottleClockDrop);
}

std::optional<Throttling> firstThrottling(const BurnInSeries& series) {
  const SegmentRecord* best = nullptr;
  for (const SegmentRecord& segment : series.segments) {
    std::optional<Throttling> throttling = reportedThrottling(segment);
    if (!throttling && best != nullptr && fellWithClock(segment, *best)) {
      throttling = Throttling{};
    }
    if (throttling) {
      throttling->t = segment.t;
      if (const std::optional<Reading> hottest = hottestTemperature(segment.sensors)) {
        throttling->temperature = hottest->value;
      }
      return throttling;
    }
    if (best == nullptr || segment.gflops > best->gflops) {
      best = &segment;
    }
  }
  return std::nullopt;
}

} // namespace

std::optional<double> segmentClock(const telemetry::Sample& sensors) {
  for (const Reading& reading : sensors.readings) {
    if (reading.quantity == Quantity::clock && std::isfinite(reading.value)) {
      return reading.value;
    }
  }
  return std::nullopt;
}

std::optional<telemetry::Reading> hottestTemperature(const telemetry::Sample& sensors) {
  std::optional<Reading> hottest;
  for (const Reading& reading : sensors.readings) {
    if (reading.quantity == Quantity::temperature && std::isfinite(reading.value) &&
        (!hottest || reading.value > hottest->value)) {
      hottest = reading;
    }
  }
  return hottest;
}

bool isTemperatureLimit(const std::string& reason) {
  static constexpr std::array<std::string_view, 3> kHeatWords = {"thermal", "temperature", "heat"};
  return std::any_of(kHeatWords.begin(), kHeatWords.end(),
                     [&](std::string_view word) { return containsIgnoringCase(reason, word); });
}

BurnInJudgement judgeBurnIn(const BurnInSeries& series) {
  BurnInJudgement judgement;
  std::vector<std::int64_t> figures;
  figures.reserve(series.segments.size());
  for (const SegmentRecord& segment : series.segments) {
    figures.push_back(segment.gflops);
    if (segment.differingElements > 0) {
      ++judgement.segmentsWithErrors;
      judgement.mostDifferingElements =
          std::max(judgement.mostDifferingElements, segment.differingElements);
    }
    const std::optional<Reading> hottest = hottestTemperature(segment.sensors);
    if (hottest && (!judgement.hottest || hottest->value > judgement.hottest->value)) {
      judgement.hottest = hottest;
    }
  }
  if (!figures.empty()) {
    judgement.lowestGflops = *std::min_element(figures.begin(), figures.end());
    judgement.secondsRun = series.segments.back().t;
  }
  judgement.medianGflops = median(std::move(figures));
  judgement.throttling = firstThrottling(series);
  if (judgement.segmentsWithErrors > 0 || series.accuracyFailed()) {
    judgement.verdict = Verdict::unstable;
  } else if (judgement.throttling) {
    judgement.verdict = Verdict::throttled;
  }
  return judgement;
}

} // namespace ventaro
