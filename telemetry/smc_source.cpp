#include "telemetry/smc_source.h"

#include "smc/fans.h"
#include "smc/smc_access.h"
#include "smc/temperature_sensors.h"
#include "telemetry/reading_bounds.h"

#include <algorithm>
#include <mutex>

namespace ventaro::telemetry {
namespace {

// The SMC layer keeps one process-wide connection and no lock of its own.
std::mutex& smcLock() {
  static std::mutex lock;
  return lock;
}

struct SmcFan {
  std::int64_t index = 0;
  bool hasTarget = false;
};

// The connection held open for one look at the SMC.
class OpenSmc {
public:
  OpenSmc() { SMCAccess::openSMC(); }
  ~OpenSmc() { SMCAccess::closeSMC(); }
  OpenSmc(const OpenSmc&) = delete;
  OpenSmc& operator=(const OpenSmc&) = delete;
  OpenSmc(OpenSmc&&) = delete;
  OpenSmc& operator=(OpenSmc&&) = delete;
};

// Whether the SMC holds a target speed for the fan. Looking a key up may need privileges the
// process lacks: then the target is not read, and the fan's speed still is.
bool hasTarget(std::int64_t index) {
  try {
    return SMCAccess::isKeyFound(fourCharCodeFromText("F" + std::to_string(index) + "Tg"));
  } catch (const SMCAccess::SMCError&) {
    return false;
  }
}

// The fans; none when their count cannot be read.
std::vector<SmcFan> listFans() {
  std::vector<SmcFan> fans;
  try {
    const std::int64_t count = std::min(SMCAccess::readFanCount(), SMCAccess::kMostFans);
    for (std::int64_t index = 0; index < count; ++index) {
      fans.push_back({index, hasTarget(index)});
    }
  } catch (const SMCAccess::SMCError&) {
    // No count, no fans: the temperatures are still read.
  }
  return fans;
}

std::vector<TemperatureSensor> listTemperatures() {
  try {
    return SMCAccess::readKnownTemperatureSensors();
  } catch (const SMCAccess::SMCError&) {
    return {}; // the fans are still read
  }
}

class SmcSource final : public Source {
public:
  SmcSource(std::vector<SmcFan> fans, std::vector<TemperatureSensor> sensors)
      : fans_(std::move(fans)), sensors_(std::move(sensors)) {}

  std::string name() const override { return "smc"; }

  void read(Sample& into) override {
    const std::lock_guard<std::mutex> held(smcLock());
    try {
      const OpenSmc open;
      for (const SmcFan& fan : fans_) {
        const std::string label = "F" + std::to_string(fan.index);
        readOne(into, label, Quantity::fan, [&] { return SMCAccess::readFanActual(fan.index); });
        if (fan.hasTarget) {
          readOne(into, label, Quantity::fanTarget,
                  [&] { return SMCAccess::readFanSpeed(fan.index, "Tg"); });
        }
      }
      for (const TemperatureSensor& sensor : sensors_) {
        readOne(into, fourCharCodeToText(sensor.code), Quantity::temperature,
                [&] { return SMCAccess::readTemperature(sensor.code, TemperatureUnit::celsius); });
      }
    } catch (const SMCAccess::SMCError&) {
      // The SMC did not open this time: nothing of it is in this sample.
    }
  }

private:
  template <class Read>
  static void readOne(Sample& into, const std::string& label, Quantity quantity, Read read) {
    try {
      addReading(into, "smc", label, quantity, static_cast<double>(read()));
    } catch (const SMCAccess::SMCError&) {
      // This key failed now; the others are still read.
    }
  }

  std::vector<SmcFan> fans_;
  std::vector<TemperatureSensor> sensors_;
};

} // namespace

std::unique_ptr<Source> smcSource(std::string& why) {
  const std::lock_guard<std::mutex> held(smcLock());
  try {
    const OpenSmc open;
    std::vector<SmcFan> fans = listFans();
    std::vector<TemperatureSensor> sensors = listTemperatures();
    if (fans.empty() && sensors.empty()) {
      why = "the SMC lists no fan and no named temperature sensor";
      return nullptr;
    }
    return std::make_unique<SmcSource>(std::move(fans), std::move(sensors));
  } catch (const SMCAccess::SMCError& error) {
    why = std::string("the SMC did not open: ") + error.what();
    return nullptr;
  }
}

} // namespace ventaro::telemetry
