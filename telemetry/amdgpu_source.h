#pragma once

// An AMD GPU's hwmon chip, found by the GPU's PCI address.

#include "telemetry/telemetry.h"

#include <memory>
#include <string>

namespace ventaro::telemetry {

/// The amdgpu chip of the device at `pciAddress` ("0000:03:00.0"): its temperatures (edge,
/// junction, mem), shader clock (freq1, "sclk"), power and fan. Null when libsensors finds no
/// such chip, with the reason in `why`.
std::unique_ptr<Source> amdgpuSource(const std::string& pciAddress, std::string& why);

} // namespace ventaro::telemetry
