#include "smc/battery.h"
#include "smc/fans.h"
#include "smc/temperature_sensors.h"
#include "tests/smc/smc_machine.h"

#include <cstring>

namespace ventaro::testing {
namespace {

using namespace std::string_literals;
using Image = std::vector<std::uint8_t>;

EmulatedKey keyCount(std::uint32_t count) {
  return {code("#KEY"),
          DataTypes::UInt32,
          {static_cast<std::uint8_t>(count >> 24), static_cast<std::uint8_t>(count >> 16),
           static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)}};
}

// The request record, byte for byte, with only the fields an operation sets (where each field
// lies in the record is pinned in smc/smc_param_struct.h).
Image requestImage(const char (&key)[5], std::uint32_t dataSize, std::uint8_t command,
                   std::uint32_t data32 = 0, const SMCBytes& bytes = {}) {
  auto record = SMCParamStruct::zeroed();
  record.key = code(key);
  record.keyInfo.dataSize = dataSize;
  record.data8 = command;
  record.data32 = data32;
  record.bytes = bytes;
  Image image(sizeof record);
  std::memcpy(image.data(), &record, sizeof record);
  return image;
}

// Each key operation, and each typed one with the size it asks for, sends exactly these records
// (read 5, write 6, key at index 8, key information 9).
TEST_F(SMCAccessTest, SendsExactlyTheRecordsOfEachOperation) {
  start(stuckFanMachine());
  const std::pair<std::function<void()>, std::vector<Image>> cases[] = {
      {[] { SMCAccess::readKeyCount(); }, {requestImage("#KEY", 4, 5)}},
      {[] { SMCAccess::readKeyAtIndex(4); }, {requestImage("\0\0\0\0", 0, 8, 4)}},
      {[] { SMCAccess::readKeyInfo(code("TC0P")); }, {requestImage("TC0P", 0, 9)}},
      {[] { SMCAccess::isKeyFound(code("TC0P")); }, {requestImage("TC0P", 0, 9)}},
      {[] { SMCAccess::readFanCount(); }, {requestImage("FNum", 1, 5)}},
      {[] { SMCAccess::readFanName(1); }, {requestImage("F1ID", 16, 5)}},
      {[] { SMCAccess::readFanActual(0); }, {requestImage("F0Ac", 2, 5)}},
      {[] { SMCAccess::writeFanMinimum(0, 800); },
       {requestImage("F0Mx", 2, 5), requestImage("F0Mn", 2, 6, 0, bytesOf({0x0C, 0x80}))}},
      {[] { SMCAccess::readTemperature(code("TC0P"), TemperatureUnit::celsius); },
       {requestImage("TC0P", 2, 5)}},
      {[] { SMCAccess::readBatteryInfo(); },
       {requestImage("BNum", 1, 5), requestImage("BATP", 1, 5), requestImage("BSIn", 1, 5)}},
      {[] { SMCAccess::readMSDIFlag(); }, {requestImage("MSDI", 1, 5)}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    smc->clearExchanges();
    cases[i].first();
    std::vector<Image> sent;
    for (const auto& exchange : smc->exchanges()) {
      sent.push_back(exchange.request);
      EXPECT_EQ(exchange.methodIndex, 2u) << i;
    }
    EXPECT_EQ(sent, cases[i].second) << i;
  }
}

// isKeyFound answers false for keyNotFound alone and passes every other error on.
TEST_F(SMCAccessTest, MapsEachFailedReplyToItsError) {
  start(stuckFanMachine());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F9Mn"), 2); }), SMCError::keyNotFound("F9Mn"));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKeyAtIndex(99); }), SMCError::keyNotFound("\0\0\0\0"s));
  EXPECT_TRUE(SMCAccess::isKeyFound(code("TC0P")));
  EXPECT_FALSE(SMCAccess::isKeyFound(code("TZ9Z")));
  // A reply passes on all 32 bytes, also beyond the size asked for.
  EXPECT_EQ(SMCAccess::readKey(code("F0ID"), 1)[5], 'C');

  const std::pair<EmulatedFailure, SMCError> cases[] = {
      {EmulatedFailure::resultByte(1), SMCError::unknown(kIOReturnSuccess, 1)},
      {EmulatedFailure::resultByte(0x85), SMCError::unknown(kIOReturnSuccess, 0x85)},
      {{kIOReturnNotPrivileged, 0}, SMCError::notPrivileged()},
      {{kIOReturnNotPrivileged, 132}, SMCError::notPrivileged()},
      {EmulatedFailure::returnCode(kIOReturnTimeout), SMCError::unknown(kIOReturnTimeout, 0)},
      {{kIOReturnError, 7}, SMCError::unknown(kIOReturnError, 7)},
      {EmulatedFailure::resultByte(132), SMCError::keyNotFound("F0Mn")},
  };
  for (const auto& [failure, error] : cases) {
    smc->failAll(failure);
    EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F0Mn"), 2); }), error) << error.what();
    if (error.kind() != SMCError::Kind::keyNotFound) {
      EXPECT_EQ(smcErrorOf([] { SMCAccess::isKeyFound(code("F0Mn")); }), error) << error.what();
    }
  }
  EXPECT_FALSE(SMCAccess::isKeyFound(code("F0Mn")));
}

// The count is unsigned 32-bit; a count far beyond the keys held ends the listing at the first
// missing index, without room reserved for the claim. An index outside 32 bits is never sent.
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
  for (const std::int64_t index : {std::int64_t{-1}, std::int64_t{1} << 32}) {
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::readKeyAtIndex(index); }),
              SMCError::unknown(kIOReturnBadArgument, 0));
  }
  EXPECT_EQ(smc->exchangeCount(), 1u);
}

TEST_F(SMCAccessTest, OpeningAndClosingReportTheDriversAnswer) {
  // With no driver installed there is no SMC, and nothing else is tried.
  install(std::shared_ptr<SMCDriver>{});
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::driverNotFound());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKeyCount(); }), SMCError::driverNotFound());
  EXPECT_FALSE(SMCAccess::closeSMC());

  // An absent service is not opened (the emulated SMC would refuse it as a bad argument).
  install(std::make_shared<EmulatedSMC>(Keys{}))->setServicePresent(false);
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::driverNotFound());

  const auto refusing = install(std::make_shared<EmulatedSMC>(Keys{}));
  refusing->setOpenResult(kIOReturnNotPrivileged);
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::failedToOpen());
  EXPECT_EQ(refusing->callCounts().releaseService, 1);

  start({});
  EXPECT_TRUE(SMCAccess::closeSMC());
  EXPECT_FALSE(SMCAccess::closeSMC()); // already closed
  // An exchange on the closed connection reaches the driver and fails as it answers.
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKeyCount(); }), SMCError::unknown(kIOReturnNotOpen, 0));
}

} // namespace
} // namespace ventaro::testing
