#pragma once

// libsensors' state is process-wide: it is started once, on first use, and never stopped (the
// chip records it hands out stay valid for the rest of the process). It is not safe to enter
// from two threads at once, and each device's run reads from its own thread, so every call into
// it holds sensorsLock().
//
// libsensors opens an attribute with fopen and reads it with fscanf: a FIFO planted in place of
// an attribute would block it, a huge file would be read whole. What the sources read through
// it is checked first with isPlainAttribute.

#include <functional>
#include <mutex>
#include <sensors/sensors.h>
#include <string>
#include <vector>

namespace ventaro::telemetry::hwmon {

/// Held around every call into libsensors.
std::mutex& sensorsLock();

/// The chips libsensors found that `wanted` accepts, starting libsensors on first use; none
/// when it cannot start, with the reason in `why` and in the debug log.
std::vector<const sensors_chip_name*>
detectedChips(const std::function<bool(const sensors_chip_name&)>& wanted, std::string& why);

/// What is at `directory/name`, as far as opening it goes.
enum class Attribute {
  absent, // nothing there: opening it fails at once
  plain,  // a regular file no longer than an attribute can be
  hostile // anything else: a link, a FIFO, a device, a directory, a huge file
};
Attribute attributeAt(const std::string& directory, const std::string& name);

} // namespace ventaro::telemetry::hwmon
