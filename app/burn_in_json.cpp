#include "app/burn_in_json.h"

#include "app/json_output.h"
#include "app/json_writer.h"

#include <algorithm>

namespace ventaro {
namespace {

const char* quantityName(telemetry::Quantity quantity) {
  switch (quantity) {
  case telemetry::Quantity::temperature:
    return "temperature_c";
  case telemetry::Quantity::clock:
    return "clock_mhz";
  case telemetry::Quantity::power:
    return "power_w";
  case telemetry::Quantity::fan:
    return "fan_rpm";
  case telemetry::Quantity::fanTarget:
    return "fan_target_rpm";
  case telemetry::Quantity::fanDuty:
    return "fan_duty_percent";
  }
  return "value";
}

void sensorsMember(JsonWriter& json, const telemetry::Sample& sample) {
  json.beginArray("sensors");
  for (const telemetry::Reading& reading : sample.readings) {
    json.beginObject()
        .member("source", reading.source)
        .member("label", reading.label)
        .decimal(quantityName(reading.quantity), reading.value, 1)
        .endObject();
  }
  json.endArray().beginArray("throttle_reasons");
  for (const std::string& reason : sample.throttleReasons) {
    json.member(nullptr, reason);
  }
  json.endArray();
}

// The run's totals as the members of a single run give them: every multiplication of every
// segment, the median as its figure, the worst repeatability and the accuracy of the first
// and the last products.
LoadOutcome totalsOf(const TimedRunSummary& run) {
  const BurnInSeries& series = *run.series;
  LoadOutcome outcome;
  outcome.dimension = series.dimension;
  outcome.gflops = run.medianGflops;
  for (const SegmentRecord& segment : series.segments) {
    outcome.seconds += segment.seconds;
    outcome.multiplications += segment.multiplications;
    outcome.mismatchedValues = std::max(outcome.mismatchedValues, segment.differingElements);
  }
  if (!series.segments.empty()) {
    outcome.check = outcome.mismatchedValues > 0 ? ResultCheck::failed : ResultCheck::passed;
    outcome.accuracyCheck = series.accuracyFailed() ? ResultCheck::failed : ResultCheck::passed;
  }
  outcome.valuesChecked = series.valuesChecked;
  outcome.valuesOutsideBound = series.valuesOutsideBound;
  outcome.failure = series.failure;
  return outcome;
}

const char* statusOf(const TimedRunSummary& run, const LoadOutcome& outcome) {
  if (run.series->stoppedBySignal != 0) {
    return "interrupted";
  }
  if (outcome.failed()) {
    return "load-failed";
  }
  return outcome.wrongResults() ? "wrong-results" : "ok";
}

void runObject(JsonWriter& json, const TimedRunSummary& run) {
  const BurnInSeries& series = *run.series;
  const LoadOutcome outcome = totalsOf(run);
  json.beginObject();
  writeRunMembers(json, RunKind::benchmark, run.device, outcome, statusOf(run, outcome),
                  outcome.failure);
  json.member("device_id", series.deviceId)
      .decimal("duration_s", series.requestedSeconds, 1)
      .decimal("run_s", series.segments.empty() ? 0.0 : series.segments.back().t, 1)
      .member("verdict", run.verdict)
      .member("median_gflops", run.medianGflops)
      .member("lowest_gflops", run.lowestGflops);
  if (run.peakGflops) {
    json.decimal("peak_gflops", *run.peakGflops, 1)
        .decimal("fraction_of_peak",
                 *run.peakGflops > 0 ? static_cast<double>(run.medianGflops) / *run.peakGflops
                                     : std::optional<double>(),
                 3);
  }
  json.decimal("sensor_read_s", series.sensorSeconds, 3).beginArray("segments");
  for (const SegmentRecord& segment : series.segments) {
    json.beginObject()
        .decimal("t", segment.t, 2)
        .decimal("seconds", segment.seconds, 3)
        .member("gflops", segment.gflops)
        .member("differing_elements", segment.differingElements);
    sensorsMember(json, segment.sensors);
    json.endObject();
  }
  json.endArray().endObject();
}

} // namespace

std::string timedRunJson(const std::vector<TimedRunSummary>& runs) {
  JsonWriter json;
  if (runs.size() == 1) {
    runObject(json, runs.front());
  } else {
    json.beginArray();
    for (const TimedRunSummary& run : runs) {
      runObject(json, run);
    }
    json.endArray();
  }
  return json.text();
}

} // namespace ventaro
