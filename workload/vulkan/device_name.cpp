#include "workload/vulkan/device_name.h"

namespace ventaro::gpu::vulkan {

std::string deviceNameWithoutDriverTag(std::string_view name) {
  if (name.empty() || name.back() != ')') {
    return std::string(name);
  }
  // The "(" that the final ")" closes, counting nested pairs.
  int depth = 0;
  std::size_t open = name.size();
  for (std::size_t i = name.size(); i-- > 0;) {
    depth += name[i] == ')' ? 1 : name[i] == '(' ? -1 : 0;
    if (depth == 0) {
      open = i;
      break;
    }
  }
  if (open == name.size()) {
    return std::string(name);
  }
  std::string_view kept = name.substr(0, open);
  while (!kept.empty() && kept.back() == ' ') {
    kept.remove_suffix(1);
  }
  return kept.empty() ? std::string(name) : std::string(kept);
}

} // namespace ventaro::gpu::vulkan
