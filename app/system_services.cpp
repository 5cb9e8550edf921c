#include "app/app_services.h"
#include "app/fan_anomaly.h"
#include "platform/system_notification_center.h"
#include "workload/cpu/cpu_device.h"

namespace ventaro {

AppServices systemAppServices(Application& application, bool launchedAsLoginItem,
                              std::ostream& terminal) {
  AppServices services;
  services.application = &application;
  services.userDefaults = std::make_shared<KeyFileUserDefaults>(defaultSettingsFilePath());
  NotificationCenterOptions notices;
  notices.terminal = &terminal;
  services.notificationCenter = makeNotificationCenter(notices);
  services.gpuPlatform = &gpu::systemGpuPlatform();
  // Reads the fans through the SMC driver in use: the Linux applesmc driver over /sys.
  services.hasFanAnomaly = [] { return hasFanAnomaly(); };
  services.readFans = readFans;
  services.makeCpuDevice = [] { return std::make_shared<gpu::cpu::CpuDevice>(); };
  services.launchedAsLoginItem = launchedAsLoginItem;
  return services;
}

} // namespace ventaro
