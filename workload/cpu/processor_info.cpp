#include "workload/cpu/processor_info.h"

#include <fstream>
#include <sched.h>
#include <thread>

namespace ventaro::gpu::cpu {
namespace {

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

} // namespace

std::string modelNameFromCpuInfo(std::istream& cpuInfo) {
  std::string line;
  while (std::getline(cpuInfo, line)) {
    const auto colon = line.find(':');
    if (colon != std::string::npos && trimmed(line.substr(0, colon)) == "model name") {
      return trimmed(line.substr(colon + 1));
    }
  }
  return {};
}

std::string processorModelName(const std::string& path) {
  std::ifstream file(path);
  std::string name = file ? modelNameFromCpuInfo(file) : std::string();
  return name.empty() ? std::string("CPU") : name;
}

int availableProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) {
      return count;
    }
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

} // namespace ventaro::gpu::cpu
