#include "app/fan_anomaly.h"

#include "smc/fans.h"
#include "smc/smc_access.h"

#include <algorithm>

namespace ventaro {
namespace {

// The value `read` gives, or none when the SMC fails it. Only SMC failures are absorbed:
// anything else (out of memory, a fault) is not a fan reading and goes on to the caller.
template <typename Read> auto readOrNone(Read read) -> std::optional<decltype(read())> {
  try {
    return read();
  } catch (const SMCAccess::SMCError&) {
    return std::nullopt;
  }
}

FanValues readFan(std::int64_t index, bool current) {
  using namespace SMCAccess;
  FanValues fan;
  fan.index = index;
  fan.name = readOrNone([index] { return readFanName(index); });
  fan.minimum = readOrNone([index] { return readFanMinimum(index); });
  fan.maximum = readOrNone([index] { return readFanMaximum(index); });
  if (current) {
    fan.current = readOrNone([index] { return readFanActual(index); });
  }
  return fan;
}

std::string shown(const std::optional<std::int64_t>& value) {
  return value ? std::to_string(*value) : "unreadable (0)";
}

std::string shown(const std::optional<std::string>& name) {
  return name ? "\"" + *name + "\"" : "unreadable (\"\")";
}

FanRuleTerm nameTerm(const FanValues& fan, const char* part) {
  const std::string name = fan.name.value_or("");
  return {"fan " + std::to_string(fan.index) + " name " + shown(fan.name) + " contains \"" + part +
              "\"",
          name.find(part) != std::string::npos};
}

FanRuleTerm equalTerm(const FanValues& fan, const char* what,
                      const std::optional<std::int64_t>& value, std::int64_t wanted) {
  return {"fan " + std::to_string(fan.index) + " " + what + " " + shown(value) + " is " +
              std::to_string(wanted),
          value.value_or(0) == wanted};
}

} // namespace

FanReading readFans(bool everyFan) {
  using namespace SMCAccess;
  FanReading reading;
  try {
    openSMC();
  } catch (const SMCError& error) {
    reading.openFailure = error;
    return reading;
  }
  // Every read is made whatever the ones before it gave, the fan count included.
  reading.count = readOrNone([] { return readFanCount(); });
  reading.fans.push_back(readFan(0, true));
  reading.fans.push_back(readFan(1, false));
  if (everyFan) {
    reading.fans[1].current = readOrNone([] { return readFanActual(1); });
    const std::int64_t count = std::min(reading.count.value_or(0), kMostFans);
    for (std::int64_t index = 2; index < count; ++index) {
      reading.fans.push_back(readFan(index, true));
    }
  }
  closeSMC();
  return reading;
}

std::vector<FanRuleTerm> fanRuleTerms(const FanReading& reading) {
  if (reading.openFailure || reading.fans.size() < 2) {
    return {};
  }
  const FanValues& fan0 = reading.fans[0];
  const FanValues& fan1 = reading.fans[1];
  return {
      {"fan count " + shown(reading.count) + " is more than 2", reading.count.value_or(0) > 2},
      nameTerm(fan0, "PCI"),
      equalTerm(fan0, "minimum", fan0.minimum, 800),
      equalTerm(fan0, "maximum", fan0.maximum, 4500),
      {"fan 0 current " + shown(fan0.current) + " is more than " + std::to_string(kStuckFanSpeed),
       fan0.current.value_or(0) > kStuckFanSpeed},
      nameTerm(fan1, "PS"),
      equalTerm(fan1, "minimum", fan1.minimum, 600),
      equalTerm(fan1, "maximum", fan1.maximum, 2800),
  };
}

bool readInFull(const FanReading& reading) {
  if (reading.openFailure || !reading.count || reading.fans.size() < 2) {
    return false;
  }
  const FanValues& fan0 = reading.fans[0];
  const FanValues& fan1 = reading.fans[1];
  return fan0.name && fan0.minimum && fan0.maximum && fan0.current && fan1.name && fan1.minimum &&
         fan1.maximum;
}

bool fansAreStuck(const FanReading& reading) {
  const std::vector<FanRuleTerm> terms = fanRuleTerms(reading);
  return !terms.empty() && std::all_of(terms.begin(), terms.end(),
                                       [](const FanRuleTerm& term) { return term.holds; });
}

bool hasFanAnomaly() {
  return fansAreStuck(readFans());
}

} // namespace ventaro
