#include "workload/gpu_display_name.h"

#include <memory>

namespace ventaro {
namespace {

// Removes every non-overlapping occurrence of `mark`, scanning once from the start; text
// that a removal brings together is not searched again.
std::string removeAll(std::string_view text, std::string_view mark) {
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at = text.find(mark); at != std::string_view::npos; at = text.find(mark, from)) {
    out.append(text.substr(from, at - from));
    from = at + mark.size();
  }
  out.append(text.substr(from));
  return out;
}

} // namespace

std::string displayNameFor(std::string_view name, std::uint64_t size) {
  std::string cleaned = removeAll(name, "(R)");
  cleaned = removeAll(cleaned, "(TM)");
  cleaned = removeAll(cleaned, "AMD ");
  if ((size & 0x3FF00000u) != 0) {
    return cleaned + ' ' + std::to_string(size >> 20) + " MB";
  }
  return cleaned + ' ' + std::to_string(size >> 30) + " GB";
}

std::string gpuDisplayName(gpu::GpuPlatform& platform) {
  const std::shared_ptr<gpu::Device> device = platform.createSystemDefaultDevice();
  if (!device) {
    return displayNameFor("", 0);
  }
  const std::uint64_t size = device->recommendedMaxWorkingSetSize();
  return displayNameFor(device->name(), size);
}

std::string gpuDisplayName() {
  return gpuDisplayName(gpu::systemGpuPlatform());
}

} // namespace ventaro
