#pragma once

namespace ventaro {

// Whether the fans are stuck in the one state a login start resets: more than two fans; fan 0
// named with "PCI", limits exactly 800 and 4500, running faster than 1000; fan 1 named with
// "PS", limits exactly 600 and 2800.
//
// One pass through whatever SMC driver is installed: open, eight reads, close, then the
// decision. A read that fails counts as 0 or the empty name; a connection that cannot be opened
// answers false with nothing read or closed. Reports no error and writes nothing to the SMC.
bool hasFanAnomaly();

} // namespace ventaro
