#pragma once

// The workload run: announce the load with a start notice, run it five seconds later, post
// the measured throughput in a benchmark run, and end the process.

#include "app/fan_reset_report.h"
#include "platform/application.h"
#include "platform/notification_center.h"
#include "workload/gpu_device.h"
#include "workload/load_outcome.h"
#include "workload/matrix_load.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace ventaro {

/// What a start asks for: a login start resets stuck fans, a user start measures throughput.
/// Carried as a Boolean where one is needed: true is `benchmark`.
enum class RunKind : bool { fanReset = false, benchmark = true };

inline constexpr const char* kStartNoticeIdentifier = "Ventaro Start";
inline constexpr const char* kResultNoticeIdentifier = "Ventaro Result";

/// Seconds between posting the start notice and running the load.
inline constexpr double kFinishDelaySeconds = 5.0;

/// Order of the square matrices the load multiplies.
inline constexpr std::int64_t kMatrixDimension = 4096;

/// Number of multiplications for a device's recommended working set and a stress level in
/// percent: one per whole 64 MiB unit at 100 %, truncated, at least 1, at most
/// maxLoadRepetitions. The product of units and stress level saturates instead of overflowing.
std::int64_t workloadRepetitions(std::uint64_t recommendedWorkingSet, std::int64_t stressLevel);

/// What a finished run reports to whoever started it (for machine-readable output).
struct RunReport {
  RunKind runKind = RunKind::benchmark;
  std::shared_ptr<gpu::Device> device; // null where the platform had no device
  LoadOutcome outcome;
  /// After a fan-reset run: whether the fans came down.
  std::optional<FanResetCheck> fanReset;
};

/// Takes a finished fan-reset run over and, when done with it, hands its report on to `end`,
/// which reports the run and requests termination.
using FanResetFollower =
    std::function<void(RunReport report, std::function<void(const RunReport&)> end)>;

/// The facilities the run uses. The application and the GPU platform outlive the run.
struct WorkloadServices {
  Application* application = nullptr;
  std::shared_ptr<NotificationCenter> notificationCenter;
  gpu::GpuPlatform* gpuPlatform = nullptr;
  /// Called once by the finishing step, after the notices and before termination; may be
  /// empty.
  std::function<void(const RunReport&)> reportRun;
  /// Follows a fan-reset run before it ends; may be empty.
  FanResetFollower followFanReset;
  /// A timed run, run instead of the single load of a benchmark start; it posts its own
  /// notices and output and returns the exit status. May be empty.
  std::function<int()> timedRun;
};

/// What the starting step hands to the finishing step.
struct WorkloadPlan {
  std::shared_ptr<NotificationCenter> center;
  std::shared_ptr<ApplicationDelegate> delegate; // sender of the final termination request
  std::shared_ptr<gpu::Device> device;           // null where the platform has no device
  std::int64_t dimension = kMatrixDimension;
  std::int64_t repetitions = 1;
  RunKind runKind = RunKind::benchmark;
  std::shared_ptr<NotificationContent> content;
  Application* application = nullptr;
  gpu::GpuPlatform* gpuPlatform = nullptr;
  std::function<void(const RunReport&)> reportRun;
  FanResetFollower followFanReset;
  std::function<int()> timedRun;
};

/// The starting step: withdraws an old start notice, asks for permission, sizes the load on
/// the default device, posts the start notice unless it is hidden, and schedules the
/// finishing step kFinishDelaySeconds after posting.
void startWorkloadRun(const WorkloadServices& services, std::int64_t stressLevel, RunKind runKind,
                      bool hideStartNotice, std::shared_ptr<ApplicationDelegate> delegate);

/// The finishing step: withdraws the start notice, runs the load, posts the result in a
/// benchmark run, lets `followFanReset` follow a fan-reset run, and requests termination. Without a
/// device the load is skipped and the figure is 0.
void finishWorkloadRun(const WorkloadPlan& plan);

} // namespace ventaro
