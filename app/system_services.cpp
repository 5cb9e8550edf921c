#include "app/app_services.h"
#include "app/fan_anomaly.h"
#include "platform/system_notification_center.h"
#include "smc/applesmc/applesmc_driver.h"
#include "smc/smc_access.h"

namespace ventaro {

AppServices systemAppServices(Application& application, bool launchedAsLoginItem) {
  AppServices services;
  services.application = &application;
  services.userDefaults = std::make_shared<KeyFileUserDefaults>(defaultSettingsFilePath());
  services.notificationCenter = makeSystemNotificationCenter();
  services.gpuPlatform = &gpu::systemGpuPlatform();
  // The fan check reads the fans through the Linux applesmc driver over /sys.
  SMCAccess::setDriver(applesmc::makeSystemDriver());
  services.hasFanAnomaly = hasFanAnomaly;
  services.launchedAsLoginItem = launchedAsLoginItem;
  return services;
}

} // namespace ventaro
