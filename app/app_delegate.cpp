#include "app/app_delegate.h"

#include "app/command_line.h"

#include <algorithm>
#include <utility>

namespace ventaro {

AppDelegate::AppDelegate(AppServices services) : services_(std::move(services)) {}

void AppDelegate::applicationDidFinishLaunching() {
  performLaunch();
}

void AppDelegate::applicationWillTerminate() {}

void AppDelegate::performLaunch() {
  Application& application = *services_.application;

  const bool loginStart = services_.launchedAsLoginItem;
  const RunKind runKind = loginStart ? RunKind::fanReset : RunKind::benchmark;

  // One GPU at most: the load is meant for a single device.
  if (services_.gpuPlatform->gpuCount() >= 2) {
    application.setExitStatus(kExitNothingToRunOn);
    if (services_.reportRefusal) {
      services_.reportRefusal(runKind, "this machine has two or more GPUs; choose one with "
                                       "--device (see --list-devices)");
    }
    application.terminate(this);
  }

  if (loginStart && !services_.hasFanAnomaly()) {
    application.terminate(this);
  }

  UserDefaults& defaults = *services_.userDefaults;
  defaults.registerDefaults(kDelayAtLoginKey, std::int64_t{5});
  const std::int64_t delayAtLogin = defaults.integerForKey(kDelayAtLoginKey);
  defaults.registerDefaults(kHideAtLoginKey, false);
  const bool hideAtLogin = loginStart && defaults.boolForKey(kHideAtLoginKey);
  defaults.registerDefaults(kStressLevelKey, std::int64_t{100});
  const std::int64_t stressLevel = defaults.integerForKey(kStressLevelKey);

  const double delay =
      loginStart ? static_cast<double>(std::max<std::int64_t>(delayAtLogin, 0)) : 0.0;
  const std::int64_t stress = std::max<std::int64_t>(stressLevel, 0);
  WorkloadServices run{services_.application, services_.notificationCenter, services_.gpuPlatform,
                       services_.reportRun,   services_.followFanReset,     services_.timedRun};
  // The work item keeps the delegate alive until it has run.
  application.asyncAfter(
      delay, [run = std::move(run), stress, runKind, hideAtLogin, delegate = shared_from_this()] {
        startWorkloadRun(run, stress, runKind, hideAtLogin, delegate);
      });
}

} // namespace ventaro
