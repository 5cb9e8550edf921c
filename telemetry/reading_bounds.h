#pragma once

// The one way a source adds a reading: values no sensor of that kind can give (NaN, infinity,
// a temperature of 900 °C) are dropped, so that a broken driver or a planted file never shows
// up as a measurement.

#include "telemetry/sample.h"

#include <string>

namespace ventaro::telemetry {

/// Whether `value` lies in the range a working sensor of `quantity` can report: -50 to 250 °C,
/// 0 to 10 000 MHz, 0 to 5 000 W, 0 to 100 000 rpm, 0 to 200 % (a fan's duty may pass 100 %).
bool isPlausible(Quantity quantity, double value);

/// Appends the reading to `into` when its value is plausible; drops it otherwise.
void addReading(Sample& into, const std::string& source, const std::string& label,
                Quantity quantity, double value);

} // namespace ventaro::telemetry
