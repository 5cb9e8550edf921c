#include "smc/applesmc/sysfs_layout.h"

namespace ventaro::applesmc {
namespace {

constexpr std::string_view kPlatformDevice = "devices/platform/applesmc.768";
constexpr std::string_view kAcpiDevices = "bus/acpi/devices";
constexpr std::string_view kAcpiDevicePrefix = "APP0001:";
constexpr std::string_view kFirstFanFile = "fan1_input";

bool holdsFans(FileAccess& files, const std::string& directory) {
  const ListResult listing = files.listDirectory(directory);
  for (const std::string& name : listing.names) {
    if (name == kFirstFanFile) {
      return true;
    }
  }
  return false;
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
  if (holdsFans(files, deviceDirectory)) {
    return deviceDirectory;
  }
  const std::string hwmon = joinPath(deviceDirectory, "hwmon");
  const ListResult monitors = files.listDirectory(hwmon);
  for (const std::string& name : monitors.names) {
    std::string candidate = joinPath(hwmon, name);
    if (name.starts_with("hwmon") && holdsFans(files, candidate)) {
      return candidate;
    }
  }
  return deviceDirectory;
}

} // namespace ventaro::applesmc
