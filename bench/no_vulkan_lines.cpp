#include "bench/vulkan_lines.h"

#include <cstdio>

namespace ventaro::bench {

// Built where the Vulkan backend is not.
void printVulkanLines(int, const CountFor&, const LoadMeasure&, const NvidiaReference&) {
  std::printf("# vulkan: backend not built\n");
}

} // namespace ventaro::bench
