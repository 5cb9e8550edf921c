#include "workload/launch_plan.h"

namespace ventaro::gpu {

std::vector<GraphLaunch> launchPlan(std::int64_t count) {
  std::vector<GraphLaunch> plan;
  if (count < 1) {
    return plan;
  }
  const std::int64_t largest = std::int64_t{1} << maxGraphLevel;
  if (count >= largest) {
    plan.push_back({maxGraphLevel, count / largest});
  }
  for (int level = maxGraphLevel - 1; level >= 0; --level) {
    if (((count >> level) & 1) != 0) {
      plan.push_back({level, 1});
    }
  }
  return plan;
}

} // namespace ventaro::gpu
