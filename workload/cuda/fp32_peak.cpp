#include "workload/cuda/fp32_peak.h"

#include "workload/cuda/cuda_status.h"

#include <array>
#include <cuda_runtime_api.h>
#include <utility>

namespace ventaro::gpu::cuda {

std::optional<int> fp32LanesPerMultiprocessor(int major, int minor) {
  // The generations that halved the FP32 lanes to make room for FP64 units or tensor cores:
  // 6.0, 7.x and 8.0 keep 64 per multiprocessor; every other one from 6.x on has 128.
  constexpr int firstKnownMajor = 6;
  constexpr int lastKnownMajor = 12;
  if (major < firstKnownMajor || major > lastKnownMajor || minor < 0) {
    return std::nullopt;
  }
  const bool halved = (major == 6 && minor == 0) || major == 7 || (major == 8 && minor == 0);
  return halved ? 64 : 128;
}

std::optional<double> fp32PeakGflops(const SmFigures& figures) {
  const std::optional<int> lanes = fp32LanesPerMultiprocessor(figures.major, figures.minor);
  if (!lanes || figures.multiprocessors <= 0 || figures.clockKhz <= 0) {
    return std::nullopt;
  }
  constexpr double flopsPerFma = 2.0;
  return static_cast<double>(figures.multiprocessors) * *lanes * flopsPerFma * figures.clockKhz /
         1e6;
}

std::string describe(const SmFigures& figures) {
  const std::optional<int> lanes = fp32LanesPerMultiprocessor(figures.major, figures.minor);
  return std::to_string(figures.multiprocessors) + " SMs, compute capability " +
         std::to_string(figures.major) + "." + std::to_string(figures.minor) + ", " +
         (lanes ? std::to_string(*lanes) : std::string("unknown")) + " FP32 lanes per SM, " +
         std::to_string(figures.clockKhz / 1000) + " MHz";
}

std::optional<SmFigures> smFigures(int ordinal) {
  SmFigures figures;
  const std::array<std::pair<cudaDeviceAttr, int*>, 4> wanted{{
      {cudaDevAttrMultiProcessorCount, &figures.multiprocessors},
      {cudaDevAttrComputeCapabilityMajor, &figures.major},
      {cudaDevAttrComputeCapabilityMinor, &figures.minor},
      {cudaDevAttrClockRate, &figures.clockKhz},
  }};
  for (const auto& [attribute, value] : wanted) {
    if (failure(cudaDeviceGetAttribute(value, attribute, ordinal), "cudaDeviceGetAttribute")) {
      return std::nullopt;
    }
  }
  return figures;
}

} // namespace ventaro::gpu::cuda
