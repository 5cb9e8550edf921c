#pragma once

// The sensors to read for one device under load.

#include "platform/pci_identity.h"
#include "telemetry/telemetry.h"

#include <optional>

namespace ventaro::telemetry {

/// What a load runs on, as far as its sensors go.
struct Target {
  /// The GPU's place on the PCI bus; absent for the processor or where the backend cannot say.
  std::optional<PciIdentity> pci;
  /// The load runs on the processor: its temperature chips are read.
  bool processor = false;
  /// Read the SMC's fans and temperatures through the driver the SMC layer has installed
  /// (SMCAccess::setDriver); the machine's fans are shared, so one device's telemetry is enough.
  bool smc = false;
};

/// The sources for `target`: the amdgpu hwmon chip of an AMD GPU's address, NVML for an
/// NVIDIA GPU's address, the k10temp or coretemp chips for the processor, and the SMC where it
/// is asked for. A source that is missing or cannot be read is left out; each such case says
/// why in the debug log, and nothing else. Empty when nothing can be read.
Telemetry telemetryFor(const Target& target);

} // namespace ventaro::telemetry
