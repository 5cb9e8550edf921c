#pragma once

// The application delegate: the launch sequence that decides whether this start goes on,
// reads the settings and schedules the workload run.

#include "app/app_services.h"
#include "platform/application.h"

#include <memory>

namespace ventaro {

inline constexpr const char* kDelayAtLoginKey = "DelayAtLogin";
inline constexpr const char* kHideAtLoginKey = "HideAtLogin";
inline constexpr const char* kStressLevelKey = "StressLevel";

/// Made once per process, always owned by a shared pointer: the scheduled run keeps it alive.
class AppDelegate final : public ApplicationDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
public:
  explicit AppDelegate(AppServices services);

  /// Runs the launch sequence.
  void applicationDidFinishLaunching() override;
  /// Nothing to clean up: the run ends the process.
  void applicationWillTerminate() override;

  /// The launch sequence: the device guard, the fan check at a login start, the settings, and
  /// the workload run scheduled after the login delay (at once at a user start). A termination
  /// request made on the way does not end the sequence; the application carries it out after.
  /// The guard refuses a platform with two or more GPUs (exit status 3): a run is meant for
  /// one device, and a platform with one chosen shows only that one.
  void performLaunch();

private:
  AppServices services_;
};

} // namespace ventaro
