#pragma once

// Choosing the device a run loads: the devices by the names `--device` takes, and a platform
// that offers only the one chosen.

#include "workload/gpu_device.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventaro {

/// A device with the name `--device` knows it by: "<backend>:<index>" for the index-th device
/// of its backend (counted from 0 per backend, in the platform's order), "cpu" for the CPU
/// device.
struct NamedDevice {
  std::string id;
  std::shared_ptr<gpu::Device> device;
};

/// The platform's devices in its order, then the CPU device.
std::vector<NamedDevice> namedDevices(gpu::GpuPlatform& platform,
                                      const std::function<std::shared_ptr<gpu::Device>()>& makeCpu);

/// The named device whose id is `id`, or null.
std::shared_ptr<gpu::Device> findDevice(const std::vector<NamedDevice>& devices,
                                        const std::string& id);

/// The ids, comma-separated, for a message.
std::string deviceIds(const std::vector<NamedDevice>& devices);

/// Every GPU among `devices`, each once: a GPU that several backends list is taken from the
/// first (the backends come in the order of preference), known by its PCI address. The CPU
/// device alone where there is no GPU; processor-type devices are no GPUs.
std::vector<NamedDevice> everyGpu(const std::vector<NamedDevice>& devices);

/// The devices a --device value names: one name, several separated by commas, or "all"
/// (everyGpu). None, with what is wrong in `problem`, for an unknown or repeated name.
std::optional<std::vector<NamedDevice>> chooseDevices(const std::vector<NamedDevice>& devices,
                                                      const std::string& value,
                                                      std::string& problem);

/// `inner` as seen with one device chosen: that device is the default, the device list holds
/// it alone (nothing where the CPU device was chosen), and the machine counts one GPU (none
/// where a processor-type device was chosen), so that a machine with several GPUs runs on the
/// one chosen.
class ChosenDevicePlatform final : public gpu::GpuPlatform {
public:
  ChosenDevicePlatform(gpu::GpuPlatform& inner, std::shared_ptr<gpu::Device> chosen);

  std::vector<std::shared_ptr<gpu::Device>> copyAllDevices() override;
  std::size_t gpuCount() override { return chosen_ && !chosen_->isProcessor() ? 1 : 0; }
  std::shared_ptr<gpu::Device> createSystemDefaultDevice() override { return chosen_; }

private:
  gpu::GpuPlatform& inner_;
  std::shared_ptr<gpu::Device> chosen_;
};

} // namespace ventaro
