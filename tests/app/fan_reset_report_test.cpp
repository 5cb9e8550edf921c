// The fan-reset recheck over scripted readings, in virtual time: when it says the reset worked,
// did not help or was not checked, and what an interruption leaves.

#include "app/fan_reset_report.h"
#include "app/workload_run.h"
#include "tests/platform/fakes.h"

#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

using ::testing::HasSubstr;

// The stuck fans as read in full, fan 0 at `speed`.
FanReading stuckAt(std::int64_t speed) {
  FanReading reading;
  reading.count = 3;
  reading.fans = {{0, "PCI Fan", 800, 4500, speed}, {1, "PS Fan", 600, 2800, std::nullopt}};
  return reading;
}

struct Recheck {
  CallLog log;
  FakeApplication application{log};
  std::ostringstream err;
  std::optional<RunReport> ended;
  std::function<void()> interrupt;

  // Follows a run whose rereads give `readings` in turn, then the last one again.
  void start(std::vector<FanReading> readings) {
    auto next = std::make_shared<std::size_t>(0);
    interrupt = followFanReset(
        application,
        [readings, next] { return readings.at(std::min((*next)++, readings.size() - 1)); },
        stuckAt(1850), RunReport{RunKind::fanReset, nullptr, {}, std::nullopt},
        [this](const RunReport& report) { ended = report; }, err);
  }
  const FanResetCheck& check() const { return *ended->fanReset; }
};

TEST(FanResetRecheck, WorksOnlyWhereAReadingInFullShowsFanZeroDown) {
  FanReading labelFailed = stuckAt(850);
  labelFailed.fans[0].name.reset();
  FanReading minimumFailed = stuckAt(850);
  minimumFailed.fans[1].minimum.reset();
  FanReading closed;
  closed.openFailure = SMCAccess::SMCError::driverNotFound();
  const std::tuple<const char*, std::vector<FanReading>, FanResetResult, const char*> cases[] = {
      {"down at the first read",
       {stuckAt(850)},
       FanResetResult::worked,
       "worked: PCI Fan 1850 → 850"},
      {"down at the third",
       {stuckAt(1850), stuckAt(1400), stuckAt(1000)},
       FanResetResult::worked,
       "worked: PCI Fan 1850 → 1000"},
      {"down, but the label failed", {labelFailed}, FanResetResult::notChecked, "not checked"},
      {"high, then down beside a failed read",
       {stuckAt(1850), minimumFailed},
       FanResetResult::didNotHelp,
       "did not help: PCI Fan 1850 → 1850"},
      {"still high, rule broken elsewhere",
       {[] {
         FanReading other = stuckAt(1850);
         other.count = 2;
         return other;
       }()},
       FanResetResult::didNotHelp,
       "did not help: PCI Fan 1850 → 1850"},
      {"no SMC", {closed}, FanResetResult::notChecked, "not checked, the fans could not be read"},
  };
  for (const auto& [what, readings, result, line] : cases) {
    SCOPED_TRACE(what);
    Recheck recheck;
    recheck.start(readings);
    recheck.application.advance();
    ASSERT_TRUE(recheck.ended);
    EXPECT_EQ(recheck.check().result, result);
    EXPECT_THAT(recheck.err.str(), HasSubstr(line));
    EXPECT_LE(recheck.log.now, kFanResetRereads * kFanResetRereadSeconds);
  }
}

TEST(FanResetRecheck, AnInterruptionEndsItNotCheckedWithTheFansReadSoFar) {
  Recheck recheck;
  recheck.start({stuckAt(1850), stuckAt(1790)});
  recheck.application.advance(2.5);
  ASSERT_FALSE(recheck.ended);
  recheck.interrupt();
  ASSERT_TRUE(recheck.ended);
  EXPECT_EQ(recheck.check().result, FanResetResult::notChecked);
  EXPECT_TRUE(recheck.check().interrupted);
  EXPECT_EQ(recheck.check().after->fans[0].current, 1790);
  EXPECT_EQ(recheck.err.str(),
            "ventaro: fan reset not checked, interrupted: PCI Fan 1850 → 1790 rpm\n");
  recheck.ended.reset();
  recheck.interrupt();
  recheck.application.advance();
  EXPECT_FALSE(recheck.ended) << "ended once only";
}

} // namespace
} // namespace ventaro::testing
