#pragma once

// The platform that the system's real backends make up: the GPUs of the GPU backend, and a
// default device that falls back to the CPU device where there is no GPU.

#include "workload/gpu_device.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace ventaro::gpu {

class BackendPlatform final : public GpuPlatform {
public:
  using GpuLister = std::function<std::vector<std::shared_ptr<Device>>()>;
  using CpuDeviceMaker = std::function<std::shared_ptr<Device>()>;

  /// `listGpus` lists the GPUs (it may be asked more than once); `makeCpuDevice` is called
  /// at most once, the first time the default device is asked for on a machine without GPUs.
  BackendPlatform(GpuLister listGpus, CpuDeviceMaker makeCpuDevice);

  std::vector<std::shared_ptr<Device>> copyAllDevices() override;
  /// The first GPU, else the CPU device; chosen once, then the same object every time.
  std::shared_ptr<Device> createSystemDefaultDevice() override;

private:
  GpuLister listGpus_;
  CpuDeviceMaker makeCpuDevice_;
  std::mutex mutex_;
  std::shared_ptr<Device> defaultDevice_;
};

} // namespace ventaro::gpu
