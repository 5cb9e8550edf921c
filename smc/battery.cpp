#include "smc/battery.h"

#include "smc/data_type.h"
#include "smc/smc_access.h"

namespace ventaro::SMCAccess {
namespace {

constexpr FourCharCode kBatteryCountKey = fourCharCodeLiteral("BNum");
constexpr FourCharCode kBatteryPowerKey = fourCharCodeLiteral("BATP");
constexpr FourCharCode kBatteryStatusKey = fourCharCodeLiteral("BSIn");
constexpr FourCharCode kMSDIKey = fourCharCodeLiteral("MSDI");

constexpr std::uint8_t kCharging = 0x01;
constexpr std::uint8_t kACPresent = 0x02;
constexpr std::uint8_t kBatteryOk = 0x40;

bool readFlag(FourCharCode code) {
  return readKey(code, DataTypes::Flag.size)[0] == 1;
}

} // namespace

batteryInfo readBatteryInfo() {
  const std::int64_t count = readKey(kBatteryCountKey, DataTypes::UInt8.size)[0];
  const bool batteryPowered = readFlag(kBatteryPowerKey);
  const std::uint8_t status = readKey(kBatteryStatusKey, DataTypes::UInt8.size)[0];
  return batteryInfo{count, (status & kACPresent) != 0, batteryPowered, (status & kBatteryOk) != 0,
                     (status & kCharging) != 0};
}

bool readMSDIFlag() {
  return readFlag(kMSDIKey);
}

} // namespace ventaro::SMCAccess
