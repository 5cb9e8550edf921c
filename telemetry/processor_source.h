#pragma once

// The processor's temperature chips.

#include "telemetry/telemetry.h"

#include <memory>
#include <string>

namespace ventaro::telemetry {

/// The temperatures of every k10temp chip (Tctl, Tccd1...) or coretemp chip (Package id 0,
/// Core 0...) that libsensors finds, one per processor package. Null when there is none, with
/// the reason in `why`.
std::unique_ptr<Source> processorSource(std::string& why);

} // namespace ventaro::telemetry
