#include "fan_machine.h"
#include "smc/fans.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ventaro {
namespace {

using emulated::EmulatedSMC;
using SMCAccess::SMCError;
using ::testing::ElementsAre;
using testing::setKey;
using testing::smcErrorOf;
using namespace std::string_literals;

class FanOperations : public testing::SMCAccessTest {
protected:
  void start() {
    smc = install(std::make_shared<EmulatedSMC>(keys));
    SMCAccess::openSMC();
  }

  std::vector<emulated::EmulatedKey> keys = testing::stuckFanMachine();
  std::shared_ptr<EmulatedSMC> smc;
};

TEST_F(FanOperations, ListingTwoFansReadsSevenKeysInOrder) {
  setKey(keys, "FNum", {2});
  start();
  EXPECT_THAT(SMCAccess::readAllFans(),
              ElementsAre(Fan{0, "PCI Fan", 800, 4500}, Fan{1, "PS Fan", 600, 2800}));
  EXPECT_THAT(testing::exchangedKeys(*smc),
              ElementsAre("FNum", "F0ID", "F0Mn", "F0Mx", "F1ID", "F1Mn", "F1Mx"));
  const std::uint64_t sizes[] = {1, 16, 2, 2, 16, 2, 2};
  for (std::size_t i = 0; i < smc->exchangeCount(); ++i) {
    EXPECT_EQ(smc->exchanges()[i].command, 5) << i;
    EXPECT_EQ(smc->exchanges()[i].dataSize, sizes[i]) << i;
  }
}

TEST_F(FanOperations, ListingEndsAtACountOfZeroOrAtTheFirstError) {
  setKey(keys, "FNum", {0});
  start();
  EXPECT_TRUE(SMCAccess::readAllFans().empty());
  EXPECT_EQ(smc->exchangeCount(), 1u);

  setKey(keys, "FNum", {3});
  testing::removeKey(keys, "F1Mn");
  start();
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readAllFans(); }), SMCError::keyNotFound("F1Mn"));
  EXPECT_EQ(smc->exchangeCount(), 6u) << "nothing is read after the failure";
}

TEST_F(FanOperations, NamesAreLatin1TrimmedOfTabSpaceAndNoBreakSpaceOnly) {
  struct Case {
    std::string nameBytes; // bytes 4 to 15, padded with the fill
    std::uint8_t fill;
    std::string name;
  };
  const Case cases[] = {
      {"  Word", ' ', "Word"},
      {"", ' ', ""},
      {"CPU Fan", 0, "CPU Fan\0\0\0\0\0"s},
      {"\t\xA0 Fan", '\t', "Fan"},
      {"\nFan\r", 0xA0, "\nFan\r"},
      {"\0 Fan"s, ' ', "\0 Fan"s},
      {"Caf\xE9", ' ', "Caf\xC3\xA9"},
      {"\xFF\xA0\xFF", ' ', "\xC3\xBF\xC2\xA0\xC3\xBF"},
  };
  for (const auto& [nameBytes, fill, name] : cases) {
    auto record = testing::fanIdentification(nameBytes, fill);
    record[0] = 'X'; // bytes 0 to 3 are no part of the name
    setKey(keys, "F0ID", record);
    start();
    EXPECT_EQ(SMCAccess::readFanName(0), name) << ::testing::PrintToString(nameBytes);
  }
}

TEST_F(FanOperations, SpeedsDropTheFractionBits) {
  setKey(keys, "F2Mn", {0x00, 0x03});
  setKey(keys, "F2Mx", {0xFF, 0xFF});
  setKey(keys, "F2Ac", {0x0C, 0x83});
  start();
  EXPECT_EQ(SMCAccess::readFanMinimum(2), 0);
  EXPECT_EQ(SMCAccess::readFanMaximum(2), 16383);
  EXPECT_EQ(SMCAccess::readFanActual(2), 800);
  EXPECT_EQ(SMCAccess::readFanSpeed(2, "Mx"), 16383);
  EXPECT_THAT(testing::exchangedKeys(*smc), ElementsAre("F2Mn", "F2Mx", "F2Ac", "F2Mx"));
  EXPECT_EQ(SMCAccess::readFan(1), (Fan{1, "PS Fan", 600, 2800}));
}

TEST_F(FanOperations, IndexesWithoutAOneDigitKeyAreRefusedUnsent) {
  start();
  const SMCError refused = SMCError::unknown(kIOReturnBadArgument, 0);
  for (const std::int64_t index : {std::int64_t{-1}, std::int64_t{10}, std::int64_t{255}}) {
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::readFanName(index); }), refused) << index;
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::readFanActual(index); }), refused) << index;
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::writeFanMinimum(index, 900); }), refused) << index;
  }
  for (const char* suffix : {"M", "Mnx", ""}) {
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::readFanSpeed(0, suffix); }), refused) << suffix;
  }
  EXPECT_EQ(smc->exchangeCount(), 0u);
}

TEST_F(FanOperations, UnsafeMinimumsAreRefusedAfterReadingTheMaximum) {
  start();
  for (const std::int64_t speed : {std::int64_t{0}, std::int64_t{-5}, std::int64_t{4501}}) {
    smc->clearExchanges();
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::writeFanMinimum(0, speed); }), SMCError::unsafeFanSpeed())
        << speed;
    EXPECT_THAT(testing::exchangedKeys(*smc), ElementsAre("F0Mx")) << speed;
  }
  EXPECT_EQ(smc->key(fourCharCodeLiteral("F0Mn"))->value, (std::vector<std::uint8_t>{0x0C, 0x80}));

  testing::removeKey(keys, "F0Mx");
  start();
  EXPECT_EQ(smcErrorOf([] { SMCAccess::writeFanMinimum(0, 900); }), SMCError::keyNotFound("F0Mx"));
  EXPECT_EQ(smc->exchangeCount(), 1u) << "nothing is written without the maximum";
}

TEST_F(FanOperations, MinimumIsWrittenAsFpe2WithThirtyZeroBytes) {
  setKey(keys, "F0Mn", {0x00, 0x00});
  start();
  SMCAccess::writeFanMinimum(0, 800);
  ASSERT_EQ(smc->exchangeCount(), 2u);
  const auto& write = smc->exchanges()[1];
  EXPECT_EQ(fourCharCodeToText(write.key), "F0Mn");
  EXPECT_EQ(write.command, 6);
  EXPECT_EQ(write.dataSize, 2u);
  EXPECT_EQ(write.bytes, testing::bytesOf({0x0C, 0x80}));

  SMCAccess::writeFanMinimum(0, 4500); // the maximum itself is allowed
  EXPECT_EQ(smc->key(fourCharCodeLiteral("F0Mn"))->value, (std::vector<std::uint8_t>{0x46, 0x50}));
}

} // namespace
} // namespace ventaro
