#include "app/device_choice.h"

#include "app/command_line.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace ventaro {

std::vector<NamedDevice>
namedDevices(gpu::GpuPlatform& platform,
             const std::function<std::shared_ptr<gpu::Device>()>& makeCpu) {
  std::vector<NamedDevice> devices;
  std::map<std::string, std::size_t> counts; // per backend
  std::vector<std::shared_ptr<gpu::Device>> listed = platform.copyAllDevices();
  devices.reserve(listed.size() + 1);
  for (std::shared_ptr<gpu::Device>& device : listed) {
    const std::string backend = device->backend();
    devices.push_back({backend + ":" + std::to_string(counts[backend]++), std::move(device)});
  }
  if (std::shared_ptr<gpu::Device> cpu = makeCpu ? makeCpu() : nullptr) {
    devices.push_back({"cpu", std::move(cpu)});
  }
  return devices;
}

std::shared_ptr<gpu::Device> findDevice(const std::vector<NamedDevice>& devices,
                                        const std::string& id) {
  const auto found = std::find_if(devices.begin(), devices.end(),
                                  [&](const NamedDevice& named) { return named.id == id; });
  return found != devices.end() ? found->device : nullptr;
}

std::string deviceIds(const std::vector<NamedDevice>& devices) {
  std::string ids;
  for (const NamedDevice& named : devices) {
    ids += (ids.empty() ? "" : ", ") + named.id;
  }
  return ids;
}

std::vector<NamedDevice> everyGpu(const std::vector<NamedDevice>& devices) {
  std::vector<NamedDevice> gpus;
  std::set<std::string> addresses;
  for (const NamedDevice& named : devices) {
    if (named.device->isProcessor()) {
      continue;
    }
    const std::optional<gpu::PciIdentity> pci = named.device->pciIdentity();
    if (pci && !pci->address.empty() && !addresses.insert(pci->address).second) {
      continue;
    }
    gpus.push_back(named);
  }
  if (gpus.empty()) {
    const auto cpu = std::find_if(devices.begin(), devices.end(),
                                  [](const NamedDevice& named) { return named.id == "cpu"; });
    if (cpu != devices.end()) {
      gpus.push_back(*cpu);
    }
  }
  return gpus;
}

std::optional<std::vector<NamedDevice>> chooseDevices(const std::vector<NamedDevice>& devices,
                                                      const std::string& value,
                                                      std::string& problem) {
  if (value == kAllDevices) {
    return everyGpu(devices);
  }
  std::vector<NamedDevice> chosen;
  for (const std::string& id : deviceList(value)) {
    std::shared_ptr<gpu::Device> device = findDevice(devices, id);
    if (!device) {
      problem = "unknown device '" + id + "'; the devices here are " + deviceIds(devices);
      return std::nullopt;
    }
    if (findDevice(chosen, id)) {
      problem = "device '" + id + "' is named twice";
      return std::nullopt;
    }
    chosen.push_back({id, std::move(device)});
  }
  return chosen;
}

ChosenDevicePlatform::ChosenDevicePlatform(gpu::GpuPlatform& inner,
                                           std::shared_ptr<gpu::Device> chosen)
    : inner_(inner), chosen_(std::move(chosen)) {}

std::vector<std::shared_ptr<gpu::Device>> ChosenDevicePlatform::copyAllDevices() {
  std::vector<std::shared_ptr<gpu::Device>> devices = inner_.copyAllDevices();
  std::erase_if(devices, [this](const auto& device) { return device != chosen_; });
  return devices;
}

} // namespace ventaro
