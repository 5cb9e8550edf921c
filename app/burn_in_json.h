#pragma once

// The JSON of a timed run: the members of every run object, then the run's length, its
// segments with their sensors, the verdict and the median and lowest figures. One object for
// one device, an array of them for several.

#include "app/burn_in_series.h"
#include "workload/gpu_device.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ventaro {

/// One device's timed run, as the JSON reports it.
struct TimedRunSummary {
  const BurnInSeries* series = nullptr;
  const gpu::Device* device = nullptr; // may be null
  std::string verdict;                 // "steady", "throttled", "unstable"
  std::int64_t medianGflops = 0;
  std::int64_t lowestGflops = 0;
  std::optional<double> peakGflops;
};

std::string timedRunJson(const std::vector<TimedRunSummary>& runs);

} // namespace ventaro
