#pragma once

// Everything the application delegate reaches outside itself, handed over when it is made.

#include "app/fan_anomaly.h"
#include "app/workload_run.h"
#include "platform/application.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "telemetry/telemetry.h"
#include "workload/gpu_device.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

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
  /// Told once when the start is refused before its run (two or more GPUs, none chosen); may
  /// be empty.
  std::function<void(RunKind, const std::string& reason)> reportRefusal;
  /// Handed to the workload run, which tells it what the run did; may be empty.
  std::function<void(const RunReport&)> reportRun;
  /// Handed to the workload run: follows a fan-reset run (see fan_reset_report.h); may be
  /// empty.
  FanResetFollower followFanReset;
  /// Ends a fan-reset check under way at once, with what it has read (see followFanReset);
  /// does nothing where none is. May be empty.
  std::function<void()> interruptFanReset;
  /// One pass over the fans (with `everyFan`, all of them), for `--check-fans`.
  std::function<FanReading(bool everyFan)> readFans;
  /// A timed run that replaces the single load of a user start (see WorkloadServices); may
  /// be empty.
  std::function<int()> timedRun;
  /// The sensors to read for a device during a timed run (with `machineSensors`, also the
  /// machine's own: the SMC's fans and temperatures); may be empty.
  std::function<telemetry::Telemetry(const gpu::Device&, bool machineSensors)> telemetryFor;
  /// The CPU device, made when asked for (it is not among the platform's GPUs).
  std::function<std::shared_ptr<gpu::Device>()> makeCpuDevice;
};

/// The services of the real system for a process started as a login item or not. Notices
/// that cannot reach a notification server are written to `terminal`.
AppServices systemAppServices(Application& application, bool launchedAsLoginItem,
                              std::ostream& terminal);

} // namespace ventaro
