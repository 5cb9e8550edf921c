#include "smc/applesmc/applesmc_driver.h"
#include "smc/applesmc/real_file_access.h"
#include "tests/smc/smc_machine.h"

#include <algorithm>
#include <cerrno>

namespace ventaro::testing {
namespace {

using applesmc::ApplesmcDriver;
using applesmc::InMemoryFileAccess;

const std::string kFlatDevice = stuckFanDevice("flat");

// The driver over a fixture tree of the stuck-fan machine, its key cursor answering from the
// machine's keys in the SMC's order: "flat" keeps the fan files in the device directory,
// "hwmon" in a hwmon directory below it.
class ApplesmcOnFixtureTree : public SMCAccessTest,
                              public ::testing::WithParamInterface<std::string> {
protected:
  void SetUp() override {
    loadStuckFanTree(*files, GetParam(), keys);
    install(std::make_shared<ApplesmcDriver>(files, "/sys"));
    SMCAccess::openSMC();
  }
  std::string device() const { return stuckFanDevice(GetParam()); }
  std::string inDevice(const char* name) const { return device() + "/" + name; }
  std::string inFans(const char* name) const {
    return device() + (GetParam() == "flat" ? "/" : "/hwmon/hwmon3/") + name;
  }

  const Keys keys = EmulatedSMC(stuckFanMachine()).keys();
  std::shared_ptr<InMemoryFileAccess> files = std::make_shared<InMemoryFileAccess>();
};

INSTANTIATE_TEST_SUITE_P(Layouts, ApplesmcOnFixtureTree, ::testing::Values("flat", "hwmon"),
                         [](const auto& info) { return info.param; });

// Fan and temperature keys come from their files, every other key through the cursor.
TEST_P(ApplesmcOnFixtureTree, EveryKeyReadsAsTheSMCHoldsIt) {
  std::vector<SMCKey> listed;
  for (const EmulatedKey& key : keys) {
    listed.push_back({key.code, key.info});
    const SMCBytes bytes = SMCAccess::readKey(key.code, key.info.size);
    // The kernel shows no more of the identification record than its name, bytes 4 to 15, up
    // to its first zero byte; the driver pads it with blanks, as the SMC pads its names.
    std::vector<std::uint8_t> expected = key.value;
    const std::size_t first = key.info == DataTypes::FDS ? 4 : 0;
    if (key.info == DataTypes::FDS) {
      std::fill(std::find(expected.begin() + 4, expected.end(), 0), expected.end(), ' ');
    }
    EXPECT_TRUE(std::equal(expected.begin() + first, expected.end(), bytes.begin() + first))
        << fourCharCodeToText(key.code);
  }
  EXPECT_EQ(SMCAccess::readAllKeys(), listed);
}

TEST_P(ApplesmcOnFixtureTree, KeysTheMachineLacksAnswer132) {
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F9Mn"), 2); }), SMCError::keyNotFound("F9Mn"));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("TZ9Z"), 2); }), SMCError::keyNotFound("TZ9Z"));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::writeKey(code("TZ9Z"), 2, {}); }),
            SMCError::keyNotFound("TZ9Z"));
  EXPECT_FALSE(SMCAccess::isKeyFound(code("!!!!"))); // sorts before every key
  EXPECT_FALSE(SMCAccess::isKeyFound(code("~~~~"))); // and after every key
  EXPECT_EQ(smcErrorOf([&] { SMCAccess::readKeyAtIndex(std::ssize(keys)); })->kind(),
            SMCError::Kind::keyNotFound);
}

TEST_P(ApplesmcOnFixtureTree, AnOrdinaryUserReadsFansAndTheCountButNotTheCursor) {
  files->setRoot(false);
  EXPECT_EQ(SMCAccess::readKeyCount(), std::ssize(keys));
  EXPECT_EQ(SMCAccess::readKey(code("F2Ac"), 2), bytesOf({0x11, 0x30}));
  const std::function<void()> refused[] = {
      [] { SMCAccess::readKey(code("BSIn"), 1); },
      [] { SMCAccess::readKeyInfo(code("F0Ac")); },
      [] { SMCAccess::isKeyFound(code("BNum")); },
      [] { SMCAccess::readKeyAtIndex(0); },
      [] {
        SMCAccess::writeKey(code("F0Mn"), 2, bytesOf({0x0E, 0x10}));
      },
  };
  for (const auto& operation : refused) {
    EXPECT_EQ(smcErrorOf(operation), SMCError::notPrivileged());
  }
}

TEST_P(ApplesmcOnFixtureTree, FanMinimumIsTheOnlyKeyWrittenToItsFile) {
  SMCAccess::writeKey(code("F0Mn"), 2, bytesOf({0x0E, 0x13})); // 900 and three quarters
  EXPECT_EQ(files->readFile(inFans("fan1_min")).data, "900");
  EXPECT_EQ(SMCAccess::readKey(code("F0Mn"), 2), bytesOf({0x0E, 0x10}));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::writeKey(code("F0Mn"), 1, bytesOf({0x0E})); }),
            SMCError::unknown(kIOReturnBadArgument, 0));
  EXPECT_EQ(smcErrorOf([] {
              SMCAccess::writeKey(code("F0Mx"), 2, bytesOf({0x46, 0x50}));
            }),
            SMCError::unknown(kIOReturnUnsupported, 0));
}

