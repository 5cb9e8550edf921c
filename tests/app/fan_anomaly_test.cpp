#include "app/fan_anomaly.h"
#include "smc/applesmc/applesmc_driver.h"
#include "tests/smc/smc_machine.h"

#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

using ::testing::ElementsAre;

class FanAnomalyCheck : public SMCAccessTest {
protected:
  bool check(Keys keys = stuckFanMachine()) {
    smc = install(std::make_shared<EmulatedSMC>(std::move(keys)));
    return hasFanAnomaly();
  }
};

TEST_F(FanAnomalyCheck, EachConditionHoldsExactlyAtItsBoundary) {
  // What is changed, the key, its new value, whether the state is still the stuck one.
  const std::tuple<const char*, const char*, std::vector<std::uint8_t>, bool> cases[] = {
      {"two fans", "FNum", {2}, false},
      {"255 fans", "FNum", {255}, true},
      {"fan 0 at 1000", "F0Ac", {0x0F, 0xA0}, false},
      {"fan 0 at 1000.75", "F0Ac", {0x0F, 0xA3}, false},
      {"fan 0 at 1001", "F0Ac", {0x0F, 0xA4}, true},
      {"fan 0 minimum 801", "F0Mn", {0x0C, 0x84}, false},
      {"fan 0 minimum 799", "F0Mn", {0x0C, 0x7C}, false},
      {"fan 0 maximum 4501", "F0Mx", {0x46, 0x54}, false},
      {"fan 1 minimum 601", "F1Mn", {0x09, 0x64}, false},
      {"fan 1 maximum 2799", "F1Mx", {0x2B, 0xBC}, false},
      {"text around PCI", "F0ID", fanIdentification("xPCIe Slot"), true},
      {"lower-case pci", "F0ID", fanIdentification("pci Fan"), false},
      {"PS alone", "F1ID", fanIdentification("PS"), true},
      {"lower-case ps", "F1ID", fanIdentification("ps Fan"), false},
      {"names swapped", "F1ID", fanIdentification("PCI Fan"), false},
  };
  for (const auto& [change, key, value, anomaly] : cases) {
    Keys keys = stuckFanMachine();
    setKey(keys, key, value);
    EXPECT_EQ(check(keys), anomaly) << change;
  }
}

// Whichever read fails, the check is one pass of eight reads (fan 1's current speed never among
// them) that writes nothing and closes the connection again.
TEST_F(FanAnomalyCheck, FailedReadsCountAsDefaultsAndTheRestStillHappen) {
  const std::pair<const char*, EmulatedFailure> cases[] = {
      {"FNum", EmulatedFailure::resultByte(132)},
      {"F1ID", EmulatedFailure::notPrivileged()},
      {"F0Ac", EmulatedFailure::returnCode(kIOReturnTimeout)},
  };
  for (const auto& [failing, failure] : cases) {
    smc = install(std::make_shared<EmulatedSMC>(stuckFanMachine()));
    smc->failKey(fourCharCodeFromText(failing), failure);
    EXPECT_FALSE(hasFanAnomaly()) << failing;
    EXPECT_THAT(exchangedKeys(*smc),
                ElementsAre("FNum", "F0ID", "F0Mn", "F0Mx", "F0Ac", "F1ID", "F1Mn", "F1Mx"))
        << failing;
    EXPECT_TRUE(std::ranges::all_of(smc->exchanges(), [](const auto& read) {
      return read.command == 5;
    })) << "the check only reads";
    EXPECT_EQ(smc->callCounts().closeService, 1) << failing;
  }
  Keys keys = stuckFanMachine();
  removeKey(keys, "F1Ac"); // never read, so never missed
  setKey(keys, "FNum", {0});
  EXPECT_FALSE(check(keys));
  EXPECT_EQ(smc->exchangeCount(), 8u) << "a count of 0 does not cut the reads short";
}

TEST_F(FanAnomalyCheck, NoConnectionMeansNoReadAndNoClose) {
  smc = install(std::make_shared<EmulatedSMC>(stuckFanMachine()));
  smc->setServicePresent(false);
  EXPECT_FALSE(hasFanAnomaly());
  smc->setServicePresent(true);
  smc->setOpenResult(kIOReturnNotPrivileged);
  EXPECT_FALSE(hasFanAnomaly());
  EXPECT_EQ(smc->exchangeCount(), 0u);
  EXPECT_EQ(smc->callCounts().closeService, 0);
}

// The Linux driver over the kernel's files as an ordinary user sees them: writes refused and
// no key cursor, which the check must not need.
class FanAnomalyOnSysfs : public SMCAccessTest {};

TEST_F(FanAnomalyOnSysfs, AnswersFromTheFanFilesOfEachTree) {
  for (const std::string tree : {"flat-stuck", "hwmon-stuck", "flat-normal", "hwmon-normal"}) {
    const bool anomaly = tree.ends_with("-stuck");
    auto files = std::make_shared<applesmc::InMemoryFileAccess>();
    files->loadTree(fixturePath("sysfs/" + tree));
    files->setRoot(false);
    install(std::make_shared<applesmc::ApplesmcDriver>(files, "/sys"));
    EXPECT_EQ(hasFanAnomaly(), anomaly) << tree;
    // The diagnosis reads every fan in the same pass and decides the same way.
    const FanReading every = readFans(true);
    EXPECT_EQ(every.fans.size(), 3u) << tree;
    for (const FanValues& fan : every.fans) {
      EXPECT_TRUE(fan.name && fan.minimum && fan.maximum && fan.current) << tree << fan.index;
    }
    EXPECT_EQ(fanRuleTerms(every).size(), 8u) << tree;
    EXPECT_EQ(fansAreStuck(every), anomaly) << tree;
  }
}

} // namespace
} // namespace ventaro::testing
