#pragma once

// The Vulkan backend's devices, as the GPU layer lists them.

#include "workload/gpu_device.h"

#include <memory>
#include <vector>

namespace ventaro::gpu::vulkan {

/// Every Vulkan physical device, processor-type ones included (their isProcessor() is true).
/// Opens the loader (dlopen "libvulkan.so.1") on first call only; empty, with the reason in
/// the debug log, where there is no loader or no driver. The same objects every call.
std::vector<std::shared_ptr<Device>> vulkanDevices();

} // namespace ventaro::gpu::vulkan
