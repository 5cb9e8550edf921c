#pragma once

#include "smc/applesmc/file_access.h"

#include <optional>
#include <string>

namespace ventaro::applesmc {

// Where the kernel's applesmc driver puts its files below a sysfs root ("/sys" on a machine).
//
// The device directory holds the key cursor; it is devices/platform/applesmc.768, or, with the
// out-of-tree support for newer machines, bus/acpi/devices/APP0001:<n>. The fan and temperature
// files lie in the device directory on older kernels and in its hwmon/hwmon<n>/ directory on newer
// ones.

// The device directory, or nothing when the machine has none.
std::optional<std::string> findDeviceDirectory(FileAccess& files, const std::string& sysfsRoot);

// The directory that holds fan1_input, or the device directory itself when no directory does.
std::string findFanDirectory(FileAccess& files, const std::string& deviceDirectory);

// The directory that holds temp1_input, or the device directory itself when no directory does.
std::string findTemperatureDirectory(FileAccess& files, const std::string& deviceDirectory);

} // namespace ventaro::applesmc
