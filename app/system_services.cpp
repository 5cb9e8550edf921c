#include "app/app_services.h"
#include "platform/system_notification_center.h"

namespace ventaro {
namespace {

// No SMC access exists yet, so no anomaly can be seen: a login start ends quietly, as on a
// machine without an SMC.
bool fanAnomalyCheck() {
  return false;
}

} // namespace

AppServices systemAppServices(Application& application, bool launchedAsLoginItem) {
  AppServices services;
  services.application = &application;
  services.userDefaults = std::make_shared<KeyFileUserDefaults>(defaultSettingsFilePath());
  services.notificationCenter = makeSystemNotificationCenter();
  services.gpuPlatform = &gpu::systemGpuPlatform();
  services.hasFanAnomaly = fanAnomalyCheck;
  services.launchedAsLoginItem = launchedAsLoginItem;
  return services;
}

} // namespace ventaro
