#pragma once

// The Vulkan backend's devices, as the GPU layer lists them.

#include "workload/gpu_device.h"
#include "workload/pci_gpus.h"
#include "workload/vulkan/vulkan_api.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ventaro::gpu::vulkan {

class VulkanDevice;
struct DeviceFacts;

/// Every Vulkan physical device, processor-type ones included (their isProcessor() is true),
/// one per device where two drivers offer it. Opens the loader (dlopen "libvulkan.so.1") on
/// first call only; empty, with the reason in the debug log, where there is no loader or no
/// driver. The same objects every call.
std::vector<std::shared_ptr<Device>> vulkanDevices();

/// The devices the instance of `api` lists, made to call through `api` (vulkanDevices() hands
/// it the process's instance; tests, a table of their own). An AMD GPU's shader clocks are read
/// from its folder under `pciRoot`.
std::vector<std::shared_ptr<VulkanDevice>>
listDevices(const InstanceApi& api, const std::string& pciRoot = kPciDevicesRoot);

/// Of the devices `listed`, in listing order, the positions of those kept: one per device,
/// two being one where they report one device UUID or one PCI address. Of one device, a
/// driver of its own is kept over a processor-type or a layered one, else the first listed,
/// in the place where the device was first listed.
std::vector<std::size_t> onePerDevice(std::span<const DeviceFacts> listed);

} // namespace ventaro::gpu::vulkan
