#pragma once

// One reading of the sensors that matter to a device under load: temperatures, clocks,
// power, fans, and the reasons a driver gives for holding its clocks back. Every reading is
// optional on its own: a source that lacks one leaves it out.

#include <string>
#include <vector>

namespace ventaro::telemetry {

/// What a reading measures, and so its unit.
enum class Quantity {
  temperature, // °C
  clock,       // MHz
  power,       // W
  fan,         // rpm, actual
  fanTarget,   // rpm, what the fan is driven toward
  fanDuty,     // %, of the fan's full speed, what the driver asks of it (not a measurement)
};

/// One value of one sensor.
struct Reading {
  std::string source; // where it came from: "amdgpu", "nvml", "k10temp", "coretemp", "smc"
  std::string label;  // the sensor's own name there: "edge", "junction", "sclk", "fan1", "TC0P"
  Quantity quantity = Quantity::temperature;
  double value = 0.0;
  bool operator==(const Reading&) const = default;
};

/// Everything read at one moment.
struct Sample {
  std::vector<Reading> readings;
  /// Why the device holds its clocks back, in the driver's words ("thermal", "power cap");
  /// empty when nothing is reported.
  std::vector<std::string> throttleReasons;
  bool operator==(const Sample&) const = default;
};

} // namespace ventaro::telemetry
