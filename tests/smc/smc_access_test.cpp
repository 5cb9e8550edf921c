#include "smc/emulated/smc_profile.h"
#include "smc/emulated/wire_layout.h"
#include "smc/smc_access.h"
#include "smc_test_support.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace ventaro {
namespace {

using emulated::EmulatedFailure;
using emulated::EmulatedKey;
using emulated::EmulatedSMC;
using SMCAccess::SMCError;
using testing::bytesOf;
using testing::smcErrorOf;
using namespace std::string_literals;

constexpr FourCharCode code(const char (&text)[5]) {
  return fourCharCodeLiteral(text);
}

EmulatedKey keyCount(std::uint32_t count) {
  return {code("#KEY"),
          DataTypes::UInt32,
          {static_cast<std::uint8_t>(count >> 24), static_cast<std::uint8_t>(count >> 16),
           static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)}};
}

// The request record, byte for byte, with only the fields an operation sets.
std::vector<std::uint8_t> requestImage(FourCharCode key, std::uint64_t dataSize,
                                       std::uint8_t command, std::uint32_t data32 = 0,
                                       const SMCBytes& bytes = {}) {
  constexpr auto layout = emulated::kNativeWireLayout;
  std::vector<std::uint8_t> image(layout.size, 0);
  emulated::storeLittleEndian(image, layout.key, 4, key);
  emulated::storeLittleEndian(image, layout.dataSize, layout.dataSizeWidth, dataSize);
  image[layout.data8] = command;
  emulated::storeLittleEndian(image, layout.data32, 4, data32);
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(layout.bytes));
  return image;
}

class SMCAccessOnEmulatedSMC : public testing::SMCAccessTest {
protected:
  void SetUp() override {
    smc = install(std::make_shared<EmulatedSMC>(
        emulated::loadSMCProfile(testing::fixturePath("smc/stuck-fan.profile"))));
    SMCAccess::openSMC();
  }
  std::shared_ptr<EmulatedSMC> smc;
};

TEST_F(SMCAccessOnEmulatedSMC, SendsExactlyTheFieldsOfEachOperation) {
  struct Case {
    const char* operation;
    std::function<void()> run;
    std::vector<std::uint8_t> request;
  };
  const Case cases[] = {
      {"readKey", [] { SMCAccess::readKey(code("F0Ac"), 2); }, requestImage(code("F0Ac"), 2, 5)},
      {"writeKey",
       [] {
         SMCAccess::writeKey(code("F0Mn"), 2, bytesOf({0x0C, 0x80}));
       },
       requestImage(code("F0Mn"), 2, 6, 0, bytesOf({0x0C, 0x80}))},
      {"readKeyInfo", [] { SMCAccess::readKeyInfo(code("TC0P")); },
       requestImage(code("TC0P"), 0, 9)},
      {"isKeyFound", [] { SMCAccess::isKeyFound(code("TC0P")); }, requestImage(code("TC0P"), 0, 9)},
      {"readKeyCount", [] { SMCAccess::readKeyCount(); }, requestImage(code("#KEY"), 4, 5)},
      {"readKeyAtIndex", [] { SMCAccess::readKeyAtIndex(4); }, requestImage(0, 0, 8, 4)},
  };
  for (const auto& [operation, run, request] : cases) {
    smc->clearExchanges();
    run();
    ASSERT_EQ(smc->exchangeCount(), 1u) << operation;
    EXPECT_EQ(smc->exchanges()[0].request, request) << operation;
    EXPECT_EQ(smc->exchanges()[0].methodIndex, 2u) << operation;
  }
}

TEST_F(SMCAccessOnEmulatedSMC, MapsEachFailedReplyToItsError) {
  struct Case {
    EmulatedFailure failure;
    SMCError error;
  };
  const Case cases[] = {
      {EmulatedFailure::resultByte(132), SMCError::keyNotFound("F0Mn")},
      {EmulatedFailure::resultByte(1), SMCError::unknown(kIOReturnSuccess, 1)},
      {EmulatedFailure::resultByte(0x85), SMCError::unknown(kIOReturnSuccess, 0x85)},
      {{kIOReturnNotPrivileged, 0}, SMCError::notPrivileged()},
      {{kIOReturnNotPrivileged, 132}, SMCError::notPrivileged()},
      {EmulatedFailure::returnCode(kIOReturnBusy), SMCError::unknown(kIOReturnBusy, 0)},
      {{kIOReturnError, 7}, SMCError::unknown(kIOReturnError, 7)},
  };
  for (const auto& [failure, error] : cases) {
    smc->failAll(failure);
    EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F0Mn"), 2); }), error) << error.what();
  }
}

TEST_F(SMCAccessOnEmulatedSMC, KeyNotFoundCarriesTheRequestedKey) {
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKey(code("F9Mn"), 2); }), SMCError::keyNotFound("F9Mn"));
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKeyAtIndex(99); }), SMCError::keyNotFound("\0\0\0\0"s));
}

TEST_F(SMCAccessOnEmulatedSMC, ReadKeyReturnsAll32ReplyBytes) {
  smc->setReplyFill(0xEE);
  const SMCBytes bytes = SMCAccess::readKey(code("F0ID"), 1);
  EXPECT_EQ(bytes[5], 0x43); // the 'C' of "PCI" lies beyond the one byte asked for
  EXPECT_EQ(bytes[31], 0xEE);
}

