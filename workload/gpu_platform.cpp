#include "workload/gpu_platform.h"

#include "workload/cpu/cpu_device.h"

#include <utility>

#ifdef VENTARO_HAVE_CUDA
#include "workload/cuda/cuda_device.h"
#endif

namespace ventaro::gpu {

BackendPlatform::BackendPlatform(GpuLister listGpus, CpuDeviceMaker makeCpuDevice,
                                 GpuLister listUsableGpus)
    : listGpus_(std::move(listGpus)), makeCpuDevice_(std::move(makeCpuDevice)),
      listUsableGpus_(listUsableGpus ? std::move(listUsableGpus) : listGpus_) {}

std::vector<std::shared_ptr<Device>> BackendPlatform::copyAllDevices() {
  return listGpus_();
}

std::shared_ptr<Device> BackendPlatform::createSystemDefaultDevice() {
  std::lock_guard lock(mutex_);
  if (!defaultDevice_) {
    std::vector<std::shared_ptr<Device>> gpus = listUsableGpus_();
    defaultDevice_ = gpus.empty() ? makeCpuDevice_() : gpus.front();
  }
  return defaultDevice_;
}

GpuPlatform& systemGpuPlatform() {
  // The one place that knows which backends were built.
  static BackendPlatform platform(
      [] {
#ifdef VENTARO_HAVE_CUDA
        return cuda::cudaDevices();
#else
        return std::vector<std::shared_ptr<Device>>{};
#endif
      },
      [] { return std::make_shared<cpu::CpuDevice>(); },
      [] {
#ifdef VENTARO_HAVE_CUDA
        return cuda::usableCudaDevices();
#else
        return std::vector<std::shared_ptr<Device>>{};
#endif
      });
  return platform;
}

} // namespace ventaro::gpu
