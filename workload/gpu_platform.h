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

  /// `listGpus` lists the GPUs (it may be asked more than once); `listUsableGpus` (default:
  /// `listGpus`) those a load can run on, asked once for the default device; `makeCpuDevice`
  /// is called at most once, the first time the default device is asked for where no GPU is
  /// usable.
  BackendPlatform(GpuLister listGpus, CpuDeviceMaker makeCpuDevice, GpuLister listUsableGpus = {});

  std::vector<std::shared_ptr<Device>> copyAllDevices() override;
  /// The first GPU, else the CPU device; chosen once, then the same object every time.
  std::shared_ptr<Device> createSystemDefaultDevice() override;

private:
  GpuLister listGpus_;
  CpuDeviceMaker makeCpuDevice_;
  GpuLister listUsableGpus_;
  std::mutex mutex_;
  std::shared_ptr<Device> defaultDevice_;
};

} // namespace ventaro::gpu
