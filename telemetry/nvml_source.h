#pragma once

// An NVIDIA GPU's sensors and clock-event reasons, through NVML.

#include "telemetry/nvml_library.h"
#include "telemetry/telemetry.h"

#include <memory>
#include <string>
#include <vector>

namespace ventaro::telemetry {

/// The GPU at `pciAddress` as `nvml` knows it: temperature ("gpu"), SM clock ("sm"), power
/// ("power", mW read as W), fan ("fan": rpm where the driver reports it, else the duty it asks
/// for, in %) and the reasons it gives for holding the clocks back. Null when NVML knows no
/// device there, with the reason in `why`.
std::unique_ptr<Source> nvmlSource(const nvml::Library& nvml, const std::string& pciAddress,
                                   std::string& why);

/// NVML's clock-event reason bits as short words ("thermal", "power cap", ...), lowest bit
/// first; bits it does not name are left out.
std::vector<std::string> clockEventWords(unsigned long long reasons); // NOLINT(google-runtime-int)

} // namespace ventaro::telemetry
