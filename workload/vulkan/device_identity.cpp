// Which listed Vulkan devices are one device offered by two drivers.

#include "workload/vulkan/vulkan_device.h"
#include "workload/vulkan/vulkan_devices.h"

#include <algorithm>

namespace ventaro::gpu::vulkan {
namespace {

bool known(const DeviceUuid& uuid) {
  return std::any_of(uuid.begin(), uuid.end(), [](std::uint8_t byte) { return byte != 0; });
}

bool sameDevice(const DeviceFacts& a, const DeviceFacts& b) {
  return (known(a.uuid) && a.uuid == b.uuid) ||
         (!a.pci.address.empty() && a.pci.address == b.pci.address);
}

// Lower is better: a driver of its own over a layered one over one on the processor.
int rank(const DeviceFacts& facts) {
  return (facts.processor ? 2 : 0) + (facts.layered ? 1 : 0);
}

} // namespace

std::vector<std::size_t> onePerDevice(std::span<const DeviceFacts> listed) {
  std::vector<std::size_t> kept;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const auto same = std::find_if(kept.begin(), kept.end(),
                                   [&](std::size_t k) { return sameDevice(listed[k], listed[i]); });
    if (same == kept.end()) {
      kept.push_back(i);
    } else if (rank(listed[i]) < rank(listed[*same])) {
      *same = i;
    }
  }
  return kept;
}

} // namespace ventaro::gpu::vulkan
