#include "workload/gpu_platform.h"

#include "workload/cpu/cpu_device.h"
#include "workload/pci_gpus.h"
#include "workload/pci_names.h"

#include <cstdio>
#include <optional>
#include <utility>

namespace ventaro::gpu {
namespace {

// A lister that asks `inner` once and answers the same devices after.
DeviceLister once(DeviceLister inner) {
  if (!inner) {
    return inner;
  }
  struct State {
    std::once_flag flag;
    std::vector<std::shared_ptr<Device>> devices;
  };
  auto state = std::make_shared<State>();
  return [state, inner = std::move(inner)] {
    std::call_once(state->flag, [&] { state->devices = inner(); });
    return state->devices;
  };
}

} // namespace

BackendPlatform::BackendPlatform(PlatformParts parts) : parts_(std::move(parts)) {
  for (BackendRegistration& backend : parts_.backends) {
    backend.listDevices = once(std::move(backend.listDevices));
    backend.usableDevices = once(std::move(backend.usableDevices));
  }
}

std::vector<std::shared_ptr<Device>> BackendPlatform::copyAllDevices() {
  std::vector<std::shared_ptr<Device>> devices;
  for (const BackendRegistration& backend : parts_.backends) {
    for (std::shared_ptr<Device>& device : backend.listDevices()) {
      devices.push_back(std::move(device));
    }
  }
  return devices;
}

std::size_t BackendPlatform::gpuCount() {
  return parts_.listPciGpus ? parts_.listPciGpus().size() : 0;
}

std::shared_ptr<Device> BackendPlatform::createSystemDefaultDevice() {
  std::lock_guard lock(mutex_);
  if (!defaultDevice_) {
    const std::vector<PciIdentity> gpus =
        parts_.listPciGpus ? parts_.listPciGpus() : std::vector<PciIdentity>{};
    DeviceChoice choice = chooseDefaultDevice(gpus, parts_.backends, parts_.nameGpu);
    if (!choice.note.empty() && parts_.tell) {
      parts_.tell(choice.note);
    }
    defaultDevice_ = choice.device ? std::move(choice.device) : parts_.makeCpuDevice();
  }
  return defaultDevice_;
}

GpuPlatform& systemGpuPlatform() {
  // The backends come from the list CMake writes; nothing here names one of them.
  static BackendPlatform platform(PlatformParts{
      registeredBackends(), [] { return pciGpus(); },
      [] { return std::make_shared<cpu::CpuDevice>(); },
      [](const PciIdentity& gpu) {
        return pciNameFromFile(kPciIdsPath, gpu.vendorId, gpu.deviceId);
      },
      [](const std::string& note) { std::fprintf(stderr, "ventaro: %s\n", note.c_str()); }});
  return platform;
}

} // namespace ventaro::gpu
