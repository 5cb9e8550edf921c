#include "app/fan_anomaly.h"
#include "smc/applesmc/applesmc_driver.h"
#include "tests/smc/fan_machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ventaro {
namespace {

using emulated::EmulatedFailure;
using emulated::EmulatedKey;
using emulated::EmulatedSMC;
using ::testing::ElementsAre;
using testing::setKey;

class FanAnomalyCheck : public testing::SMCAccessTest {
protected:
  bool check() {
    smc = install(std::make_shared<EmulatedSMC>(keys));
    return hasFanAnomaly();
  }

  std::vector<EmulatedKey> keys = testing::stuckFanMachine();
  std::shared_ptr<EmulatedSMC> smc;
};

TEST_F(FanAnomalyCheck, StuckMachineIsOnePassOfEightReads) {
  EXPECT_TRUE(check());
  EXPECT_THAT(testing::exchangedKeys(*smc),
              ElementsAre("FNum", "F0ID", "F0Mn", "F0Mx", "F0Ac", "F1ID", "F1Mn", "F1Mx"));
  for (const auto& exchange : smc->exchanges()) {
    EXPECT_EQ(exchange.command, 5) << "the check only reads";
  }
  EXPECT_EQ(smc->callCounts().openService, 1);
  EXPECT_EQ(smc->callCounts().closeService, 1);
  EXPECT_FALSE(smc->isOpen(SMCAccess::connection));
}

TEST_F(FanAnomalyCheck, EachConditionHoldsExactlyAtItsBoundary) {
  struct Case {
    const char* change;
    const char* key;
    std::vector<std::uint8_t> value;
    bool anomaly;
  };
  const auto id = [](const char* name) { return testing::fanIdentification(name); };
  const Case cases[] = {
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
      {"text around PCI", "F0ID", id("xPCIe Slot"), true},
      {"lower-case pci", "F0ID", id("pci Fan"), false},
      {"PS alone", "F1ID", id("PS"), true},
      {"lower-case ps", "F1ID", id("ps Fan"), false},
      {"names swapped", "F1ID", id("PCI Fan"), false},
      {"fan 1 stopped", "F1Ac", {0x00, 0x00}, true},
      {"fan 1 at its top", "F1Ac", {0xFF, 0xFF}, true},
  };
  for (const auto& [change, key, value, anomaly] : cases) {
    keys = testing::stuckFanMachine();
    setKey(keys, key, value);
    EXPECT_EQ(check(), anomaly) << change;
  }
}

TEST_F(FanAnomalyCheck, FailedReadsCountAsDefaultsAndTheRestStillHappen) {
  struct Case {
    const char* failing;
    EmulatedFailure failure;
  };
  const Case cases[] = {
      {"FNum", EmulatedFailure::resultByte(132)},
      {"F1ID", EmulatedFailure::notPrivileged()},
      {"F0Ac", EmulatedFailure::returnCode(kIOReturnTimeout)},
      {"F1Mx", EmulatedFailure::resultByte(1)},
  };
  for (const auto& [failing, failure] : cases) {
    smc = install(std::make_shared<EmulatedSMC>(keys));
    smc->failKey(fourCharCodeFromText(failing), failure);
    EXPECT_FALSE(hasFanAnomaly()) << failing;
    EXPECT_EQ(smc->exchangeCount(), 8u) << failing;
    EXPECT_EQ(smc->callCounts().closeService, 1) << failing;
  }

  testing::removeKey(keys, "F1Ac"); // never read, so never missed
  setKey(keys, "FNum", {0});
  EXPECT_FALSE(check());
  EXPECT_EQ(smc->exchangeCount(), 8u) << "a count of 0 does not cut the reads short";
}

TEST_F(FanAnomalyCheck, NoConnectionMeansNoReadAndNoClose) {
  smc = install(std::make_shared<EmulatedSMC>(keys));
  smc->setServicePresent(false);
  EXPECT_FALSE(hasFanAnomaly());
  smc->setServicePresent(true);
  smc->setOpenResult(kIOReturnNotPrivileged);
  EXPECT_FALSE(hasFanAnomaly());
  EXPECT_EQ(smc->exchangeCount(), 0u);
  EXPECT_EQ(smc->callCounts().closeService, 0);
  EXPECT_EQ(smc->callCounts().openService, 1);
}

// The Linux driver over the kernel's files as an ordinary user sees them: writes refused and no
// key cursor, which the check must not need.
class FanAnomalyOnSysfs : public testing::SMCAccessTest,
                          public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(FanAnomalyOnSysfs, AnswersFromTheFanFiles) {
  const auto& [tree, anomaly] = GetParam();
  auto files = std::make_shared<applesmc::InMemoryFileAccess>();
  if (*tree != '\0') {
    files->loadTree(testing::fixturePath(std::string("sysfs/") + tree));
  } else {
    files->addDirectory("/sys/devices/platform/serial8250");
  }
  files->setRoot(false);
  install(std::make_shared<applesmc::ApplesmcDriver>(files, "/sys"));
  EXPECT_EQ(hasFanAnomaly(), anomaly);
}

INSTANTIATE_TEST_SUITE_P(Trees, FanAnomalyOnSysfs,
                         ::testing::Values(std::pair{"flat-stuck", true},
                                           std::pair{"hwmon-stuck", true},
                                           std::pair{"flat-normal", false},
                                           std::pair{"hwmon-normal", false}, std::pair{"", false}),
                         [](const auto& info) {
                           const std::string tree = info.param.first;
                           std::string name = tree.empty() ? "NoApplesmc" : tree;
                           std::erase(name, '-');
                           return name;
                         });

} // namespace
} // namespace ventaro
