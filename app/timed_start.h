#pragma once

// A timed start from its devices to its end: the runs (see burn_in_run.h), then per device a
// verdict and a result notice, the JSON, the picture, and the exit status.

#include "app/burn_in_run.h"
#include "app/commands.h"
#include "platform/application.h"
#include "platform/notification_center.h"

#include <memory>

namespace ventaro {

struct TimedStart {
  BurnInRequest request;
  Application* application = nullptr;
  std::shared_ptr<NotificationCenter> center;
  RunOutput output;
  TelemetryMaker telemetryFor;
  /// Where the live line goes (standard error); none for no live line.
  std::FILE* live = nullptr;
};

/// Runs the timed start and returns its exit status: 128 + n when signal n stopped it, 1 when
/// any device failed, gave wrong results, or the picture could not be drawn, else 0. What was
/// measured is reported in every case.
int runTimedStart(const TimedStart& start);

} // namespace ventaro
