// Temperature keys through the kernel's temp<N>_label / temp<N>_input files, which an ordinary
// user may read, over the fixture trees of both layouts and over hostile trees in memory.

#include "smc/applesmc/applesmc_driver.h"
#include "smc/applesmc/temperature_files.h"
#include "smc/temperature_sensors.h"
#include "tests/smc/smc_machine.h"

#include <cerrno>
#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
namespace Sensors = TemperatureSensors;

class TemperatureFilesOnFixtureTree : public SMCAccessTest,
                                      public ::testing::WithParamInterface<std::string> {
protected:
  void SetUp() override {
    loadStuckFanTree(*files, GetParam(), keys);
    const std::string device = stuckFanDevice(GetParam());
    directory = GetParam() == "flat" ? device : device + "/hwmon/hwmon3";
    files->setRoot(false);
    open();
  }
  void open() {
    install(std::make_shared<applesmc::ApplesmcDriver>(files, "/sys"));
    SMCAccess::openSMC();
  }
  std::string file(const std::string& name) const { return directory + "/" + name; }
  static double celsius(const char (&key)[5]) {
    return SMCAccess::readTemperature(code(key), TemperatureUnit::celsius);
  }
  static std::vector<std::string> unknownKeys() {
    std::vector<std::string> found;
    for (const TemperatureSensor& sensor : SMCAccess::readUnknownTemperatureSensors()) {
      found.push_back(fourCharCodeToText(sensor.code));
    }
    return found;
  }

  const Keys keys = EmulatedSMC(stuckFanMachine()).keys();
  std::shared_ptr<applesmc::InMemoryFileAccess> files =
      std::make_shared<applesmc::InMemoryFileAccess>();
  std::string directory;
};

INSTANTIATE_TEST_SUITE_P(Layouts, TemperatureFilesOnFixtureTree, ::testing::Values("flat", "hwmon"),
                         [](const auto& info) { return info.param; });

// Without root every temperature key reads as the SMC holds it, down to the quarter degree, so
// the sensors and their whole degrees are those a key read gives.
TEST_P(TemperatureFilesOnFixtureTree, AnOrdinaryUserReadsEveryTemperatureKeyAsTheSMCHoldsIt) {
  for (const EmulatedKey& key : keys) {
    if (key.info == DataTypes::SP78) {
      EXPECT_EQ(SMCAccess::readKey(key.code, 2), bytesOf({key.value[0], key.value[1]}))
          << fourCharCodeToText(key.code);
      EXPECT_EQ(SMCAccess::readKeyInfo(key.code), DataTypes::SP78);
    }
  }
  EXPECT_THAT(
      SMCAccess::readKnownTemperatureSensors(),
      UnorderedElementsAre(Sensors::ambientAir0(), Sensors::cpu0Proximity(), Sensors::gpu0Diode()));
  EXPECT_EQ(celsius("TA0P"), -6.0); // -5.75, rounded down as the first byte is
  EXPECT_EQ(celsius("TC0P"), 45.0); // 45.25
  EXPECT_EQ(celsius("TC1C"), 48.0);
  EXPECT_EQ(celsius("TG0D"), 58.0); // 58.5
  EXPECT_THAT(unknownKeys(), ElementsAre("TC1C")) << "from the labels: the index is refused";
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("TN0P"), 2); }), SMCError::keyNotFound("TN0P"));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readAllKeys(); }), SMCError::notPrivileged());

  files->setRoot(true);
  open();
  EXPECT_EQ(celsius("TA0P"), -6.0);
  EXPECT_THAT(unknownKeys(), ElementsAre("TC1C")) << "from the index";
}

TEST_P(TemperatureFilesOnFixtureTree, HostileFilesAreErrorsOrLeftOut) {
  files->addFile(file("temp5_label"), "TZ5Z\n");  // no temp5_input
  files->addFile(file("temp6_input"), "30000\n"); // no temp6_label
  files->addFile(file("temp7_label"), "TZ7ZZ\n");
  files->addFile(file("temp7_input"), "30000\n");
  files->addFile(file("temp8_label"), "TZ8\n");
  files->addFile(file("temp8_input"), "30000\n");
  files->addFile(file("temp9_label"), "TC0P\n"); // a second label of a key: the first counts
  files->addFile(file("temp9_input"), "99000\n");
  files->addFile(file("temp10_label"), "TZAZ\n"); // after temp9, not after temp1
  files->addFile(file("temp10_input"), "30000\n");
  files->addFile(file("temp11_label"), "BNum\n"); // not a temperature key
  files->addFile(file("temp11_input"), "30000\n");
  files->addFile(file("temp12_label"), "TZCZ\n"); // not a regular file
  files->addFile(file("temp12_input"), "30000\n");
  files->failAccess(file("temp12_label"), ENOENT);
  files->addFile(file("temp012_label"), "TZDZ\n");
  files->addFile(file("temp012_input"), "30000\n");
  open();
  EXPECT_THAT(unknownKeys(), ElementsAre("TC1C", "TZAZ"));
  EXPECT_EQ(celsius("TC0P"), 45.0);
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("BNum"), 1); }), SMCError::notPrivileged());

  for (const std::string& contents :
       std::vector<std::string>{"hot\n", "45.25\n", " 45250\n", "+45250\n", "128000\n", "-128001\n",
                                "", "45250\n\n", std::string(2 << 20, '9')}) {
    files->addFile(file("temp2_input"), contents);
    EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("TC0P"), 2); }),
              SMCError::unknown(kIOReturnError, 0))
        << contents.substr(0, 20);
  }
  files->failAccess(file("temp2_input"), EIO);
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("TC0P"), 2); }),
            SMCError::unknown(kIOReturnTimeout, 0));
}

// With no temperature files at all the refusal stands: nothing says the key holds no temperature.
TEST_P(TemperatureFilesOnFixtureTree, WithoutTemperatureFilesTheCursorsRefusalStands) {
  for (const char* name : {"temp1_label", "temp2_label", "temp3_label", "temp4_label"}) {
    files->failAccess(file(name), EACCES);
  }
  open();
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKnownTemperatureSensors(); }),
            SMCError::notPrivileged());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readUnknownTemperatureSensors(); }),
            SMCError::notPrivileged());
}

TEST(TemperatureFiles, MillidegreesRebuildTheSMCsBytes) {
  const std::pair<const char*, std::optional<std::array<std::uint8_t, 2>>> cases[] = {
      {"45250\n", {{0x2D, 0x40}}},
      {"-5750\n", {{0xFA, 0x40}}},
      {"-250\n", {{0xFF, 0xC0}}},
      {"0\n", {{0x00, 0x00}}},
      {"1\n", {{0x00, 0x00}}},
      {"-1\n", {{0xFF, 0xFF}}},
      {"127999\n", {{0x7F, 0xFF}}},
      {"-128000", {{0x80, 0x00}}},
      {"128000\n", std::nullopt},
      {"-128001\n", std::nullopt},
      {"99999999999999999999", std::nullopt}};
  for (const auto& [text, bytes] : cases) {
    EXPECT_EQ(applesmc::sp78FromMillidegrees(text), bytes) << text;
  }
}

} // namespace
} // namespace ventaro::testing
