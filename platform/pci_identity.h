#pragma once

// Where a device sits on the PCI bus, and the vendor ids the program tells apart. One list,
// used by every backend and by the sensor readers.

#include <cstdint>
#include <string>

namespace ventaro {

/// A device's place on the PCI bus: its address as sysfs names it ("0000:03:00.0"; empty
/// where the driver does not say) and its vendor and device ids.
struct PciIdentity {
  std::string address;
  std::uint32_t vendorId = 0;
  std::uint32_t deviceId = 0;
  bool operator==(const PciIdentity&) const = default;
};

/// PCI vendor ids of the GPU makers.
namespace pci_vendor {
inline constexpr std::uint32_t kAmd = 0x1002;
inline constexpr std::uint32_t kNvidia = 0x10de;
inline constexpr std::uint32_t kIntel = 0x8086;
} // namespace pci_vendor

} // namespace ventaro
