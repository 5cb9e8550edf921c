#pragma once

// The platform that the system's registered backends make up: every device they list, the
// GPUs counted from the PCI bus, and a default device chosen for the machine's one GPU that
// falls back to the CPU device.

#include "workload/default_device.h"
#include "workload/gpu_device.h"
#include "workload/gpu_registry.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ventaro::gpu {

struct PlatformParts {
  /// The backends, in order of preference. Each one's lists are asked for at most once.
  std::vector<BackendRegistration> backends;
  /// The machine's GPUs as the PCI bus shows them (opens no vendor library).
  std::function<std::vector<PciIdentity>()> listPciGpus;
  /// The CPU device; called at most once, where the default device is the processor.
  std::function<std::shared_ptr<Device>()> makeCpuDevice;
  /// A GPU's name for the note (may be empty).
  std::function<std::string(const PciIdentity&)> nameGpu;
  /// Told the note once, where a GPU is left unused (may be empty).
  std::function<void(const std::string&)> tell;
};

class BackendPlatform final : public GpuPlatform {
public:
  explicit BackendPlatform(PlatformParts parts);

  /// Every backend's devices, in the order of the backends.
  std::vector<std::shared_ptr<Device>> copyAllDevices() override;
  /// The GPUs on the PCI bus; no backend is asked.
  std::size_t gpuCount() override;
  /// Chosen once (see chooseDefaultDevice), then the same object every time.
  std::shared_ptr<Device> createSystemDefaultDevice() override;

private:
  PlatformParts parts_;
  std::mutex mutex_;
  std::shared_ptr<Device> defaultDevice_;
};

} // namespace ventaro::gpu
