#include "app/burn_in_run.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stop_token>
#include <thread>

namespace ventaro {
namespace {

// The series of every device, shared between their threads and the live view.
struct SharedSeries {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<BurnInSeries> series;
  std::vector<char> stopped; // per series: whether a stop ended it
  std::size_t running = 0;
};

// The body of one device's thread: its sensors, its timed run, its series.
void runOne(const BurnInDevice& entry, std::size_t index, const TelemetryMaker& telemetryFor,
            const BurnInOptions& options, const std::stop_token& stop, SharedSeries& shared) {
  std::optional<std::string> failure;
  BurnInResult result;
  try {
    telemetry::Telemetry sensors =
        telemetryFor ? telemetryFor(*entry.device, index == 0) : telemetry::Telemetry{};
    telemetry::Sample latest;
    double sensorSeconds = 0.0;
    BurnInHooks hooks;
    if (!sensors.empty()) {
      hooks.whileBusy = [&] {
        const double before = steadySeconds();
        latest = sensors.sample();
        sensorSeconds += steadySeconds() - before;
      };
    }
    hooks.onSegment = [&](const BurnInSegment& segment) {
      const std::lock_guard lock(shared.mutex);
      BurnInSeries& series = shared.series[index];
      series.segments.push_back(SegmentRecord{segment, latest});
      series.sensorSeconds = sensorSeconds;
    };
    result = runBurnIn(*entry.device, options, stop, hooks);
  } catch (const std::exception& error) {
    // Memory for a record or a thread's resources ran out: this device ends, the others
    // go on.
    failure = std::string("the run ended: ") + error.what();
  }
  const std::lock_guard lock(shared.mutex);
  BurnInSeries& series = shared.series[index];
  series.dimension = result.dimension;
  series.valuesChecked = result.valuesChecked;
  series.valuesOutsideBound = result.valuesOutsideBound;
  series.failure = failure ? failure : result.failure;
  shared.stopped[index] = static_cast<char>(result.stopped);
  --shared.running;
  shared.changed.notify_all();
}

} // namespace

std::vector<BurnInSeries> runTimedLoads(const BurnInRequest& request,
                                        const TelemetryMaker& telemetryFor,
                                        const std::function<int()>& receivedSignal,
                                        const LiveOutput& live, BurnInOptions options) {
  options.seconds = request.seconds;
  SharedSeries shared;
  for (const BurnInDevice& entry : request.devices) {
    BurnInSeries series;
    series.deviceId = entry.id;
    series.deviceName = entry.name;
    series.requestedSeconds = request.seconds;
    shared.series.push_back(std::move(series));
  }
  shared.stopped.assign(shared.series.size(), 0);
  std::stop_source stop;
  std::vector<std::thread> threads;
  {
    const std::lock_guard lock(shared.mutex);
    for (std::size_t i = 0; i < request.devices.size(); ++i) {
      try {
        threads.emplace_back(runOne, std::cref(request.devices[i]), i, std::cref(telemetryFor),
                             std::cref(options), stop.get_token(), std::ref(shared));
        ++shared.running;
      } catch (const std::system_error& error) {
        // No thread under a thread limit: that device does not run, the others do.
        shared.series[i].failure = std::string("cannot start its thread: ") + error.what();
      }
    }
  }

  const auto refresh = std::chrono::duration<double>(live.terminal ? live.refresh : 0.25);
  double lastJournalLine = steadySeconds();
  std::size_t lastWidth = 0;
  int signal = 0;
  std::unique_lock lock(shared.mutex);
  while (shared.running > 0) {
    shared.changed.wait_for(lock, refresh);
    if (signal == 0 && receivedSignal && (signal = receivedSignal()) != 0) {
      stop.request_stop();
    }
    if (live.stream == nullptr || !live.line || shared.running == 0) {
      continue;
    }
    const std::string text = live.line(shared.series);
    if (live.terminal) {
      // Redrawn in place: back to the line's start, the text, spaces over a longer old one.
      std::fprintf(live.stream, "\r%s%*s", text.c_str(),
                   static_cast<int>(lastWidth > text.size() ? lastWidth - text.size() : 0), "");
      std::fflush(live.stream);
      lastWidth = text.size();
    } else if (steadySeconds() - lastJournalLine >= live.journalInterval) {
      std::fprintf(live.stream, "%s\n", text.c_str());
      std::fflush(live.stream);
      lastJournalLine = steadySeconds();
    }
  }
  lock.unlock();
  for (std::thread& thread : threads) {
    thread.join();
  }
  if (live.stream != nullptr && live.terminal && lastWidth > 0) {
    std::fprintf(live.stream, "\n");
    std::fflush(live.stream);
  }
  if (signal == 0 && receivedSignal) {
    signal = receivedSignal();
  }
  for (std::size_t i = 0; i < shared.series.size(); ++i) {
    shared.series[i].stoppedBySignal = shared.stopped[i] != 0 ? signal : 0;
  }
  return std::move(shared.series);
}

} // namespace ventaro
