#include "smc/applesmc/applesmc_driver.h"
#include "smc/applesmc/in_memory_file_access.h"
#include "smc/applesmc/real_file_access.h"
#include "smc/emulated/smc_profile.h"
#include "smc/fpe2.h"
#include "smc/smc_access.h"
#include "smc_test_support.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>

namespace ventaro {
namespace {

using applesmc::ApplesmcDriver;
using applesmc::InMemoryFileAccess;
using emulated::EmulatedKey;
using SMCAccess::SMCError;
using testing::bytesOf;
using testing::smcErrorOf;

constexpr FourCharCode code(const char (&text)[5]) {
  return fourCharCodeLiteral(text);
}

// In the SMC's order.
std::vector<EmulatedKey> stuckFanKeys() {
  return emulated::EmulatedSMC(
             emulated::loadSMCProfile(testing::fixturePath("smc/stuck-fan.profile")))
      .keys();
}

bool isFanKey(FourCharCode key) {
  const std::string text = fourCharCodeBytes(key);
  return key == code("FNum") || (text[0] == 'F' && text[1] >= '0' && text[1] <= '9');
}

struct Tree {
  const char* name;
  const char* deviceDirectory;
  const char* fanDirectory;
};

void PrintTo(const Tree& tree, std::ostream* out) {
  *out << tree.name;
}

const Tree kFlat{"flat", "/sys/devices/platform/applesmc.768",
                 "/sys/devices/platform/applesmc.768"};
const Tree kHwmon{"hwmon", "/sys/bus/acpi/devices/APP0001:00",
                  "/sys/bus/acpi/devices/APP0001:00/hwmon/hwmon3"};

// The driver over a fixture tree of the stuck-fan machine, its key cursor answering from the
// machine's profile.
class ApplesmcOnFixtureTree : public testing::SMCAccessTest,
                              public ::testing::WithParamInterface<Tree> {
protected:
  void SetUp() override {
    files = std::make_shared<InMemoryFileAccess>();
    files->loadTree(testing::fixturePath(std::string("sysfs/") + GetParam().name + "-stuck"));
    files->attachKeyCursor(GetParam().deviceDirectory, testing::cursorKeysOf(keys));
    install(std::make_shared<ApplesmcDriver>(files, "/sys"));
    SMCAccess::openSMC();
  }

  std::string fanFile(const char* name) const {
    return std::string(GetParam().fanDirectory) + "/" + name;
  }

  const std::vector<EmulatedKey> keys = stuckFanKeys();
  std::shared_ptr<InMemoryFileAccess> files;
};

INSTANTIATE_TEST_SUITE_P(Layouts, ApplesmcOnFixtureTree, ::testing::Values(kFlat, kHwmon),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(ApplesmcOnFixtureTree, FanKeysReadAsTheSMCHoldsThem) {
  for (const bool root : {true, false}) {
    files->setRoot(root);
    for (const EmulatedKey& key : keys) {
      if (!isFanKey(key.code)) {
        continue;
      }
      const SMCBytes bytes = SMCAccess::readKey(key.code, key.info.size);
      // The kernel shows no more of the identification record than its name, bytes 4 to 15.
      const std::size_t first = key.info == DataTypes::FDS ? 4 : 0;
      for (std::size_t i = first; i < key.value.size(); ++i) {
        EXPECT_EQ(bytes[i], key.value[i]) << fourCharCodeToText(key.code) << " byte " << i;
      }
    }
  }
}

TEST_P(ApplesmcOnFixtureTree, EveryOtherKeyGoesThroughTheCursorAsRoot) {
  std::vector<SMCKey> listed;
  for (const EmulatedKey& key : keys) {
    listed.push_back({key.code, key.info});
    if (!isFanKey(key.code)) {
      const SMCBytes bytes = SMCAccess::readKey(key.code, key.info.size);
      EXPECT_TRUE(std::equal(key.value.begin(), key.value.end(), bytes.begin()))
          << fourCharCodeToText(key.code);
    }
  }
  EXPECT_EQ(SMCAccess::readAllKeys(), listed);
  EXPECT_EQ(SMCAccess::readKeyInfo(code("TC0P")), DataTypes::SP78);
}

TEST_P(ApplesmcOnFixtureTree, KeysTheMachineLacksAnswer132) {
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F9Mn"), 2); }), SMCError::keyNotFound("F9Mn"));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("TZ9Z"), 2); }), SMCError::keyNotFound("TZ9Z"));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::writeKey(code("TZ9Z"), 2, {}); }),
            SMCError::keyNotFound("TZ9Z"));
  EXPECT_FALSE(SMCAccess::isKeyFound(code("!!!!"))); // sorts before every key
  EXPECT_FALSE(SMCAccess::isKeyFound(code("~~~~"))); // and after every key
  EXPECT_EQ(smcErrorOf([&] {
              SMCAccess::readKeyAtIndex(static_cast<std::int64_t>(keys.size()));
            })->kind(),
            SMCError::Kind::keyNotFound);
}

TEST_P(ApplesmcOnFixtureTree, AnOrdinaryUserReadsFansAndTheCountButNotTheCursor) {
  files->setRoot(false);
  EXPECT_EQ(SMCAccess::readKeyCount(), static_cast<std::int64_t>(keys.size()));
  EXPECT_EQ(SMCAccess::readKey(code("F0Ac"), 2), bytesOf({0x1C, 0xE8}));
  const std::function<void()> cursorOperations[] = {
      [] { SMCAccess::readKey(code("TC0P"), 2); },
      [] { SMCAccess::readKeyInfo(code("F0Ac")); },
      [] { SMCAccess::isKeyFound(code("BNum")); },
      [] { SMCAccess::readKeyAtIndex(0); },
      [] {
        SMCAccess::writeKey(code("F0Mn"), 2, bytesOf({0x0E, 0x10}));
      },
  };
  for (const auto& operation : cursorOperations) {
    EXPECT_EQ(smcErrorOf(operation), SMCError::notPrivileged());
  }
}

TEST_P(ApplesmcOnFixtureTree, FanMinimumIsWrittenToItsFileAndReadBack) {
  SMCAccess::writeKey(code("F0Mn"), 2, bytesOf({0x0E, 0x13})); // 900 and three quarters
  EXPECT_EQ(files->contents(fanFile("fan1_min")), "900");
  EXPECT_EQ(SMCAccess::readKey(code("F0Mn"), 2), bytesOf({0x0E, 0x10}));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::writeKey(code("F0Mn"), 1, bytesOf({0x0E})); }),
            SMCError::unknown(kIOReturnBadArgument, 0));
  // The kernel offers no way to write any other key.
  EXPECT_EQ(smcErrorOf([] {
              SMCAccess::writeKey(code("F0Mx"), 2, bytesOf({0x46, 0x50}));
            }),
            SMCError::unknown(kIOReturnUnsupported, 0));
}

