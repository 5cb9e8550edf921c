#include "app/json_output.h"

#include "app/commands.h"
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

// One JSON value under construction; `text()` gives it on one line, ending with a newline.
class JsonWriter {
public:
  JsonWriter() : builder_(json_builder_new()) {}
  ~JsonWriter() { g_object_unref(builder_); }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& beginObject(const char* name = nullptr) {
    key(name);
    json_builder_begin_object(builder_);
    return *this;
  }
  JsonWriter& endObject() {
    json_builder_end_object(builder_);
    return *this;
  }
  JsonWriter& beginArray(const char* name = nullptr) {
    key(name);
    json_builder_begin_array(builder_);
    return *this;
  }
  JsonWriter& endArray() {
    json_builder_end_array(builder_);
    return *this;
  }
  JsonWriter& member(const char* name, const std::string& value) {
    key(name);
    json_builder_add_string_value(builder_, displayText(value).c_str());
    return *this;
  }
  JsonWriter& member(const char* name, const char* value) {
    return member(name, std::string(value));
  }
  JsonWriter& member(const char* name, std::int64_t value) {
    key(name);
    json_builder_add_int_value(builder_, value);
    return *this;
  }
  JsonWriter& member(const char* name, std::uint64_t value) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return member(name, static_cast<std::int64_t>(value > largest ? largest : value));
  }
  JsonWriter& member(const char* name, double value) {
    key(name);
    json_builder_add_double_value(builder_, value);
    return *this;
  }
  JsonWriter& member(const char* name, bool value) {
    key(name);
    json_builder_add_boolean_value(builder_, value ? TRUE : FALSE);
    return *this;
  }
  /// A number written with at most `places` decimals (at least one): json-glib writes every
  /// double with seventeen digits, so that 318.15 would read 318.14999999999998. It goes in as a
  /// string marked with a control character, which no other string holds (displayText blanks
  /// them all), and text() takes the quotes and the mark away.
  JsonWriter& decimal(const char* name, const std::optional<double>& value, int places) {
    if (!value || !std::isfinite(*value)) {
      return member(name, std::optional<std::string>());
    }
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%.*f", places, *value);
    std::string number = buffer.data();
    number.erase(number.find_last_not_of('0') + 1);
    if (number.back() == '.') {
      number += '0';
    }
    if (number == "-0.0") {
      number = "0.0";
    }
    key(name);
    json_builder_add_string_value(builder_, (kNumberMark + number).c_str());
    return *this;
  }
  template <typename Value>
  JsonWriter& member(const char* name, const std::optional<Value>& value) {
    if (value) {
      return member(name, *value);
    }
    key(name);
    json_builder_add_null_value(builder_);
    return *this;
  }

  std::string text() const {
    JsonNode* root = json_builder_get_root(builder_);
    JsonGenerator* generator = json_generator_new();
    json_generator_set_root(generator, root);
    gchar* data = json_generator_to_data(generator, nullptr);
    std::string result = std::string(data) + "\n";
    g_free(data);
    // "\u0001318.15" (the string that decimal() made) becomes 318.15.
    const std::string marked = "\"\\u0001";
    for (std::size_t at = result.find(marked); at != std::string::npos;
         at = result.find(marked, at)) {
      result.erase(result.find('"', at + marked.size()), 1);
      result.erase(at, marked.size());
    }
    g_object_unref(generator);
    json_node_unref(root);
    return result;
  }

private:
  static constexpr const char* kNumberMark = "\x01";

  void key(const char* name) {
    if (name != nullptr) {
      json_builder_set_member_name(builder_, name);
    }
  }

  JsonBuilder* builder_;
};

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

// The members every run object has, in one order; `device` may be null.
std::string runText(RunKind runKind, const gpu::Device* device, const LoadOutcome& outcome,
                    const char* status, const std::optional<std::string>& reason,
                    const std::optional<FanResetCheck>& fanReset = std::nullopt) {
  JsonWriter json;
  json.beginObject()
      .member("schema_version", std::int64_t{kJsonSchemaVersion})
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
