#include "app/app_services.h"
#include "app/fan_anomaly.h"
#include "platform/notification_center_on_first_use.h"
#include "platform/system_notification_center.h"

namespace ventaro {

AppServices systemAppServices(Application& application, bool launchedAsLoginItem) {
  AppServices services;
  services.application = &application;
  services.userDefaults = std::make_shared<KeyFileUserDefaults>(defaultSettingsFilePath());
  services.notificationCenter =
      std::make_shared<NotificationCenterOnFirstUse>(makeSystemNotificationCenter);
  services.gpuPlatform = &gpu::systemGpuPlatform();
  // Reads the fans through the SMC driver in use: the Linux applesmc driver over /sys.
  services.hasFanAnomaly = hasFanAnomaly;
  services.launchedAsLoginItem = launchedAsLoginItem;
  return services;
}

} // namespace ventaro
