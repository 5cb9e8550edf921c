#include "workload/default_device.h"

#include "platform/display_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace ventaro::gpu {
namespace {

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<std::shared_ptr<Device>> usableOf(const BackendRegistration& backend) {
  return backend.usableDevices ? backend.usableDevices() : backend.listDevices();
}

bool holds(const std::vector<std::shared_ptr<Device>>& devices, const PciIdentity& gpu) {
  return std::any_of(devices.begin(), devices.end(),
                     [&](const auto& device) { return device && isDeviceOf(*device, gpu); });
}

// "0000:03:00.0 [1002:67df]". The address is a folder name on the PCI bus, shown as display
// text: it goes to a terminal.
std::string addressAndIds(const PciIdentity& gpu) {
  std::array<char, 32> ids{};
  std::snprintf(ids.data(), ids.size(), " [%04x:%04x]", gpu.vendorId, gpu.deviceId);
  return displayText(gpu.address) + ids.data();
}

// What each backend made of the GPU, for the note.
std::string whyUnused(const PciIdentity& gpu, std::span<const BackendRegistration> backends) {
  if (backends.empty()) {
    return "this build has no GPU backend";
  }
  std::string why;
  for (const BackendRegistration& backend : backends) {
    const bool listed = holds(backend.listDevices(), gpu);
    why += (why.empty() ? "" : "; ") + backend.id +
           (listed ? ": its device cannot run the load" : ": no device for it");
  }
  return why;
}

std::string whatToInstall(const PciIdentity& gpu) {
  if (gpu.vendorId == pci_vendor::kNvidia) {
    return "install the NVIDIA driver and cuBLAS (libcublas), or the NVIDIA driver's Vulkan "
           "support";
  }
  return "install mesa-vulkan-drivers and libvulkan1";
}

} // namespace

bool isDeviceOf(const Device& device, const PciIdentity& gpu) {
  if (device.isProcessor()) {
    return false;
  }
  const std::optional<PciIdentity> identity = device.pciIdentity();
  if (!identity) {
    return false;
  }
  if (!identity->address.empty() && !gpu.address.empty()) {
    return lowerCase(identity->address) == lowerCase(gpu.address);
  }
  return identity->vendorId != 0 && identity->vendorId == gpu.vendorId &&
         identity->deviceId == gpu.deviceId;
}

DeviceChoice chooseDefaultDevice(std::span<const PciIdentity> gpus,
                                 std::span<const BackendRegistration> backends,
                                 const std::function<std::string(const PciIdentity&)>& nameOf) {
  if (gpus.empty()) {
    return {};
  }
  const PciIdentity& gpu = gpus.front();
  for (const BackendRegistration& backend : backends) {
    for (std::shared_ptr<Device>& device : usableOf(backend)) {
      if (device && isDeviceOf(*device, gpu)) {
        return {std::move(device), {}};
      }
    }
  }
  const std::string name = nameOf ? displayText(nameOf(gpu)) : std::string();
  return {nullptr, "the GPU " + addressAndIds(gpu) + (name.empty() ? "" : " " + name) +
                       " cannot be driven (" + whyUnused(gpu, backends) + "); " +
                       whatToInstall(gpu) + "; the load runs on the processor"};
}

} // namespace ventaro::gpu
