#pragma once

// Which device a start without --device uses: the machine's one GPU through the first
// backend, in order of preference, that can run a load on it; else the processor, with one
// line that says which GPU was left unused, why, and what to install.

#include "workload/gpu_device.h"
#include "workload/gpu_registry.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ventaro::gpu {

/// Whether `device` is the GPU `gpu`: by PCI address where both know it, else by vendor and
/// device id. A processor-type device is never a GPU.
bool isDeviceOf(const Device& device, const PciIdentity& gpu);

struct DeviceChoice {
  /// The device; null for the processor (the CPU backend).
  std::shared_ptr<Device> device;
  /// Empty, or why the GPU is left unused and what to install (one line, no prefix).
  std::string note;
};

/// The choice for the GPUs `gpus` (as the PCI bus lists them) and the backends `backends`
/// (in order of preference). With no GPU: the processor, without a note, whatever the backends
/// list (a processor-type device is never a default). With one or more: the first GPU, through
/// the first backend whose usable devices hold it. The note shows the GPU's address and name as
/// display text. `nameOf` names a GPU for the note (empty
/// where it is not known; may be empty itself). A backend's devices are listed only while no
/// earlier backend has taken the GPU.
DeviceChoice chooseDefaultDevice(std::span<const PciIdentity> gpus,
                                 std::span<const BackendRegistration> backends,
                                 const std::function<std::string(const PciIdentity&)>& nameOf);

} // namespace ventaro::gpu
