#include "tests/smc/smc_machine.h"

#include <cstring>

namespace ventaro::testing {
namespace {

using namespace std::string_literals;

EmulatedKey keyCount(std::uint32_t count) {
  return {code("#KEY"),
          DataTypes::UInt32,
          {static_cast<std::uint8_t>(count >> 24), static_cast<std::uint8_t>(count >> 16),
           static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)}};
}

// The request record, byte for byte, with only the fields an operation sets (where each field
// lies in the record is checked in smc_records_test.cpp).
std::vector<std::uint8_t> requestImage(FourCharCode key, std::uint32_t dataSize,
                                       std::uint8_t command, std::uint32_t data32 = 0,
                                       const SMCBytes& bytes = {}) {
  auto record = SMCParamStruct::zeroed();
  record.key = key;
  record.keyInfo.dataSize = dataSize;
  record.data8 = command;
  record.data32 = data32;
  record.bytes = bytes;
  std::vector<std::uint8_t> image(sizeof record);
  std::memcpy(image.data(), &record, sizeof record);
  return image;
}

class SMCAccessOnEmulatedSMC : public SMCAccessTest {
protected:
  void SetUp() override { start(stuckFanMachine()); }
};

TEST_F(SMCAccessOnEmulatedSMC, SendsExactlyTheFieldsOfEachOperation) {
  const std::pair<std::function<void()>, std::vector<std::uint8_t>> cases[] = {
      {[] { SMCAccess::readKey(code("F0Ac"), 2); }, requestImage(code("F0Ac"), 2, 5)},
      {[] {
         SMCAccess::writeKey(code("F0Mn"), 2, bytesOf({0x0C, 0x80}));
       },
       requestImage(code("F0Mn"), 2, 6, 0, bytesOf({0x0C, 0x80}))},
      {[] { SMCAccess::readKeyInfo(code("TC0P")); }, requestImage(code("TC0P"), 0, 9)},
      {[] { SMCAccess::isKeyFound(code("TC0P")); }, requestImage(code("TC0P"), 0, 9)},
      {[] { SMCAccess::readKeyCount(); }, requestImage(code("#KEY"), 4, 5)},
      {[] { SMCAccess::readKeyAtIndex(4); }, requestImage(0, 0, 8, 4)},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    smc->clearExchanges();
    cases[i].first();
    ASSERT_EQ(smc->exchangeCount(), 1u) << i;
    EXPECT_EQ(smc->exchanges()[0].request, cases[i].second) << i;
    EXPECT_EQ(smc->exchanges()[0].methodIndex, 2u) << i;
  }
}

TEST_F(SMCAccessOnEmulatedSMC, MapsEachFailedReplyToItsError) {
  const std::pair<EmulatedFailure, SMCError> cases[] = {
      {EmulatedFailure::resultByte(132), SMCError::keyNotFound("F0Mn")},
      {EmulatedFailure::resultByte(1), SMCError::unknown(kIOReturnSuccess, 1)},
      {EmulatedFailure::resultByte(0x85), SMCError::unknown(kIOReturnSuccess, 0x85)},
      {{kIOReturnNotPrivileged, 0}, SMCError::notPrivileged()},
      {{kIOReturnNotPrivileged, 132}, SMCError::notPrivileged()},
      {EmulatedFailure::returnCode(kIOReturnTimeout), SMCError::unknown(kIOReturnTimeout, 0)},
      {{kIOReturnError, 7}, SMCError::unknown(kIOReturnError, 7)},
  };
  for (const auto& [failure, error] : cases) {
    smc->failAll(failure);
    EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F0Mn"), 2); }), error) << error.what();
  }
  smc->clearFailures();
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F9Mn"), 2); }), SMCError::keyNotFound("F9Mn"));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKeyAtIndex(99); }), SMCError::keyNotFound("\0\0\0\0"s));
}

TEST_F(SMCAccessOnEmulatedSMC, ReadsAll32ReplyBytesAndTheKeyInformation) {
  smc->setReplyFill(0xEE);
  const SMCBytes bytes = SMCAccess::readKey(code("F0ID"), 1);
  EXPECT_EQ(bytes[5], 0x43); // the 'C' of "PCI" lies beyond the one byte asked for
  EXPECT_EQ(bytes[31], 0xEE);
  EXPECT_EQ(SMCAccess::readKeyInfo(code("TC0P")), DataTypes::SP78);
  EXPECT_EQ(SMCAccess::readKeyInfo(code("F0ID")), DataTypes::FDS);
}

TEST_F(SMCAccessOnEmulatedSMC, IsKeyFoundTurnsOnlyKeyNotFoundIntoFalse) {
  EXPECT_TRUE(SMCAccess::isKeyFound(code("TC0P")));
  EXPECT_FALSE(SMCAccess::isKeyFound(code("TZ9Z")));
  smc->failKey(code("TC0P"), EmulatedFailure::notPrivileged());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::isKeyFound(code("TC0P")); }), SMCError::notPrivileged());
  smc->failKey(code("TC0P"), EmulatedFailure::resultByte(1));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::isKeyFound(code("TC0P")); }),
            SMCError::unknown(kIOReturnSuccess, 1));
}

