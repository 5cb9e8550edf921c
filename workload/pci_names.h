#pragma once

// Names of PCI vendors and devices from the PCI ID database that pciutils installs, so that a
// message can say "Ellesmere [Radeon RX 470/480/570/570X/580/580X/590]" instead of "1002:67df".

#include <cstdint>
#include <string>
#include <string_view>

namespace ventaro::gpu {

/// Where Debian installs the database.
inline constexpr const char* kPciIdsPath = "/usr/share/misc/pci.ids";

/// The vendor's and the device's names for `vendorId`:`deviceId` in the database text
/// `database` ("<vendor> <device>", the vendor alone where the device is not listed), as
/// display text; empty when the vendor is not listed.
std::string pciName(std::string_view database, std::uint32_t vendorId, std::uint32_t deviceId);

/// The same from the database file at `path`, read only when it is a regular file of at most
/// 8 MiB; empty when it is missing or unusable.
std::string pciNameFromFile(const std::string& path, std::uint32_t vendorId,
                            std::uint32_t deviceId);

} // namespace ventaro::gpu
