#include "app/app_services.h"
#include "app/fan_anomaly.h"
#include "app/fan_reset_report.h"
#include "platform/notification_center_on_first_use.h"
#include "platform/system_notification_center.h"
#include "smc/applesmc/applesmc_driver.h"
#include "smc/smc_access.h"
#include "telemetry/telemetry_for.h"
#include "workload/cpu/cpu_device.h"

#include <iostream>
#include <memory>
#include <utility>

namespace ventaro {

AppServices systemAppServices(Application& application, bool launchedAsLoginItem,
                              std::ostream& terminal) {
  AppServices services;
  services.application = &application;
  services.userDefaults = std::make_shared<KeyFileUserDefaults>(defaultSettingsFilePath());
  NotificationCenterOptions notices;
  notices.terminal = &terminal;
  services.notificationCenter = std::make_shared<NotificationCenterOnFirstUse>(
      [notices] { return makeNotificationCenter(notices); });
  services.gpuPlatform = &gpu::systemGpuPlatform();
  // The fan check reads the fans through the Linux applesmc driver over /sys.
  SMCAccess::setDriver(applesmc::makeSystemDriver());
  // The check's reading is kept: after a fan reset it is the "before" of the report.
  auto checked = std::make_shared<FanReading>();
  services.hasFanAnomaly = [checked] {
    *checked = readFans();
    return fansAreStuck(*checked);
  };
  // What ends the check under way, kept where a termination signal can reach it.
  auto interrupt = std::make_shared<std::function<void()>>();
  services.followFanReset = [&application, checked, interrupt](
                                RunReport report, std::function<void(const RunReport&)> end) {
    *interrupt = followFanReset(
        application, [] { return readFans(); }, *checked, std::move(report), std::move(end),
        std::cerr);
  };
  services.interruptFanReset = [interrupt] {
    if (const std::function<void()> now = std::exchange(*interrupt, {})) {
      now();
    }
  };
  services.readFans = readFans;
  services.makeCpuDevice = [] { return std::make_shared<gpu::cpu::CpuDevice>(); };
  services.telemetryFor = [](const gpu::Device& device, bool machineSensors) {
    telemetry::Target target;
    if (std::optional<gpu::PciIdentity> pci = device.pciIdentity(); pci && !device.isProcessor()) {
      target.pci = std::move(pci);
    }
    target.processor = device.isProcessor();
    target.smc = machineSensors;
    return telemetry::telemetryFor(target);
  };
  services.launchedAsLoginItem = launchedAsLoginItem;
  return services;
}

} // namespace ventaro
