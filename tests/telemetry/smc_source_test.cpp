// The SMC source over the emulated SMC that the SMC layer's tests use.

#include "telemetry/smc_source.h"
#include "telemetry/telemetry_for.h"
#include "tests/smc/smc_machine.h"

#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

using telemetry::Quantity;
using telemetry::Reading;
using telemetry::Sample;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

Reading fromSmc(const std::string& label, Quantity quantity, double value) {
  return {"smc", label, quantity, value};
}

class SmcSource : public SMCAccessTest {
protected:
  // The stuck-fan machine, whose first fan also has a target speed of 2000 rpm.
  void SetUp() override {
    keys.push_back({code("F0Tg"), DataTypes::FPE2, {0x1F, 0x40}});
    install(std::make_shared<EmulatedSMC>(keys));
    smc = std::static_pointer_cast<EmulatedSMC>(SMCAccess::driver());
  }

  std::unique_ptr<telemetry::Source> made() {
    std::string why;
    std::unique_ptr<telemetry::Source> source = telemetry::smcSource(why);
    EXPECT_NE(source, nullptr) << why;
    return source;
  }

  Keys keys = stuckFanMachine();
};

TEST_F(SmcSource, ReadsEachFansSpeedItsTargetWhereTheSmcHasOneAndTheNamedSensors) {
  std::unique_ptr<telemetry::Source> source = made();
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->name(), "smc");
  Sample sample;
  source->read(sample);
  EXPECT_THAT(sample.readings, UnorderedElementsAre(fromSmc("F0", Quantity::fan, 1850),
                                                    fromSmc("F0", Quantity::fanTarget, 2000),
                                                    fromSmc("F1", Quantity::fan, 1200),
                                                    fromSmc("F2", Quantity::fan, 1100),
                                                    fromSmc("TA0P", Quantity::temperature, -6),
                                                    fromSmc("TC0P", Quantity::temperature, 45),
                                                    fromSmc("TG0D", Quantity::temperature, 58)))
      << "TC1C is no named sensor";
  EXPECT_THAT(sample.throttleReasons, IsEmpty());
  EXPECT_EQ(smc->callCounts().closeService, 2) << "the connection is closed after each look";
}

TEST_F(SmcSource, ATargetWhoseKeyCannotBeLookedUpIsLeftOutAndTheFansAreStillRead) {
  smc->failKey(code("F0Tg"), EmulatedFailure::notPrivileged());
  std::unique_ptr<telemetry::Source> source = made();
  ASSERT_NE(source, nullptr);
  Sample sample;
  source->read(sample);
  EXPECT_EQ(sample.readings.size(), 6u);
  for (const Reading& reading : sample.readings) {
    EXPECT_NE(reading.quantity, Quantity::fanTarget);
  }
}

TEST_F(SmcSource, AKeyThatFailsNowIsLeftOutAndTheRestIsRead) {
  std::unique_ptr<telemetry::Source> source = made();
  ASSERT_NE(source, nullptr);
  smc->failKey(code("TC0P"), EmulatedFailure::notPrivileged());
  smc->failKey(code("F1Ac"), EmulatedFailure::resultByte(1));
  Sample sample;
  source->read(sample);
  EXPECT_EQ(sample.readings.size(), 5u);
  for (const Reading& reading : sample.readings) {
    EXPECT_NE(reading.label, "TC0P");
    EXPECT_FALSE(reading.label == "F1" && reading.quantity == Quantity::fan);
  }

  smc->setServicePresent(false);
  Sample none;
  source->read(none);
  EXPECT_THAT(none.readings, IsEmpty()) << "an SMC that does not open gives nothing";
}

TEST_F(SmcSource, TheFactoryAddsTheSmcOnlyWhereAskedAndOnlyWhenItOpens) {
  EXPECT_THAT(telemetry::telemetryFor({std::nullopt, false, true}).sourceNames(),
              ElementsAre("smc"));
  EXPECT_TRUE(telemetry::telemetryFor({std::nullopt, false, false}).empty());

  SMCAccess::setDriver(nullptr);
  std::string why;
  EXPECT_EQ(telemetry::smcSource(why), nullptr);
  EXPECT_THAT(why, ::testing::StartsWith("the SMC did not open: "));
  EXPECT_TRUE(telemetry::telemetryFor({std::nullopt, false, true}).empty());

  install(std::make_shared<EmulatedSMC>(Keys{}));
  EXPECT_EQ(telemetry::smcSource(why), nullptr);
  EXPECT_EQ(why, "the SMC lists no fan and no named temperature sensor");
}

} // namespace
} // namespace ventaro::testing
