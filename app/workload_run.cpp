#include "app/workload_run.h"

#include "platform/display_text.h"
#include "workload/gpu_display_name.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

namespace ventaro {
namespace {

constexpr int kWorkingSetUnitShift = 26; // 64 MiB, one 4096 × 4096 FP32 matrix

std::int64_t saturatingProduct(std::int64_t a, std::int64_t b) {
  std::int64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) {
    return (a < 0) != (b < 0) ? std::numeric_limits<std::int64_t>::min()
                              : std::numeric_limits<std::int64_t>::max();
  }
  return product;
}

NotificationContent startContent(RunKind runKind) {
  if (runKind == RunKind::benchmark) {
    return {"Compute Benchmark", "Ventaro will test FP32 performance.", true};
  }
  return {"High Fan Speed Detected", "Ventaro will try to reset the fans.", true};
}

// Reports the run and requests termination, with status 1 for a failed load or wrong results.
void endWorkloadRun(const WorkloadPlan& plan, const RunReport& report) {
  if (plan.reportRun) {
    plan.reportRun(report);
  }
  if (report.outcome.failed() || report.outcome.wrongResults()) {
    plan.application->setExitStatus(1);
  }
  plan.application->terminate(plan.delegate.get());
}

} // namespace

std::int64_t workloadRepetitions(std::uint64_t recommendedWorkingSet, std::int64_t stressLevel) {
  const auto units = static_cast<std::int64_t>(recommendedWorkingSet >> kWorkingSetUnitShift);
  // The load caps what it encodes; the sizing only keeps the count at least 1.
  return std::max<std::int64_t>(saturatingProduct(units, stressLevel) / 100, 1);
}

void startWorkloadRun(const WorkloadServices& services, std::int64_t stressLevel, RunKind runKind,
                      bool hideStartNotice, std::shared_ptr<ApplicationDelegate> delegate) {
  const std::shared_ptr<NotificationCenter> center = services.notificationCenter;
  center->removeDeliveredNotifications({kStartNoticeIdentifier});
  center->requestAuthorization();

  std::shared_ptr<gpu::Device> device = services.gpuPlatform->createSystemDefaultDevice();
  const std::uint64_t workingSet = device ? device->recommendedMaxWorkingSetSize() : 0;

  auto content = std::make_shared<NotificationContent>(startContent(runKind));
  if (!hideStartNotice) {
    // The server's answer is awaited during the wait below, so that a slow one delays nothing.
    center->addWithoutWaiting(kStartNoticeIdentifier, *content);
  }

  WorkloadPlan plan{center,
                    std::move(delegate),
                    std::move(device),
                    kMatrixDimension,
                    workloadRepetitions(workingSet, stressLevel),
                    runKind,
                    std::move(content),
                    services.application,
                    services.gpuPlatform,
                    services.reportRun,
                    services.followFanReset,
                    runKind == RunKind::benchmark ? services.timedRun : nullptr};
  // Asked for only now, so that the five seconds count from the moment the notice was posted.
  services.application->asyncAfter(kFinishDelaySeconds,
                                   [plan = std::move(plan)] { finishWorkloadRun(plan); });
}

void finishWorkloadRun(const WorkloadPlan& plan) {
  plan.center->removeDeliveredNotifications({kStartNoticeIdentifier});

  if (plan.timedRun) {
    // A timed run stops on a termination signal by itself and keeps what it measured, so the
    // signal waits for the main queue meanwhile.
    const int status = plan.timedRun();
    if (status != 0) {
      plan.application->setExitStatus(status);
    }
    plan.application->terminate(plan.delegate.get());
    return;
  }
  // The load keeps the main queue busy; a termination signal already seen ends the run here,
  // and one that comes during the load ends the process at once.
  if (!plan.application->beginBlockingWork()) {
    return;
  }
  LoadOutcome outcome;
  if (plan.device) {
    outcome = runMatrixLoad(*plan.device, plan.dimension, plan.repetitions);
    plan.application->endBlockingWork();
  } else {
    plan.application->endBlockingWork();
    outcome.dimension = plan.dimension;
    outcome.failure = "no compute device";
  }

  if (plan.runKind == RunKind::benchmark) {
    plan.content->title = gpuDisplayName(*plan.gpuPlatform);
    plan.content->body = "Ventaro measured " + std::to_string(outcome.gflops) + " GFLOPS.";
    if (outcome.wrongResults()) {
      plan.content->body += " The results were wrong.";
    }
    plan.center->add(kResultNoticeIdentifier, *plan.content);
  }
  if (outcome.failed()) {
    std::fprintf(stderr, "ventaro: load failed: %s\n", displayText(*outcome.failure).c_str());
  } else if (outcome.wrongResults()) {
    if (outcome.check == ResultCheck::failed) {
      std::fprintf(stderr,
                   "ventaro: the results were wrong: %lld values of the last product "
                   "differed from the first\n",
                   static_cast<long long>(outcome.mismatchedValues));
    }
    if (outcome.accuracyCheck == ResultCheck::failed) {
      std::fprintf(stderr,
                   "ventaro: the results were wrong: %lld of %lld values of the product lay "
                   "outside the FP32 error bound of the exact product\n",
                   static_cast<long long>(outcome.valuesOutsideBound),
                   static_cast<long long>(outcome.valuesChecked));
    }
  }

  RunReport report{plan.runKind, plan.device, outcome, std::nullopt};
  if (plan.runKind == RunKind::fanReset && plan.followFanReset) {
    plan.followFanReset(std::move(report),
                        [plan](const RunReport& followed) { endWorkloadRun(plan, followed); });
    return;
  }
  endWorkloadRun(plan, report);
}

} // namespace ventaro