TEST_F(SMCAccessOnEmulatedSMC, ReadKeyInfoGivesTheDataType) {
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

TEST_F(SMCAccessOnEmulatedSMC, IndexesOutsideTheUnsigned32BitRangeAreRefusedUnsent) {
  for (const std::int64_t index : {std::int64_t{-1}, std::int64_t{1} << 32}) {
    EXPECT_EQ(smcErrorOf([&] { SMCAccess::readKeyAtIndex(index); }),
              SMCError::unknown(kIOReturnBadArgument, 0));
  }
  EXPECT_EQ(smc->exchangeCount(), 0u);
}

TEST_F(SMCAccessOnEmulatedSMC, ListsEveryKeyInTheSMCsOrder) {
  std::vector<SMCKey> expected;
  for (const EmulatedKey& key : smc->keys()) {
    expected.push_back({key.code, key.info});
  }
  EXPECT_EQ(SMCAccess::readAllKeys(), expected);
  EXPECT_EQ(smc->exchangeCount(), 1 + 2 * expected.size());
  EXPECT_EQ(expected.front().code, code("#KEY"));
}

TEST_F(SMCAccessOnEmulatedSMC, AFailingExchangeEndsTheListingWithNothing) {
  smc->failKey(code("BNum"), EmulatedFailure::notPrivileged());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readAllKeys(); }), SMCError::notPrivileged());
  // "#KEY", then index 0 ("#KEY") and its info, index 1 ("BATP") and its info, index 2 fails.
  EXPECT_EQ(smc->exchangeCount(), 6u);
}

class SMCAccessOnSmallSMC : public testing::SMCAccessTest {};

TEST_F(SMCAccessOnSmallSMC, ReadsTheKeyCountAsAnUnsigned32BitNumber) {
  for (const std::uint32_t count : {300u, 0x80000000u, 0xFFFFFFFFu}) {
    install(std::make_shared<EmulatedSMC>(std::vector{keyCount(count)}));
    SMCAccess::openSMC();
    EXPECT_EQ(SMCAccess::readKeyCount(), std::int64_t{count});
  }
}

TEST_F(SMCAccessOnSmallSMC, ListingMakesOnePlusTwoExchangesPerKey) {
  const auto none = install(std::make_shared<EmulatedSMC>(std::vector{keyCount(0)}));
  SMCAccess::openSMC();
  EXPECT_TRUE(SMCAccess::readAllKeys().empty());
  EXPECT_EQ(none->exchangeCount(), 1u);

  // A key with its top bit set sorts last in the SMC's unsigned order (first in a signed one),
  // so with a count of 2 the listing sees "#KEY" and "TC0P".
  const EmulatedKey high{0xE9303030, DataTypes::Flag, {1}};
  const EmulatedKey low{code("TC0P"), DataTypes::SP78, {0x2D, 0}};
  const auto two = install(std::make_shared<EmulatedSMC>(std::vector{keyCount(2), high, low}));
  SMCAccess::openSMC();
  EXPECT_EQ(SMCAccess::readAllKeys(), (std::vector<SMCKey>{{code("#KEY"), DataTypes::UInt32},
                                                           {code("TC0P"), DataTypes::SP78}}));
  std::vector<std::pair<std::uint8_t, std::uint32_t>> sent; // command, key or index
  for (const auto& exchange : two->exchanges()) {
    sent.emplace_back(exchange.command, exchange.command == 8 ? exchange.data32 : exchange.key);
  }
  EXPECT_EQ(sent, (std::vector<std::pair<std::uint8_t, std::uint32_t>>{
                      {5, code("#KEY")}, {8, 0}, {9, code("#KEY")}, {8, 1}, {9, code("TC0P")}}));
}

TEST_F(SMCAccessOnSmallSMC, OpeningReportsAMissingOrRefusingService) {
  const auto absent = install(std::make_shared<EmulatedSMC>(std::vector<EmulatedKey>{}));
  absent->setServicePresent(false);
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::driverNotFound());
  EXPECT_EQ(absent->callCounts().openService, 0);

  const auto refusing = install(std::make_shared<EmulatedSMC>(std::vector<EmulatedKey>{}));
  refusing->setOpenResult(kIOReturnNotPrivileged);
  EXPECT_EQ(smcErrorOf(SMCAccess::openSMC), SMCError::failedToOpen());
  EXPECT_EQ(refusing->callCounts().releaseService, 1);
}

TEST_F(SMCAccessOnSmallSMC, ClosingReportsTheDriversAnswerAndKeepsTheHandle) {
  const auto smc = install(std::make_shared<EmulatedSMC>(std::vector{keyCount(1)}));
  SMCAccess::openSMC();
  const auto handle = SMCAccess::connection;
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(smc->callCounts().releaseService, 1);
  EXPECT_TRUE(SMCAccess::closeSMC());
  EXPECT_EQ(SMCAccess::connection, handle);
  EXPECT_FALSE(SMCAccess::closeSMC()); // already closed
  // An exchange on the closed connection reaches the driver and fails as it answers.
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKeyCount(); }), SMCError::unknown(kIOReturnNotOpen, 0));
  smc->setCloseResult(kIOReturnError);
  EXPECT_FALSE(SMCAccess::closeSMC());
}

} // namespace
} // namespace ventaro
