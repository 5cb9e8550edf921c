#include "app/sensors_command.h"

#include "app/command_line.h"
#include "app/commands.h"
#include "app/json_output.h"
#include "platform/display_text.h"
#include "smc/smc_access.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ostream>

namespace ventaro {
namespace {

// Words of the table's names that read better spelled out or kept in capitals.
std::string readableWord(std::string word) {
  for (const char* acronym : {"CPU", "GPU", "HDD", "LCD"}) {
    if (word == acronym) {
      return word;
    }
  }
  if (word == "MEM") {
    return "memory";
  }
  if (word == "PWR") {
    return "power";
  }
  if (word == "ODD") {
    return "optical drive";
  }
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return word;
}

const char* unitSymbol(TemperatureUnit unit) {
  switch (unit) {
  case TemperatureUnit::fahrenheit:
    return "°F";
  case TemperatureUnit::kelvin:
    return "K";
  case TemperatureUnit::celsius:
    break;
  }
  return "°C";
}

// A temperature with at most two decimals and no trailing zeros: 45, 113, 318.15, -0.4.
std::string shownValue(double value) {
  std::array<char, 32> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%.2f", value);
  std::string text = buffer.data();
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') {
    text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

template <typename List> std::optional<List> listOrFailure(List (*list)(), SensorsReading& into) {
  try {
    return list();
  } catch (const SMCAccess::SMCError& error) {
    if (!into.listFailure) {
      into.listFailure = error;
    }
    return std::nullopt;
  }
}

} // namespace

std::string readableSensorName(const std::string& tableName) {
  std::string readable;
  std::size_t start = 0;
  while (start <= tableName.size()) {
    const std::size_t end = std::min(tableName.find('_', start), tableName.size());
    if (!readable.empty()) {
      readable += ' ';
    }
    readable += readableWord(tableName.substr(start, end - start));
    start = end + 1;
  }
  if (!readable.empty()) {
    readable[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(readable[0])));
  }
  return readable;
}

const char* unitName(TemperatureUnit unit) {
  switch (unit) {
  case TemperatureUnit::fahrenheit:
    return "fahrenheit";
  case TemperatureUnit::kelvin:
    return "kelvin";
  case TemperatureUnit::celsius:
    break;
  }
  return "celsius";
}

SensorsReading readSensors(TemperatureUnit unit) {
  using namespace SMCAccess;
  SensorsReading reading;
  reading.unit = unit;
  try {
    openSMC();
  } catch (const SMCError& error) {
    reading.openFailure = error;
    return reading;
  }
  std::vector<TemperatureSensor> sensors;
  if (auto known = listOrFailure(readKnownTemperatureSensors, reading)) {
    std::sort(known->begin(), known->end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    for (TemperatureSensor& sensor : *known) {
      sensor.name = readableSensorName(sensor.name);
      sensors.push_back(std::move(sensor));
    }
  }
  if (auto others = listOrFailure(readUnknownTemperatureSensors, reading)) {
    sensors.insert(sensors.end(), others->begin(), others->end());
  }
  for (const TemperatureSensor& sensor : sensors) {
    SensorValue value{sensor.name, sensor.code, std::nullopt};
    try {
      value.value = readTemperature(sensor.code, unit);
    } catch (const SMCError&) {
      // Shown as unreadable; the other sensors are still read.
    }
    reading.sensors.push_back(std::move(value));
  }
  closeSMC();
  return reading;
}

int showSensors(const SensorsReading& reading, bool json, std::ostream& out, std::ostream& err) {
  if (json) {
    out << sensorsJson(reading);
  }
  if (reading.openFailure) {
    err << "ventaro: " << smcProblem(*reading.openFailure) << '\n';
    out.flush();
    return kExitNothingToRunOn;
  }
  if (!json) {
    std::size_t width = 0;
    for (const SensorValue& sensor : reading.sensors) {
      width = std::max(width, sensor.name.size());
    }
    for (const SensorValue& sensor : reading.sensors) {
      out << displayText(sensor.name) << std::string(width - sensor.name.size() + 2, ' ')
          << displayText(fourCharCodeBytes(sensor.code)) << "  "
          << (sensor.value ? shownValue(*sensor.value) + " " + unitSymbol(reading.unit) : "?")
          << '\n';
    }
  }
  out.flush();
  if (reading.listFailure) {
    const bool refused = reading.listFailure->kind() == SMCAccess::SMCError::Kind::notPrivileged;
    err << "ventaro: the sensors could not all be listed: "
        << (refused ? smcProblem(*reading.listFailure) : reading.listFailure->what()) << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

} // namespace ventaro
