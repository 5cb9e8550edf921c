#include "smc/battery.h"
#include "smc/fans.h"
#include "tests/smc/smc_machine.h"

#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

using ::testing::ElementsAre;
using namespace std::string_literals;

class FanOperations : public SMCAccessTest {
protected:
  Keys keys = stuckFanMachine();
};

TEST_F(FanOperations, ListingReadsEachFanInOrderAndEndsAtTheFirstError) {
  setKey(keys, "FNum", {2});
  start(keys);
  EXPECT_THAT(SMCAccess::readAllFans(),
              ElementsAre(Fan{0, "PCI Fan", 800, 4500}, Fan{1, "PS Fan", 600, 2800}));
  EXPECT_THAT(exchangedKeys(*smc),
              ElementsAre("FNum", "F0ID", "F0Mn", "F0Mx", "F1ID", "F1Mn", "F1Mx"));

  setKey(keys, "FNum", {0});
  start(keys);
  EXPECT_TRUE(SMCAccess::readAllFans().empty());
  EXPECT_EQ(smc->exchangeCount(), 1u);

  setKey(keys, "FNum", {3});
  removeKey(keys, "F1Mn");
  start(keys);
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readAllFans(); }), SMCError::keyNotFound("F1Mn"));
  EXPECT_EQ(smc->exchangeCount(), 6u) << "nothing is read after the failure";
}

TEST_F(FanOperations, NamesAreLatin1TrimmedOfTabSpaceAndNoBreakSpaceOnly) {
  // Bytes 4 to 15, what pads them, the name.
  const std::tuple<std::string, std::uint8_t, std::string> cases[] = {
      {"  Word", ' ', "Word"},     {"CPU Fan", 0, "CPU Fan\0\0\0\0\0"s},
      {"\t\xA0 Fan", '\t', "Fan"}, {"\nFan\r", 0xA0, "\nFan\r"},
      {"\0 Fan"s, ' ', "\0 Fan"s}, {"\xFF\xA0\xFF", ' ', "\xC3\xBF\xC2\xA0\xC3\xBF"},
  };
  for (const auto& [nameBytes, fill, name] : cases) {
    auto record = fanIdentification(nameBytes, fill);
    record[0] = 'X'; // bytes 0 to 3 are no part of the name
    setKey(keys, "F0ID", record);
    start(keys);
    EXPECT_EQ(SMCAccess::readFanName(0), name) << ::testing::PrintToString(nameBytes);
  }
}

TEST_F(FanOperations, IndexesWithoutAOneDigitKeyAreRefusedUnsent) {
  start(keys);
  const SMCError refused = SMCError::unknown(kIOReturnBadArgument, 0);
  for (const std::int64_t index : {-1, 10, 255}) {
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::readFanActual(index); }), refused) << index;
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::writeFanMinimum(index, 900); }), refused) << index;
  }
  for (const char* suffix : {"M", "Mnx", ""}) {
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::readFanSpeed(0, suffix); }), refused) << suffix;
  }
  EXPECT_EQ(smc->exchangeCount(), 0u);
}

// A minimum from 1 up to the fan's maximum is written; the record it sends is checked in
// smc_access_test.cpp.
TEST_F(FanOperations, UnsafeMinimumsAreRefusedAfterReadingTheMaximumAndNothingIsWritten) {
  start(keys);
  for (const std::int64_t speed : {0, -5, 4501}) {
    smc->clearExchanges();
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::writeFanMinimum(0, speed); }), SMCError::unsafeFanSpeed())
        << speed;
    EXPECT_THAT(exchangedKeys(*smc), ElementsAre("F0Mx")) << speed;
  }
  SMCAccess::writeFanMinimum(0, 4500);
  EXPECT_EQ(SMCAccess::readFanMinimum(0), 4500);
  removeKey(keys, "F0Mx");
  start(keys);
  EXPECT_EQ(smcErrorOf([] { SMCAccess::writeFanMinimum(0, 900); }), SMCError::keyNotFound("F0Mx"));
  EXPECT_EQ(smc->exchangeCount(), 1u) << "nothing is written without the maximum";
}

TEST_F(FanOperations, BatteryDecodesCountFlagAndStatusBitsAndStopsAtTheFirstFailure) {
  const struct {
    std::uint8_t count, power, status, msdi;
    batteryInfo info;
    bool msdiFlag;
  } cases[] = {
      {1, 0, 0x43, 1, {1, true, false, true, true}, true},
      {0, 1, 0xBC, 0, {0, false, true, false, false}, false},
      {255, 2, 0xFF, 0xFF, {255, true, false, true, true}, false}, // a flag is only 1
  };
  for (const auto& c : cases) {
    setKey(keys, "BNum", {c.count});
    setKey(keys, "BATP", {c.power});
    setKey(keys, "BSIn", {c.status});
    setKey(keys, "MSDI", {c.msdi});
    start(keys);
    EXPECT_EQ(SMCAccess::readBatteryInfo(), c.info) << int{c.status};
    EXPECT_EQ(SMCAccess::readMSDIFlag(), c.msdiFlag) << int{c.msdi};
  }
  removeKey(keys, "BATP");
  start(keys);
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readBatteryInfo(); }), SMCError::keyNotFound("BATP"));
  EXPECT_EQ(smc->exchangeCount(), 2u);
}

} // namespace
} // namespace ventaro::testing
