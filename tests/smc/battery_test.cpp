#include "fan_machine.h"
#include "smc/battery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ventaro {
namespace {

using emulated::EmulatedSMC;
using SMCAccess::SMCError;
using ::testing::ElementsAre;
using testing::setKey;

class BatteryOperations : public testing::SMCAccessTest {
protected:
  void start() {
    smc = install(std::make_shared<EmulatedSMC>(keys));
    SMCAccess::openSMC();
  }
  std::vector<emulated::EmulatedKey> keys = testing::stuckFanMachine();
  std::shared_ptr<EmulatedSMC> smc;
};

TEST_F(BatteryOperations, DecodesCountFlagAndStatusBits) {
  struct Case {
    std::uint8_t count, power, status;
    batteryInfo info;
  };
  const Case cases[] = {
      {1, 0, 0x43, {1, true, false, true, true}},
      {0, 1, 0xBC, {0, false, true, false, false}},
      {255, 2, 0xFF, {255, true, false, true, true}}, // a flag is true only when it is 1
  };
  for (const auto& [count, power, status, info] : cases) {
    setKey(keys, "BNum", {count});
    setKey(keys, "BATP", {power});
    setKey(keys, "BSIn", {status});
    start();
    EXPECT_EQ(SMCAccess::readBatteryInfo(), info) << int{status};
    EXPECT_THAT(testing::exchangedKeys(*smc), ElementsAre("BNum", "BATP", "BSIn"));
    for (const auto& exchange : smc->exchanges()) {
      EXPECT_EQ(exchange.dataSize, 1u);
    }
  }
}

TEST_F(BatteryOperations, FirstFailureEndsTheReads) {
  testing::removeKey(keys, "BATP");
  start();
  EXPECT_EQ(testing::smcErrorOf([] { SMCAccess::readBatteryInfo(); }),
            SMCError::keyNotFound("BATP"));
  EXPECT_EQ(smc->exchangeCount(), 2u);
}

TEST_F(BatteryOperations, MSDIFlagIsTrueOnlyForOne) {
  for (const auto& [byte, flag] : {std::pair{0x01, true}, {0x00, false}, {0xFF, false}}) {
    setKey(keys, "MSDI", {static_cast<std::uint8_t>(byte)});
    start();
    EXPECT_EQ(SMCAccess::readMSDIFlag(), flag) << byte;
  }
}

} // namespace
} // namespace ventaro
