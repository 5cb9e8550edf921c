#pragma once

// What a timed run on one device recorded: one entry per segment, with its figure, its
// repeatability check and the sensors read while it ran, and how the run ended. The verdict,
// the notice, the JSON and the picture are all made from it.

#include "telemetry/sample.h"
#include "workload/burn_in.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ventaro {

/// One segment of a timed run, as the load measured it (time, figure, multiplications,
/// elements that differ from the first product), with the sensors read while it ran.
struct SegmentRecord : BurnInSegment {
  telemetry::Sample sensors;
};

/// A timed run on one device.
struct BurnInSeries {
  std::string deviceId;   // as --device names it ("vulkan:0", "cpu")
  std::string deviceName; // as the notice titles it
  double requestedSeconds = 0.0;
  std::int64_t dimension = 0;
  std::vector<SegmentRecord> segments;
  /// The accuracy check of the first and last products against the exact product: the
  /// values it read and how many lay outside their bound.
  std::int64_t valuesChecked = 0;
  std::int64_t valuesOutsideBound = 0;
  /// Why the run ended early on its own (device lost, out of memory); none when it ran its
  /// time or was stopped.
  std::optional<std::string> failure;
  /// The number of the signal that stopped it, 0 when none did.
  int stoppedBySignal = 0;
  /// Seconds spent reading the sensors, all segments together.
  double sensorSeconds = 0.0;

  /// Whether the accuracy check failed.
  bool accuracyFailed() const { return valuesOutsideBound > 0; }
};

} // namespace ventaro
