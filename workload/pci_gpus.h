#pragma once

// The machine's GPUs as the PCI bus shows them in sysfs: display controllers of the vendors
// that make GPUs. Reading sysfs opens no vendor library, so a start can count its GPUs without
// touching a driver.

#include "workload/gpu_device.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ventaro::gpu {

/// Where the kernel lists the PCI devices.
inline constexpr const char* kPciDevicesRoot = "/sys/bus/pci/devices";

/// Whether a PCI function of class code `classCode` (24 bits: class, subclass, interface) and
/// vendor `vendorId` is a GPU: a VGA, 3D or other display controller (0x0300xx, 0x0302xx,
/// 0x0380xx) made by AMD, NVIDIA or Intel. The display controllers of management chips and
/// virtual machines (ASPEED, Matrox, virtio, QXL, VMware, Bochs, Cirrus, Hyper-V) are not.
bool isGpu(std::uint32_t classCode, std::uint32_t vendorId);

/// The GPUs among the devices under `root` (one folder per device, named by its address,
/// holding `class`, `vendor` and `device`), sorted by address. A device whose files are
/// missing, are not regular files, or do not hold a hexadecimal number is not counted; a
/// missing root gives none. Never waits on a file.
std::vector<PciIdentity> pciGpus(const std::string& root = kPciDevicesRoot);

} // namespace ventaro::gpu
