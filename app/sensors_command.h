#pragma once

// `--sensors`: every temperature sensor the SMC has, the known ones by a readable name, then
// the others by key, each with its temperature in the unit asked for.

#include "smc/smc_error.h"
#include "smc/temperature_sensors.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace ventaro {

struct SensorValue {
  std::string name; // readable for a known sensor ("CPU 0 proximity"), else "Unknown"
  FourCharCode code = 0;
  std::optional<double> value; // in the reading's unit; empty when the read failed
};

struct SensorsReading {
  TemperatureUnit unit = TemperatureUnit::celsius;
  /// Why the connection could not be opened; nothing was read then.
  std::optional<SMCAccess::SMCError> openFailure;
  /// Why a list of sensors could not be had; the sensors of the other list are still read.
  std::optional<SMCAccess::SMCError> listFailure;
  std::vector<SensorValue> sensors;
};

/// The readable form of a name of the sensor table: "CPU_0_PROXIMITY" is "CPU 0 proximity".
std::string readableSensorName(const std::string& tableName);

/// Opens the SMC through the driver installed, lists the known sensors (in the table's order)
/// and the others (in key order), reads each one's temperature, and closes.
SensorsReading readSensors(TemperatureUnit unit);

/// The unit's name as --unit takes it ("celsius"), which is also the JSON key of the values.
const char* unitName(TemperatureUnit unit);

/// Writes one line per sensor (name, key, temperature or "?") or the JSON object. Returns 0, 3
/// when there is no SMC to read, 1 when a list of sensors could not be had (reasons on `err`).
int showSensors(const SensorsReading& reading, bool json, std::ostream& out, std::ostream& err);

} // namespace ventaro
