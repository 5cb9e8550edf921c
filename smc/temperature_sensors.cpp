#include "smc/temperature_sensors.h"

#include "smc/data_type.h"
#include "smc/smc_access.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace ventaro {
namespace {

constexpr std::array<const char*, 29> kNames{
    "AMBIENT_AIR_0",    "AMBIENT_AIR_1",       "CPU_0_DIE",
    "CPU_0_DIODE",      "CPU_0_HEATSINK",      "CPU_0_PROXIMITY",
    "ENCLOSURE_BASE_0", "ENCLOSURE_BASE_1",    "ENCLOSURE_BASE_2",
    "ENCLOSURE_BASE_3", "GPU_0_DIODE",         "GPU_0_HEATSINK",
    "GPU_0_PROXIMITY",  "HDD_PROXIMITY",       "HEATSINK_0",
    "HEATSINK_1",       "HEATSINK_2",          "LCD_PROXIMITY",
    "MEM_SLOT_0",       "MEM_SLOTS_PROXIMITY", "MISC_PROXIMITY",
    "NORTHBRIDGE",      "NORTHBRIDGE_DIODE",   "NORTHBRIDGE_PROXIMITY",
    "ODD_PROXIMITY",    "PALM_REST",           "PWR_SUPPLY_PROXIMITY",
    "THUNDERBOLT_0",    "THUNDERBOLT_1"};

// Letter case matters: "Th0H" and "TH0P", "Tm0P" and "TM0P" are different keys.
constexpr std::array<FourCharCode, 29> kCodes{
    fourCharCodeLiteral("TA0P"), fourCharCodeLiteral("TA1P"), fourCharCodeLiteral("TC0F"),
    fourCharCodeLiteral("TC0D"), fourCharCodeLiteral("TC0H"), fourCharCodeLiteral("TC0P"),
    fourCharCodeLiteral("TB0T"), fourCharCodeLiteral("TB1T"), fourCharCodeLiteral("TB2T"),
    fourCharCodeLiteral("TB3T"), fourCharCodeLiteral("TG0D"), fourCharCodeLiteral("TG0H"),
    fourCharCodeLiteral("TG0P"), fourCharCodeLiteral("TH0P"), fourCharCodeLiteral("Th0H"),
    fourCharCodeLiteral("Th1H"), fourCharCodeLiteral("Th2H"), fourCharCodeLiteral("TL0P"),
    fourCharCodeLiteral("TM0S"), fourCharCodeLiteral("TM0P"), fourCharCodeLiteral("Tm0P"),
    fourCharCodeLiteral("TN0H"), fourCharCodeLiteral("TN0D"), fourCharCodeLiteral("TN0P"),
    fourCharCodeLiteral("TO0P"), fourCharCodeLiteral("Ts0P"), fourCharCodeLiteral("Tp0P"),
    fourCharCodeLiteral("TI0P"), fourCharCodeLiteral("TI1P")};

// The sensor of row `Row`, made on first use; a function-local static is initialised once even
// when first uses race.
template <std::size_t Row> const TemperatureSensor& sensor() {
  static const TemperatureSensor made{kNames[Row], kCodes[Row]};
  return made;
}

template <std::size_t... Rows>
std::unordered_map<FourCharCode, TemperatureSensor> mapOf(std::index_sequence<Rows...>) {
  return {{kCodes[Rows], sensor<Rows>()}...};
}

} // namespace

