#pragma once

// The bench's lines for the Vulkan devices: the load through the Vulkan backend, beside the
// device's FP32 peak where it can be known and, on an NVIDIA GPU, cuBLAS on the same device.

#include "workload/gpu_device.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace ventaro::bench {

/// What the CUDA backend measured on the NVIDIA GPU, where it ran.
struct NvidiaReference {
  std::optional<double> cublasGflops;
  std::optional<double> peakGflops;
};

/// The load's best GFLOPS on a device, and the count of multiplications it uses there.
using LoadMeasure = std::function<std::int64_t(gpu::Device&)>;
using CountFor = std::function<int(const gpu::Device&)>;

/// Prints a comment line and a result line for each Vulkan device (nothing where the Vulkan
/// backend was not built):
///   # vulkan:0: NAME, processor|gpu, PCI ...; peak ... ; N x N, C multiplications
///   vulkan:0: load N GFLOPS, peak N GFLOPS, F of peak|peak unknown, cuBLAS N GFLOPS, ratio R
void printVulkanLines(int dimension, const CountFor& countFor, const LoadMeasure& measure,
                      const NvidiaReference& nvidia);

} // namespace ventaro::bench
