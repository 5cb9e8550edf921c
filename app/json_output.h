#pragma once

// What `--json` prints: one JSON object (or array) per start, written by json-glib. Every
// text from outside goes through displayText, so the output is valid UTF-8.

#include "app/device_choice.h"
#include "app/fan_anomaly.h"
#include "app/sensors_command.h"
#include "app/workload_run.h"

#include <optional>
#include <string>
#include <vector>

namespace ventaro {

/// Version of the objects below; raised when a key changes meaning or goes away.
inline constexpr int kJsonSchemaVersion = 1;

class JsonWriter;

/// The members every run object has, in one order, into an object under way; `device` may be
/// null.
void writeRunMembers(JsonWriter& json, RunKind runKind, const gpu::Device* device,
                     const LoadOutcome& outcome, const char* status,
                     const std::optional<std::string>& reason);

/// A run that ended: kind, device, the load's measures, result check and status.
std::string runJson(const RunReport& report);
/// A start refused before its run: status "refused" with the reason, nothing measured.
std::string refusedRunJson(RunKind runKind, const std::string& reason);
/// An array of the devices, as --list-devices shows them.
std::string devicesJson(const std::vector<NamedDevice>& devices);
/// The fan check: the fans read, the terms of the rule, and whether the fans are stuck.
std::string fanCheckJson(const FanReading& reading);
/// The temperature sensors of --sensors, each with its value in the reading's unit.
std::string sensorsJson(const SensorsReading& reading);

} // namespace ventaro
