#include "smc/temperature_sensors.h"
#include "tests/smc/smc_machine.h"

#include <cmath>
#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

using ::testing::ElementsAre;

class TemperatureOperations : public SMCAccessTest {};

TEST_F(TemperatureOperations, KnownSensorsCostOneKeyInformationRequestEach) {
  start(stuckFanMachine());
  EXPECT_THAT(SMCAccess::readKnownTemperatureSensors(),
              ::testing::UnorderedElementsAre(TemperatureSensors::ambientAir0(),
                                              TemperatureSensors::cpu0Proximity(),
                                              TemperatureSensors::gpu0Diode()));
  EXPECT_EQ(smc->exchangeCount(), TemperatureSensors::knownSensors().size());
  for (const auto& exchange : smc->exchanges()) {
    EXPECT_EQ(exchange.command, 9);
  }
  start({});
  EXPECT_TRUE(SMCAccess::readKnownTemperatureSensors().empty());
  start(stuckFanMachine());
  smc->failKey(code("TA1P"), EmulatedFailure::notPrivileged());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKnownTemperatureSensors(); }),
            SMCError::notPrivileged());
}

TEST_F(TemperatureOperations, UnknownSensorsAreUnlistedUpperCaseTSp78Keys) {
  Keys keys = stuckFanMachine();
  const std::pair<const char*, DataType> extra[] = {
      {"TZ1X", DataTypes::SP78},           // reported
      {"TA0A", DataTypes::SP78},           // reported, before TC1C in the SMC's order
      {"tZ2X", DataTypes::SP78},           // lower-case t
      {"TZ3X", DataTypes::FPE2},           // another type of the same size
      {"TZ4X", {DataTypes::SP78.type, 1}}, // another size
      {"XZ5X", DataTypes::SP78},           // not a temperature key
  };
  for (const auto& [text, type] : extra) {
    keys.push_back({fourCharCodeFromText(text), type, std::vector<std::uint8_t>(type.size, 0x20)});
  }
  setKey(keys, "#KEY", {0, 0, 0, static_cast<std::uint8_t>(keys.size())});
  start(keys);
  std::vector<std::string> found;
  for (const TemperatureSensor& sensor : SMCAccess::readUnknownTemperatureSensors()) {
    EXPECT_EQ(sensor.name, "Unknown");
    found.push_back(fourCharCodeToText(sensor.code));
  }
  EXPECT_THAT(found, ElementsAre("TA0A", "TC1C", "TZ1X"));
  EXPECT_EQ(smc->exchangeCount(), 1u + 2u * keys.size()) << "no key value is read";
}

// The SMC keeps "sp78" in two's complement (the kernel reads it as a signed 16-bit number), so
// the first byte is the whole degrees rounded down: 0xFA 0x40 is -5.75 and reads as -6.
TEST_F(TemperatureOperations, Sp78IsTheFirstByteInTwosComplement) {
  using enum TemperatureUnit;
  const std::tuple<std::uint8_t, std::uint8_t, TemperatureUnit, double> cases[] = {
      {0x2D, 0xFF, celsius, 45.0},   {0x2D, 0x40, fahrenheit, 113.0}, {0x2D, 0x40, kelvin, 318.15},
      {0xD3, 0x00, celsius, -45.0},  {0xFF, 0xC0, celsius, -1.0},     {0x7F, 0xFF, celsius, 127.0},
      {0x80, 0x00, celsius, -128.0}, {0xFA, 0x40, celsius, -6.0},     {0x00, 0x00, kelvin, 273.15}};
  for (const auto& [first, second, unit, value] : cases) {
    start({{code("TC0P"), DataTypes::SP78, {first, second}}});
    EXPECT_DOUBLE_EQ(SMCAccess::readTemperature(code("TC0P"), unit), value)
        << int{first} << " " << int{second};
  }
}

TEST(TemperatureConversion, RoundsTheProductBeforeTheSum) {
  // -87 × 1.8 + 32 is -124.6 when the product is rounded first, one unit in the last place
  // further from zero when fused into one multiply-add.
  ASSERT_NE(std::fma(-87.0, 1.8, 32.0), -124.6);
  EXPECT_EQ(SMCAccess::celsiusToFahrenheit(-87.0), -124.6);
  EXPECT_EQ(SMCAccess::celsiusToKelvin(-273.15), 0.0);
}

} // namespace
} // namespace ventaro::testing
