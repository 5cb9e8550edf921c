#pragma once

// Timed runs on one or several devices at once: one thread per device, each with its own
// sensors, segments and end; the calling thread shows a live line and watches for a
// termination signal, which stops every run within one submission.

#include "app/burn_in_series.h"
#include "telemetry/telemetry.h"
#include "workload/burn_in.h"
#include "workload/gpu_device.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventaro {

/// One device of a timed run.
struct BurnInDevice {
  std::string id;   // as --device names it
  std::string name; // as its notice is titled
  std::shared_ptr<gpu::Device> device;
};

/// What a timed start asks for.
struct BurnInRequest {
  std::vector<BurnInDevice> devices;
  double seconds = 60.0;
  std::optional<std::string> plotPath;
};

/// The sensors to read for a device; with `machineSensors` also the machine's own (the fans),
/// which one device of a run reads for all.
using TelemetryMaker = std::function<telemetry::Telemetry(const gpu::Device&, bool machineSensors)>;

/// Where the live line goes: on a terminal one line redrawn in place every `refresh`
/// seconds, elsewhere (a journal, a file) one whole line every `journalInterval` seconds.
struct LiveOutput {
  std::FILE* stream = nullptr; // none: no live line
  bool terminal = false;
  double refresh = 0.5;
  double journalInterval = 10.0;
  /// The line for the runs so far.
  std::function<std::string(const std::vector<BurnInSeries>&)> line;
};

/// Runs `request` to its end and returns one series per device, in the request's order.
/// `receivedSignal` (the number of a termination signal that came, else 0) is looked at
/// every refresh; a signal stops every run and is noted in each series.
std::vector<BurnInSeries> runTimedLoads(const BurnInRequest& request,
                                        const TelemetryMaker& telemetryFor,
                                        const std::function<int()>& receivedSignal,
                                        const LiveOutput& live, BurnInOptions options = {});

} // namespace ventaro
