#pragma once

// The SMC's fans and named temperature sensors, through the SMC layer and the driver it has
// installed.

#include "telemetry/telemetry.h"

#include <memory>
#include <string>

namespace ventaro::telemetry {

/// Each fan's actual speed ("F0", rpm) and, where the SMC has the key, its target speed; the
/// temperature of each named sensor the SMC has ("TC0P", °C). Null when the SMC layer has no
/// driver or the SMC does not open, with the reason in `why`.
///
/// Each sample opens the connection, reads and closes it again, as the layer's other users do;
/// samples of every SMC source in the process are taken one at a time.
std::unique_ptr<Source> smcSource(std::string& why);

} // namespace ventaro::telemetry