TEST_F(SMCAccessOnEmulatedSMC, ListsEveryKeyInTheSMCsOrderAndStopsAtTheFirstFailure) {
  std::vector<SMCKey> expected;
  for (const EmulatedKey& key : smc->keys()) {
    expected.push_back({key.code, key.info});
  }
  EXPECT_EQ(SMCAccess::readAllKeys(), expected);
  EXPECT_EQ(smc->exchangeCount(), 1 + 2 * expected.size());

  smc->clearExchanges();
  smc->failKey(code("BNum"), EmulatedFailure::notPrivileged());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readAllKeys(); }), SMCError::notPrivileged());
  // "#KEY", then index 0 ("#KEY") and its info, index 1 ("BATP") and its info, index 2 fails.
  EXPECT_EQ(smc->exchangeCount(), 6u);
  for (const std::int64_t index : {std::int64_t{-1}, std::int64_t{1} << 32}) {
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::readKeyAtIndex(index); }),
              SMCError::unknown(kIOReturnBadArgument, 0))
        << "refused unsent";
  }
  EXPECT_EQ(smc->exchangeCount(), 6u);
}

// The count is unsigned 32-bit; a count far beyond the keys held ends the listing at the first
// missing index, without room reserved for the claim.
TEST_F(SMCAccessTest, KeyCountsAreUnsigned32BitAndNeverTrusted) {
  for (const std::uint32_t count : {300u, 0x80000000u, 0xFFFFFFFFu}) {
    start({keyCount(count)});
    EXPECT_EQ(SMCAccess::readKeyCount(), std::int64_t{count});
    EXPECT_EQ(smcErrorOf([] { SMCAccess::readAllKeys(); }), SMCError::keyNotFound("\0\0\0\0"s));
    EXPECT_EQ(smc->exchangeCount(), 5u); // the count, then once more with "#KEY" and index 1
  }
  start({keyCount(0)});
  EXPECT_TRUE(SMCAccess::readAllKeys().empty());
  EXPECT_EQ(smc->exchangeCount(), 1u);

  // A key with its top bit set sorts last in the SMC's unsigned order (first in a signed one),
  // so with a count of 2 the listing sees "#KEY" and "TC0P".
  start(
      {keyCount(2), {0xE9303030, DataTypes::Flag, {1}}, {code("TC0P"), DataTypes::SP78, {45, 0}}});
  EXPECT_EQ(SMCAccess::readAllKeys(), (std::vector<SMCKey>{{code("#KEY"), DataTypes::UInt32},
                                                           {code("TC0P"), DataTypes::SP78}}));
  std::vector<std::pair<int, std::uint32_t>> sent; // command, key or index
  for (const auto& exchange : smc->exchanges()) {
    sent.emplace_back(exchange.command, exchange.command == 8 ? exchange.data32 : exchange.key);
  }
  EXPECT_EQ(sent, (std::vector<std::pair<int, std::uint32_t>>{
                      {5, code("#KEY")}, {8, 0}, {9, code("#KEY")}, {8, 1}, {9, code("TC0P")}}));
}

TEST_F(SMCAccessTest, OpeningAndClosingReportTheDriversAnswer) {
  // With no driver installed there is no SMC, and nothing else is tried.
  install(std::shared_ptr<SMCDriver>{});
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::driverNotFound());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKeyCount(); }), SMCError::driverNotFound());
  EXPECT_FALSE(SMCAccess::closeSMC());

  const auto absent = install(std::make_shared<EmulatedSMC>(Keys{}));
  absent->setServicePresent(false);
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::driverNotFound());
  EXPECT_EQ(absent->callCounts().openService, 0);

  const auto refusing = install(std::make_shared<EmulatedSMC>(Keys{}));
  refusing->setOpenResult(kIOReturnNotPrivileged);
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::failedToOpen());
  EXPECT_EQ(refusing->callCounts().releaseService, 1);

  start({keyCount(1)});
  const auto handle = SMCAccess::connection;
  EXPECT_NE(handle, 0u);
  EXPECT_TRUE(SMCAccess::closeSMC());
  EXPECT_EQ(SMCAccess::connection, handle);
  EXPECT_FALSE(SMCAccess::closeSMC()); // already closed
  // An exchange on the closed connection reaches the driver and fails as it answers.
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKeyCount(); }), SMCError::unknown(kIOReturnNotOpen, 0));
}

} // namespace
} // namespace ventaro::testing