// Failed accesses map their errno (EIO is the driver's timeout); contents the kernel never
// writes (speeds out of range, non-numbers) are errors, never values.
TEST_P(ApplesmcOnFixtureTree, FailedAccessesAndImpossibleContentsAreErrors) {
  for (const std::string contents :
       {"fast\n", "16384\n", "-1\n", "99999999999999999999\n", "", "\x01\x02"}) {
    files->addFile(inFans("fan1_input"), contents);
    EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F0Ac"), 2); }),
              SMCError::unknown(kIOReturnError, 0))
        << contents;
  }
  files->addFile(inFans("fan1_label"), "A label far longer than twelve\n");
  const SMCBytes label = SMCAccess::readKey(code("F0ID"), 16);
  EXPECT_EQ(std::string(label.begin() + 4, label.begin() + 16), "A label far ");

  files->failAccess(inFans("fan1_input"), EIO);
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F0Ac"), 2); }),
            SMCError::unknown(kIOReturnTimeout, 0));
  files->failAccess(inDevice("key_at_index_data"), EBUSY);
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("BSIn"), 1); }),
            SMCError::unknown(kIOReturnBusy, 0));
}

TEST_P(ApplesmcOnFixtureTree, AValueReadAfterTheCursorMovedIsNotPassedOn) {
  files->afterRead(inDevice("key_at_index_data"),
                   [this] { files->writeFile(inDevice("key_at_index"), "0"); });
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("BSIn"), 1); }),
            SMCError::unknown(kIOReturnBusy, 0));
}

class ApplesmcTree : public SMCAccessTest {};

TEST_F(ApplesmcTree, NoDeviceMeansNoDriverAndAnUnreadableOneFailsToOpen) {
  auto files = std::make_shared<InMemoryFileAccess>();
  files->addFile("/sys/bus/acpi/devices/PNP0C0A:00/hid", "PNP0C0A\n");
  install(std::make_shared<ApplesmcDriver>(files, "/sys"));
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::driverNotFound());

  install(std::make_shared<ApplesmcDriver>(std::make_shared<applesmc::RealFileAccess>(),
                                           fixturePath("sysfs/missing").string()));
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::driverNotFound());

  files->loadTree(fixturePath("sysfs/flat-stuck"));
  files->failAccess(kFlatDevice, EACCES);
  install(std::make_shared<ApplesmcDriver>(files, "/sys"));
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::failedToOpen());
}

TEST_F(ApplesmcTree, KeyCountsTheKernelNeverWritesAreErrors) {
  auto files = std::make_shared<InMemoryFileAccess>();
  files->loadTree(fixturePath("sysfs/flat-stuck"));
  install(std::make_shared<ApplesmcDriver>(files, "/sys"));
  SMCAccess::openSMC();
  for (const char* count : {"4294967296\n", "-1\n", "many\n", ""}) {
    files->addFile(kFlatDevice + "/key_count", count);
    EXPECT_EQ(smcErrorOf([] { SMCAccess::readAllKeys(); }), SMCError::unknown(kIOReturnError, 0))
        << count;
  }
}

// The driver over a fixture tree as it lies on disk (the layouts are read from in-memory copies
// above and in app/fan_anomaly_test.cpp): fans need no key cursor.
TEST_F(ApplesmcTree, ReadsFansOverTheRealFileSystem) {
  install(std::make_shared<ApplesmcDriver>(std::make_shared<applesmc::RealFileAccess>(),
                                           fixturePath("sysfs/hwmon-normal/sys").string()));
  SMCAccess::openSMC();
  EXPECT_EQ(SMCAccess::readKey(code("FNum"), 1)[0], 3);
  EXPECT_EQ(SMCAccess::readKey(code("F0Ac"), 2), bytesOf({0x0D, 0xE8}));
  const SMCBytes name = SMCAccess::readKey(code("F1ID"), 16);
  EXPECT_EQ(std::string(name.begin() + 4, name.begin() + 16), "PS Fan      ");
}

} // namespace
} // namespace ventaro::testing
