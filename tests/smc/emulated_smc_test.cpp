#include "smc/emulated/smc_profile.h"
#include "smc/fpe2.h"
#include "smc/smc_access.h"
#include "smc_test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

namespace ventaro {
namespace {

using emulated::EmulatedFailure;
using emulated::EmulatedKey;
using emulated::EmulatedSMC;
using emulated::SMCProfileError;
using SMCAccess::SMCError;
using testing::bytesOf;
using testing::smcErrorOf;

TEST(SMCProfile, ReadsQuotedCodesCommentsAndGroupedBytes) {
  const auto keys = emulated::parseSMCProfile("# a comment line\n"
                                              "\"#KEY\" ui32 4 0000 0003\n"
                                              "\n"
                                              "FNum \"ui8 \" 1 02   # two fans\n"
                                              "\"A B \" {fds 0\n");
  EXPECT_EQ(keys, (std::vector<EmulatedKey>{
                      {0x234B4559, DataTypes::UInt32, {0, 0, 0, 3}},
                      {0x464E756D, DataTypes::UInt8, {2}},
                      {0x41204220, {0x7B666473, 0}, {}},
                  }));
}

TEST(SMCProfile, RefusesMalformedLinesNamingTheLine) {
  const std::pair<const char*, std::size_t> cases[] = {
      {"FNum ui8 1 02\n", 1},                      // "ui8" is three characters
      {"FNum \"ui8 \" 1 0\n", 1},                  // odd number of hex digits
      {"\nFNum \"ui8 \" 1 0G\n", 2},               // not hex
      {"F0Mn fpe2 2 0C\n", 1},                     // fewer bytes than the size
      {"F0Mn fpe2 33 00\n", 1},                    // larger than a value can be
      {"F0Mn fpe2\n", 1},                          // no size
      {"\"F0Mn fpe2 2 0C80\n", 1},                 // unterminated quote
      {"F0Mn fpe2 2 0C80\nF0Mn fpe2 2 0C80\n", 2}, // listed twice
      {"\"#KEY\" ui32 4 00000002\nFNum \"ui8 \" 1 01\nF0Mn fpe2 2 0C80\n", 1}, // count of 3
  };
  for (const auto& [text, line] : cases) {
    try {
      emulated::parseSMCProfile(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const SMCProfileError& error) {
      EXPECT_EQ(error.line(), line) << text << error.what();
    }
  }
}

// What the fan check of a login start reads, from both machine profiles.
TEST(SMCProfile, FixtureMachinesDifferOnlyInFan0Speed) {
  const auto stuck = emulated::loadSMCProfile(testing::fixturePath("smc/stuck-fan.profile"));
  const auto normal = emulated::loadSMCProfile(testing::fixturePath("smc/normal.profile"));
  ASSERT_EQ(stuck.size(), normal.size());
  const auto value = [](const std::vector<EmulatedKey>& keys, const char(&text)[5]) {
    for (const auto& key : keys) {
      if (key.code == fourCharCodeLiteral(text)) {
        return key.value;
      }
    }
    return std::vector<std::uint8_t>{};
  };
  const auto speed = [&](const std::vector<EmulatedKey>& keys, const char(&text)[5]) {
    const auto bytes = value(keys, text);
    return bytes.size() == 2 ? decodeFPE2(bytes[0], bytes[1]) : -1;
  };
  const auto name = [&](const char(&text)[5]) {
    const auto bytes = value(stuck, text);
    return bytes.size() == 16 ? std::string(bytes.begin() + 4, bytes.end()) : std::string();
  };
  EXPECT_EQ(value(stuck, "FNum"), std::vector<std::uint8_t>{3});
  EXPECT_NE(name("F0ID").find("PCI"), std::string::npos);
  EXPECT_NE(name("F1ID").find("PS"), std::string::npos);
  EXPECT_EQ(speed(stuck, "F0Mn"), 800);
  EXPECT_EQ(speed(stuck, "F0Mx"), 4500);
  EXPECT_EQ(speed(stuck, "F1Mn"), 600);
  EXPECT_EQ(speed(stuck, "F1Mx"), 2800);
  EXPECT_EQ(speed(stuck, "F0Ac"), 1850);
  EXPECT_EQ(speed(normal, "F0Ac"), 890);
  for (std::size_t i = 0; i < stuck.size(); ++i) {
    if (stuck[i].code != fourCharCodeLiteral("F0Ac")) {
      EXPECT_EQ(stuck[i], normal[i]) << fourCharCodeToText(stuck[i].code);
    }
  }
}

TEST(EmulatedSMCTable, RefusesDuplicateKeysAndValuesOfTheWrongSize) {
  const EmulatedKey fan{fourCharCodeLiteral("FNum"), DataTypes::UInt8, {1}};
  EXPECT_THROW(EmulatedSMC(std::vector{fan, fan}), std::invalid_argument);
  EXPECT_THROW(EmulatedSMC(std::vector<EmulatedKey>{{fan.code, DataTypes::UInt8, {1, 2}}}),
               std::invalid_argument);
}

class EmulatedSMCExchanges : public testing::SMCAccessTest {
protected:
  void SetUp() override {
    smc = install(std::make_shared<EmulatedSMC>(
        emulated::loadSMCProfile(testing::fixturePath("smc/stuck-fan.profile"))));
    SMCAccess::openSMC();
  }
  std::shared_ptr<EmulatedSMC> smc;
};

TEST_F(EmulatedSMCExchanges, WritesStoreTheValueOnlyAtTheKeysSize) {
  const FourCharCode minimum = fourCharCodeLiteral("F1Mn");
  EXPECT_EQ(smcErrorOf([&] { SMCAccess::writeKey(minimum, 1, bytesOf({0x0F})); }),
            SMCError::unknown(kIOReturnSuccess, 1));
  SMCAccess::writeKey(minimum, 2, bytesOf({0x0F, 0xA0}));
  EXPECT_EQ(SMCAccess::readKey(minimum, 2), bytesOf({0x0F, 0xA0}));
}

TEST_F(EmulatedSMCExchanges, AKeysOwnFailureOverridesTheGlobalOneAndReachesIndexRequests) {
  const FourCharCode sensor = fourCharCodeLiteral("TC0P");
  smc->failAll(EmulatedFailure::resultByte(1));
  smc->failKey(sensor, EmulatedFailure::notPrivileged());
  EXPECT_EQ(smcErrorOf([&] { SMCAccess::readKey(sensor, 2); }), SMCError::notPrivileged());
  EXPECT_EQ(smcErrorOf([] { SMCAccess::readKeyCount(); }), SMCError::unknown(kIOReturnSuccess, 1));
  smc->clearFailures();
  smc->failKey(sensor, EmulatedFailure::returnCode(kIOReturnTimeout));
  const auto& keys = smc->keys();
  const auto index = std::find_if(keys.begin(), keys.end(),
                                  [&](const EmulatedKey& key) { return key.code == sensor; }) -
                     keys.begin();
  EXPECT_EQ(SMCAccess::readKeyAtIndex(index - 1), keys[static_cast<std::size_t>(index - 1)].code);
  EXPECT_EQ(smcErrorOf([&] { SMCAccess::readKeyAtIndex(index); }),
            SMCError::unknown(kIOReturnTimeout, 0));
}

} // namespace
} // namespace ventaro
