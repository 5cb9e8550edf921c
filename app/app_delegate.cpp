#include "app/app_delegate.h"

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

  // One GPU at most: the load is meant for a single device.
  if (services_.gpuPlatform->copyAllDevices().size() >= 2) {
    application.terminate(this);
  }

  const bool loginStart = services_.launchedAsLoginItem;
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
  LaunchContext context{std::max<std::int64_t>(stressLevel, 0),
                        loginStart ? RunKind::fanReset : RunKind::benchmark, hideAtLogin,
                        shared_from_this()};
  WorkloadServices run{
      services_.application, services_.notificationCenter, services_.gpuPlatform, {}};
  application.asyncAfter(delay, [run = std::move(run), context = std::move(context)] {
    startWorkloadRun(run, context.stressLevel, context.runKind, context.hideStartNotice,
                     context.delegate);
  });
}

} // namespace ventaro
