#pragma once

// What the launch sequence hands to the delayed workload run.

#include "workload/workload_run.h"

#include <cstdint>
#include <memory>

namespace ventaro {

class AppDelegate;

struct LaunchContext {
  std::int64_t stressLevel = 0; // the StressLevel setting, never negative
  RunKind runKind = RunKind::benchmark;
  bool hideStartNotice = false;          // HideAtLogin at a login start, false at a user start
  std::shared_ptr<AppDelegate> delegate; // kept alive until the work item has run
};

} // namespace ventaro
