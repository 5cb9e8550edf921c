#include "smc/applesmc/sysfs_layout.h"

#include <algorithm>

namespace ventaro::applesmc {
namespace {

constexpr std::string_view kPlatformDevice = "devices/platform/applesmc.768";
constexpr std::string_view kAcpiDevices = "bus/acpi/devices";
constexpr std::string_view kAcpiDevicePrefix = "APP0001:";
constexpr std::string_view kFirstFanFile = "fan1_input";
constexpr std::string_view kFirstTemperatureFile = "temp1_input";

bool holds(FileAccess& files, const std::string& directory, std::string_view file) {
  const ListResult listing = files.listDirectory(directory);
  return std::find(listing.names.begin(), listing.names.end(), file) != listing.names.end();
}

// The directory that holds `file`: the device directory or one of its hwmon directories; the
// device directory when none does.
std::string findDirectoryHolding(FileAccess& files, const std::string& deviceDirectory,
                                 std::string_view file) {
  if (holds(files, deviceDirectory, file)) {
    return deviceDirectory;
  }
  const std::string hwmon = joinPath(deviceDirectory, "hwmon");
  const ListResult monitors = files.listDirectory(hwmon);
  for (const std::string& name : monitors.names) {
    std::string candidate = joinPath(hwmon, name);
    if (name.starts_with("hwmon") && holds(files, candidate, file)) {
      return candidate;
    }
  }
  return deviceDirectory;
}

} // namespace

std::optional<std::string> findDeviceDirectory(FileAccess& files, const std::string& sysfsRoot) {
  if (std::string platform = joinPath(sysfsRoot, kPlatformDevice); files.isDirectory(platform)) {
    return platform;
  }
  const std::string acpiDevices = joinPath(sysfsRoot, kAcpiDevices);
  const ListResult devices = files.listDirectory(acpiDevices);
  for (const std::string& name : devices.names) {
    std::string candidate = joinPath(acpiDevices, name);
    if (name.starts_with(kAcpiDevicePrefix) && files.isDirectory(candidate)) {
      return candidate;
    }
  }
  return std::nullopt;
}

std::string findFanDirectory(FileAccess& files, const std::string& deviceDirectory) {
  return findDirectoryHolding(files, deviceDirectory, kFirstFanFile);
}

std::string findTemperatureDirectory(FileAccess& files, const std::string& deviceDirectory) {
  return findDirectoryHolding(files, deviceDirectory, kFirstTemperatureFile);
}

} // namespace ventaro::applesmc
