#include "bench/vulkan_lines.h"

#include "bench/peak_text.h"
#include "workload/vulkan/vulkan_devices.h"

#include <cstdio>
#include <optional>
#include <string>

namespace ventaro::bench {

void printVulkanLines(int dimension, const CountFor& countFor, const LoadMeasure& measure,
                      const NvidiaReference& nvidia) {
  const auto devices = gpu::vulkan::vulkanDevices();
  if (devices.empty()) {
    std::printf("# vulkan: no Vulkan device (no loader or no driver; see G_MESSAGES_DEBUG)\n");
  }
  constexpr std::uint32_t nvidiaVendor = 0x10de;
  for (std::size_t index = 0; index < devices.size(); ++index) {
    gpu::Device& device = *devices[index];
    const std::string id = "vulkan:" + std::to_string(index);
    const auto pci = device.pciIdentity();
    const bool onNvidia = pci && pci->vendorId == nvidiaVendor && !device.isProcessor();
    // The device's own figure where the backend can work it out (an AMD GPU); on an NVIDIA
    // GPU the CUDA backend's figure is the same device's.
    std::optional<double> peak = device.peakGflops();
    if (!peak && onNvidia) {
      peak = nvidia.peakGflops;
    }
    const int count = countFor(device);
    std::printf("# %s: %s, %s, vendor 0x%04x device 0x%04x%s%s; %d x %d, %d multiplications\n",
                id.c_str(), device.name().c_str(), device.isProcessor() ? "processor" : "GPU",
                pci ? pci->vendorId : 0, pci ? pci->deviceId : 0,
                pci && !pci->address.empty() ? " at " : "", pci ? pci->address.c_str() : "",
                dimension, dimension, count);
    std::fflush(stdout);
    const std::int64_t load = measure(device);
    std::printf("%s: load %lld GFLOPS", id.c_str(), static_cast<long long>(load));
    std::printf("%s", peakText(load, peak).c_str());
    if (onNvidia && nvidia.cublasGflops && *nvidia.cublasGflops > 0) {
      std::printf(", cuBLAS %lld GFLOPS, ratio %.2f", static_cast<long long>(*nvidia.cublasGflops),
                  static_cast<double>(load) / *nvidia.cublasGflops);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
}

} // namespace ventaro::bench