namespace TemperatureSensors {
// clang-format off
const TemperatureSensor& ambientAir0() { return sensor<0>(); }
const TemperatureSensor& ambientAir1() { return sensor<1>(); }
const TemperatureSensor& cpu0Die() { return sensor<2>(); }
const TemperatureSensor& cpu0Diode() { return sensor<3>(); }
const TemperatureSensor& cpu0Heatsink() { return sensor<4>(); }
const TemperatureSensor& cpu0Proximity() { return sensor<5>(); }
const TemperatureSensor& enclosureBase0() { return sensor<6>(); }
const TemperatureSensor& enclosureBase1() { return sensor<7>(); }
const TemperatureSensor& enclosureBase2() { return sensor<8>(); }
const TemperatureSensor& enclosureBase3() { return sensor<9>(); }
const TemperatureSensor& gpu0Diode() { return sensor<10>(); }
const TemperatureSensor& gpu0Heatsink() { return sensor<11>(); }
const TemperatureSensor& gpu0Proximity() { return sensor<12>(); }
const TemperatureSensor& hddProximity() { return sensor<13>(); }
const TemperatureSensor& heatsink0() { return sensor<14>(); }
const TemperatureSensor& heatsink1() { return sensor<15>(); }
const TemperatureSensor& heatsink2() { return sensor<16>(); }
const TemperatureSensor& lcdProximity() { return sensor<17>(); }
const TemperatureSensor& memSlot0() { return sensor<18>(); }
const TemperatureSensor& memSlotsProximity() { return sensor<19>(); }
const TemperatureSensor& miscProximity() { return sensor<20>(); }
const TemperatureSensor& northbridge() { return sensor<21>(); }
const TemperatureSensor& northbridgeDiode() { return sensor<22>(); }
const TemperatureSensor& northbridgeProximity() { return sensor<23>(); }
const TemperatureSensor& oddProximity() { return sensor<24>(); }
const TemperatureSensor& palmRest() { return sensor<25>(); }
const TemperatureSensor& pwrSupplyProximity() { return sensor<26>(); }
const TemperatureSensor& thunderbolt0() { return sensor<27>(); }
const TemperatureSensor& thunderbolt1() { return sensor<28>(); }
// clang-format on

const std::unordered_map<FourCharCode, TemperatureSensor>& knownSensors() {
  static const auto sensors = mapOf(std::make_index_sequence<kCodes.size()>());
  return sensors;
}
} // namespace TemperatureSensors

namespace SMCAccess {
namespace {

// A temperature key's first character is upper-case 'T'; it lies in the most significant byte.
constexpr FourCharCode kFirstByteMask = 0xFF000000u;
constexpr FourCharCode kTemperatureKeyMark = FourCharCode{'T'} << 24;

// "sp78" is a signed fixed-point number, two's complement, with 8 fraction bits: its first byte
// alone is the whole degrees, rounded down (0xFB is -5, the -4.75 of 0xFB 0x40 included).
double decodeSP78(std::uint8_t first) {
  return static_cast<std::int8_t>(first);
}

// The keys and types of the SMC's index; where the index is refused for privilege, the
// temperature keys the driver lists without it, each of type "sp78".
std::vector<SMCKey> temperatureCandidates() {
  try {
    return readAllKeys();
  } catch (const SMCError& error) {
    const auto smc = driver();
    std::vector<FourCharCode> listed;
    if (error.kind() != SMCError::Kind::notPrivileged || !smc ||
        smc->listTemperatureKeys(connection, &listed) != kIOReturnSuccess) {
      throw;
    }
    std::vector<SMCKey> keys;
    keys.reserve(listed.size());
    for (const FourCharCode code : listed) {
      keys.push_back({code, DataTypes::SP78});
    }
    return keys;
  }
}

} // namespace

std::vector<TemperatureSensor> readKnownTemperatureSensors() {
  std::vector<TemperatureSensor> present;
  for (const auto& [code, known] : TemperatureSensors::knownSensors()) {
    if (isKeyFound(code)) {
      present.push_back(known);
    }
  }
  return present;
}

std::vector<TemperatureSensor> readUnknownTemperatureSensors() {
  const auto& known = TemperatureSensors::knownSensors();
  std::vector<TemperatureSensor> discovered;
  for (const SMCKey& key : temperatureCandidates()) {
    if ((key.code & kFirstByteMask) == kTemperatureKeyMark && key.info == DataTypes::SP78 &&
        !known.contains(key.code)) {
      discovered.push_back(TemperatureSensor{"Unknown", key.code});
    }
  }
  return discovered;
}

double readTemperature(FourCharCode code, TemperatureUnit unit) {
  const double celsius = decodeSP78(readKey(code, DataTypes::SP78.size)[0]);
  switch (unit) {
  case TemperatureUnit::celsius:
    return celsius;
  case TemperatureUnit::fahrenheit:
    return celsiusToFahrenheit(celsius);
  case TemperatureUnit::kelvin:
    return celsiusToKelvin(celsius);
  }
  return celsius;
}

} // namespace SMCAccess
} // namespace ventaro
