#pragma once

// Timed runs as the telemetry records them, written as one row per segment.

#include "app/burn_in_series.h"

#include <cstdint>
#include <initializer_list>
#include <string>

namespace ventaro::testing {

/// One segment: its end, its figure, its core clock and hottest temperature (0: not read), the
/// elements that differed and the driver's throttle reason (none when empty).
struct SegmentRow {
  double t = 0.0;
  std::int64_t gflops = 0;
  double clock = 0.0;
  double temperature = 0.0;
  std::int64_t differing = 0;
  const char* reason = "";
};

/// A run on "vulkan:0" asked for `requested` seconds. Each segment reads, as an AMD card and
/// its host report them, the processor's temperature at 55 °C and the card's edge and junction
/// temperatures (junction the hottest, edge 6 °C below), the core clock then the memory clock,
/// power and fan.
inline BurnInSeries recordedSeries(std::initializer_list<SegmentRow> rows,
                                   double requested = 600.0) {
  using telemetry::Quantity;
  BurnInSeries series;
  series.deviceId = "vulkan:0";
  series.deviceName = "Test GPU 8 GB";
  series.requestedSeconds = requested;
  series.dimension = 4096;
  for (const SegmentRow& row : rows) {
    SegmentRecord segment;
    segment.t = row.t;
    segment.seconds = 2.0;
    segment.gflops = row.gflops;
    segment.differingElements = row.differing;
    auto& readings = segment.sensors.readings;
    if (row.temperature != 0.0) {
      readings.push_back({"k10temp", "Tctl", Quantity::temperature, 55.0});
      readings.push_back({"amdgpu", "edge", Quantity::temperature, row.temperature - 6.0});
      readings.push_back({"amdgpu", "junction", Quantity::temperature, row.temperature});
    }
    if (row.clock != 0.0) {
      readings.push_back({"amdgpu", "sclk", Quantity::clock, row.clock});
      readings.push_back({"amdgpu", "mclk", Quantity::clock, 1000.0});
    }
    readings.push_back({"amdgpu", "PPT", Quantity::power, 180.0});
    readings.push_back({"amdgpu", "fan1", Quantity::fan, 1800.0});
    if (*row.reason != '\0') {
      segment.sensors.throttleReasons.emplace_back(row.reason);
    }
    series.segments.push_back(segment);
  }
  return series;
}

} // namespace ventaro::testing
