#include "fan_machine.h"
#include "smc/temperature_sensors.h"

#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ventaro {
namespace {

using emulated::EmulatedFailure;
using emulated::EmulatedKey;
using emulated::EmulatedSMC;
using SMCAccess::SMCError;
using ::testing::ElementsAre;
using testing::smcErrorOf;
using ::testing::UnorderedElementsAre;

constexpr FourCharCode code(const char (&text)[5]) {
  return fourCharCodeLiteral(text);
}

class TemperatureOperations : public testing::SMCAccessTest {
protected:
  void start(std::vector<EmulatedKey> keys) {
    smc = install(std::make_shared<EmulatedSMC>(std::move(keys)));
    SMCAccess::openSMC();
  }
  std::shared_ptr<EmulatedSMC> smc;
};

TEST(TemperatureSensorTable, HoldsTwentyNineCaseSensitiveCodesUnderThemselves) {
  const auto& known = TemperatureSensors::knownSensors();
  EXPECT_EQ(known.size(), 29u);
  for (const auto& [key, sensor] : known) {
    EXPECT_EQ(key, sensor.code);
    EXPECT_EQ(key >> 24, FourCharCode{'T'}) << sensor.name;
  }
  EXPECT_EQ(known.at(code("Th0H")), TemperatureSensors::heatsink0());
  EXPECT_EQ(known.at(code("TH0P")).name, "HDD_PROXIMITY");
  EXPECT_EQ(known.at(code("Tm0P")), TemperatureSensors::miscProximity());
  EXPECT_EQ(known.at(code("TM0P")).name, "MEM_SLOTS_PROXIMITY");
}

TEST_F(TemperatureOperations, KnownSensorsCostOneKeyInformationRequestEach) {
  start(testing::stuckFanMachine());
  EXPECT_THAT(
      SMCAccess::readKnownTemperatureSensors(),
      UnorderedElementsAre(TemperatureSensors::cpu0Proximity(), TemperatureSensors::gpu0Diode()));
  EXPECT_EQ(smc->exchangeCount(), 29u);
  for (const auto& exchange : smc->exchanges()) {
    EXPECT_EQ(exchange.command, 9);
  }

  start({});
  EXPECT_TRUE(SMCAccess::readKnownTemperatureSensors().empty());
  EXPECT_EQ(smc->exchangeCount(), 29u);

  start(testing::stuckFanMachine());
  smc->failKey(code("TA1P"), EmulatedFailure::notPrivileged());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKnownTemperatureSensors(); }),
            SMCError::notPrivileged());
}

TEST_F(TemperatureOperations, UnknownSensorsAreUnlistedUpperCaseTSp78Keys) {
  auto keys = testing::stuckFanMachine();
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
  const auto count = static_cast<std::uint8_t>(keys.size());
  testing::setKey(keys, "#KEY", {0, 0, 0, count});
  start(keys);

  std::vector<std::string> found;
  for (const TemperatureSensor& sensor : SMCAccess::readUnknownTemperatureSensors()) {
    EXPECT_EQ(sensor.name, "Unknown");
    found.push_back(fourCharCodeToText(sensor.code));
  }
  EXPECT_THAT(found, ElementsAre("TA0A", "TC1C", "TZ1X"));
  EXPECT_EQ(smc->exchangeCount(), 1u + 2u * keys.size()) << "no key value is read";

  smc->failKey(code("#KEY"), EmulatedFailure::resultByte(1));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readUnknownTemperatureSensors(); }),
            SMCError::unknown(kIOReturnSuccess, 1));
}

TEST_F(TemperatureOperations, Sp78IsSignAndMagnitudeOfTheFirstByteAlone) {
  struct Case {
    std::uint8_t first;
    std::uint8_t second;
    TemperatureUnit unit;
    double value;
  };
  const Case cases[] = {
      {0x2D, 0x00, TemperatureUnit::celsius, 45.0},
      {0x2D, 0xFF, TemperatureUnit::celsius, 45.0},
      {0x2D, 0x40, TemperatureUnit::fahrenheit, 113.0},
      {0x2D, 0x40, TemperatureUnit::kelvin, 318.15},
      {0xAD, 0x00, TemperatureUnit::celsius, -45.0},
      {0xFF, 0x00, TemperatureUnit::celsius, -127.0},
      {0x7F, 0xFF, TemperatureUnit::celsius, 127.0},
      {0x80, 0x00, TemperatureUnit::kelvin, 273.15},
  };
  for (const auto& [first, second, unit, value] : cases) {
    start({{code("TC0P"), DataTypes::SP78, {first, second}}});
    EXPECT_DOUBLE_EQ(SMCAccess::readTemperature(code("TC0P"), unit), value)
        << int{first} << " " << int{second};
    EXPECT_EQ(smc->exchanges().at(0).dataSize, 2u);
  }
  start({{code("TC0P"), DataTypes::SP78, {0x80, 0x00}}});
  const double negativeZero = SMCAccess::readTemperature(code("TC0P"), TemperatureUnit::celsius);
  EXPECT_EQ(negativeZero, 0.0);
  EXPECT_TRUE(std::signbit(negativeZero));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readTemperature(code("TZ9Z"), TemperatureUnit::celsius); }),
            SMCError::keyNotFound("TZ9Z"));
}

TEST(TemperatureConversion, RoundsTheProductBeforeTheSum) {
  // -87 * 1.8 + 32 is -124.6 when the product is rounded first, one unit in the last place
  // further from zero when fused into one multiply-add.
  ASSERT_NE(std::fma(-87.0, 1.8, 32.0), -124.6);
  EXPECT_EQ(SMCAccess::celsiusToFahrenheit(-87.0), -124.6);
  EXPECT_EQ(SMCAccess::celsiusToFahrenheit(-40.0), -40.0);
  EXPECT_EQ(SMCAccess::celsiusToKelvin(-273.15), 0.0);
}

} // namespace
} // namespace ventaro