TEST_P(ApplesmcOnFixtureTree, FailedAccessesMapTheirErrno) {
  files->failAccess(fanFile("fan1_input"), EIO);
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F0Ac"), 2); }),
            SMCError::unknown(kIOReturnTimeout, 0));
  files->addFile(fanFile("fan2_input"), "fast\n");
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F1Ac"), 2); }),
            SMCError::unknown(kIOReturnError, 0));
  files->failAccess(std::string(GetParam().deviceDirectory) + "/key_at_index_data", EBUSY);
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("TC0P"), 2); }),
            SMCError::unknown(kIOReturnBusy, 0));
}

TEST_P(ApplesmcOnFixtureTree, AValueReadAfterTheCursorMovedIsNotPassedOn) {
  const std::string device = GetParam().deviceDirectory;
  files->afterRead(device + "/key_at_index_data",
                   [this, device] { files->writeFile(device + "/key_at_index", "0"); });
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("TC0P"), 2); }),
            SMCError::unknown(kIOReturnBusy, 0));
}

class ApplesmcWithoutDevice : public testing::SMCAccessTest {};

TEST_F(ApplesmcWithoutDevice, NoDeviceDirectoryMeansNoDriver) {
  auto files = std::make_shared<InMemoryFileAccess>();
  files->addFile("/sys/bus/acpi/devices/PNP0C0A:00/hid", "PNP0C0A\n");
  install(std::make_shared<ApplesmcDriver>(files, "/sys"));
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::driverNotFound());

  install(std::make_shared<ApplesmcDriver>(std::make_shared<applesmc::RealFileAccess>(),
                                           testing::fixturePath("sysfs/missing").string()));
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::driverNotFound());
}

TEST_F(ApplesmcWithoutDevice, AnUnreadableDeviceDirectoryFailsToOpen) {
  auto files = std::make_shared<InMemoryFileAccess>();
  files->loadTree(testing::fixturePath("sysfs/flat-stuck"));
  files->failAccess(kFlat.deviceDirectory, EACCES);
  install(std::make_shared<ApplesmcDriver>(files, "/sys"));
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::failedToOpen());
}

// The driver over the fixture files as they lie on disk: fans need no key cursor.
TEST_F(ApplesmcWithoutDevice, ReadsFansOverTheRealFileSystem) {
  struct Case {
    std::string tree;
    SMCBytes fan0Speed;
  };
  for (const auto& [tree, fan0Speed] :
       {Case{"flat-stuck", bytesOf({0x1C, 0xE8})}, Case{"hwmon-stuck", bytesOf({0x1C, 0xE8})},
        Case{"flat-normal", bytesOf({0x0D, 0xE8})}, Case{"hwmon-normal", bytesOf({0x0D, 0xE8})}}) {
    install(
        std::make_shared<ApplesmcDriver>(std::make_shared<applesmc::RealFileAccess>(),
                                         (testing::fixturePath("sysfs") / tree / "sys").string()));
    SMCAccess::openSMC();
    EXPECT_EQ(SMCAccess::readKey(code("FNum"), 1)[0], 3) << tree;
    EXPECT_EQ(SMCAccess::readKey(code("F0Ac"), 2), fan0Speed) << tree;
    const SMCBytes name = SMCAccess::readKey(code("F1ID"), 16);
    EXPECT_EQ(std::string(name.begin() + 4, name.begin() + 16), "PS Fan      ") << tree;
  }
}

} // namespace
} // namespace ventaro
