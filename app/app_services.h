#pragma once

// Everything the application delegate reaches outside itself, handed over when it is made.

#include "platform/application.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "workload/gpu_device.h"

#include <functional>
#include <memory>

namespace ventaro {

struct AppServices {
  Application* application = nullptr; // outlives the delegate
  std::shared_ptr<UserDefaults> userDefaults;
  std::shared_ptr<NotificationCenter> notificationCenter;
  gpu::GpuPlatform* gpuPlatform = nullptr; // outlives the delegate
  /// Whether the fans are stuck in the state a login start resets.
  std::function<bool()> hasFanAnomaly;
  /// Whether this process was started as a login item.
  bool launchedAsLoginItem = false;
};

/// The services of the real system for a process started as a login item or not.
AppServices systemAppServices(Application& application, bool launchedAsLoginItem);

} // namespace ventaro
