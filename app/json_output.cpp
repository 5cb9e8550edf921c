#include "app/json_output.h"

#include "app/commands.h"
#include "app/json_writer.h"
#include "app/sensors_command.h"
#include "platform/display_text.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <json-glib/json-glib.h>
#include <limits>
#include <optional>

namespace ventaro {
namespace {

const char* kindName(RunKind runKind) {
  return runKind == RunKind::benchmark ? "benchmark" : "fan-reset";
}

const char* checkName(ResultCheck check) {
  switch (check) {
  case ResultCheck::passed:
    return "passed";
  case ResultCheck::failed:
    return "failed";
  case ResultCheck::notRun:
    break;
  }
  return "not-run";
}

void fanResetMembers(JsonWriter& json, const FanResetCheck& check);

std::string runText(RunKind runKind, const gpu::Device* device, const LoadOutcome& outcome,
                    const char* status, const std::optional<std::string>& reason,
                    const std::optional<FanResetCheck>& fanReset = std::nullopt) {
  JsonWriter json;
  json.beginObject();
  writeRunMembers(json, runKind, device, outcome, status, reason);
  if (fanReset) {
    fanResetMembers(json, *fanReset);
  }
  return json.endObject().text();
}

std::optional<std::string> pciAddressOf(const gpu::Device& device) {
  const std::optional<gpu::PciIdentity> pci = device.pciIdentity();
  return pci && !pci->address.empty() ? std::optional(pci->address) : std::nullopt;
}

const char* statusOf(const LoadOutcome& outcome) {
  if (outcome.failed()) {
    return "load-failed";
  }
  return outcome.wrongResults() ? "wrong-results" : "ok";
}

void fanObject(JsonWriter& json, const FanValues& fan) {
  json.beginObject()
      .member("index", fan.index)
      .member("name", fan.name)
      .member("minimum_rpm", fan.minimum)
      .member("maximum_rpm", fan.maximum)
      .member("current_rpm", fan.current)
      .endObject();
}

// The fans before and after a fan reset (each as --check-fans reads them) and its result.
void fanResetMembers(JsonWriter& json, const FanResetCheck& check) {
  json.beginArray("fans_before");
  for (const FanValues& fan : check.before.fans) {
    fanObject(json, fan);
  }
  json.endArray();
  if (check.after) {
    json.beginArray("fans_after");
    for (const FanValues& fan : check.after->fans) {
      fanObject(json, fan);
    }
    json.endArray();
  } else {
    json.member("fans_after", std::optional<std::string>());
  }
  json.member("fan_reset", fanResetName(check.result));
}

} // namespace

void writeRunMembers(JsonWriter& json, RunKind runKind, const gpu::Device* device,
                     const LoadOutcome& outcome, const char* status,
                     const std::optional<std::string>& reason) {
  json.member("schema_version", std::int64_t{kJsonSchemaVersion})
      .member("kind", kindName(runKind))
      .member("status", status)
      .member("reason", reason);
  if (device != nullptr) {
    json.beginObject("device")
        .member("backend", device->backend())
        .member("name", device->name())
        .member("memory_bytes", device->recommendedMaxWorkingSetSize())
        .endObject();
  } else {
    json.member("device", std::optional<std::string>());
  }
  json.member("precision", "fp32")
      .member("dimension", outcome.dimension)
      .member("multiplications", outcome.multiplications)
      .member("seconds", outcome.seconds)
      .member("gflops", outcome.gflops)
      .member("result_check", checkName(outcome.check))
      .member("mismatched_values", outcome.mismatchedValues)
      .member("accuracy_check", checkName(outcome.accuracyCheck))
      .member("values_checked", outcome.valuesChecked)
      .member("values_outside_bound", outcome.valuesOutsideBound);
}

std::string runJson(const RunReport& report) {
  return runText(report.runKind, report.device.get(), report.outcome, statusOf(report.outcome),
                 report.outcome.failure, report.fanReset);
}

std::string refusedRunJson(RunKind runKind, const std::string& reason) {
  return runText(runKind, nullptr, LoadOutcome{}, "refused", reason);
}

std::string devicesJson(const std::vector<NamedDevice>& devices) {
  JsonWriter json;
  json.beginArray();
  for (const NamedDevice& named : devices) {
    json.beginObject()
        .member("id", named.id)
        .member("backend", named.device->backend())
        .member("name", named.device->name())
        .member("memory_bytes", named.device->recommendedMaxWorkingSetSize())
        .member("pci_address", pciAddressOf(*named.device))
        .member("peak_gflops", wholePeakGflops(*named.device))
        .endObject();
  }
  return json.endArray().text();
}

std::string fanCheckJson(const FanReading& reading) {
  JsonWriter json;
  json.beginObject()
      .member("schema_version", std::int64_t{kJsonSchemaVersion})
      .member("kind", "fan-check")
      .member("smc_available", !reading.openFailure.has_value())
      .member("reason", reading.openFailure
                            ? std::optional<std::string>(smcProblem(*reading.openFailure))
                            : std::nullopt)
      .member("fan_count", reading.count);
  json.beginArray("fans");
  for (const FanValues& fan : reading.fans) {
    fanObject(json, fan);
  }
  json.endArray().beginArray("terms");
  for (const FanRuleTerm& term : fanRuleTerms(reading)) {
    json.beginObject().member("term", term.text).member("holds", term.holds).endObject();
  }
  return json.endArray().member("stuck", fansAreStuck(reading)).endObject().text();
}

std::string sensorsJson(const SensorsReading& reading) {
  JsonWriter json;
  json.beginObject()
      .member("schema_version", std::int64_t{kJsonSchemaVersion})
      .member("kind", "sensors")
      .member("smc_available", !reading.openFailure.has_value())
      .member("reason", reading.openFailure
                            ? std::optional<std::string>(smcProblem(*reading.openFailure))
                            : std::nullopt)
      .member("unit", unitName(reading.unit))
      .beginArray("sensors");
  for (const SensorValue& sensor : reading.sensors) {
    json.beginObject()
        .member("name", sensor.name)
        .member("key", fourCharCodeBytes(sensor.code))
        .decimal(unitName(reading.unit), sensor.value, 2)
        .member("read_ok", sensor.value.has_value())
        .endObject();
  }
  return json.endArray().endObject().text();
}

} // namespace ventaro
