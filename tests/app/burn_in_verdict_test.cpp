#include "app/burn_in_verdict.h"
#include "tests/app/burn_in_fixtures.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventaro::testing {
namespace {

struct VerdictCase {
  const char* name;
  BurnInSeries series;
  Verdict verdict;
  std::optional<double> throttledAt; // the end of the first throttled segment
  std::optional<double> throttleTemperature;
  ThrottleCause cause = ThrottleCause::clockDrop;
};

BurnInSeries withAccuracyFailure(BurnInSeries series) {
  series.valuesOutsideBound = 1; // the accuracy check failed
  return series;
}

TEST(BurnInVerdict, FollowsFromTheSegments) {
  const VerdictCase cases[] = {
      {"steady with noise",
       recordedSeries(
           {{2, 5120, 1650, 60}, {4, 5080, 1642, 66}, {6, 5150, 1655, 71}, {8, 4990, 1638, 74}}),
       Verdict::steady, std::nullopt, std::nullopt},
      {"a drop with the clock, against the best earlier segment",
       recordedSeries({{2, 5000, 1650, 60},
                       {4, 5200, 1700, 70},
                       {6, 5100, 1690, 80},
                       {8, 4600, 1600, 86},
                       {10, 4000, 1400, 88}}),
       Verdict::throttled, 8.0, 86.0},
      {"a drop of exactly a tenth is not enough",
       recordedSeries({{2, 5120, 1650, 60}, {4, 4608, 1400, 80}}), Verdict::steady, std::nullopt,
       std::nullopt},
      {"a drop just over a tenth is", recordedSeries({{2, 5120, 1650, 60}, {4, 4607, 1400, 80}}),
       Verdict::throttled, 4.0, 80.0},
      {"a drop without clock data", recordedSeries({{2, 5120, 0, 60}, {4, 3000, 0, 80}}),
       Verdict::steady, std::nullopt, std::nullopt},
      {"a drop with the clock read on one side only",
       recordedSeries({{2, 5120, 0, 60}, {4, 3000, 1200, 80}}), Verdict::steady, std::nullopt,
       std::nullopt},
      {"a drop with a steady clock", recordedSeries({{2, 5120, 1650, 60}, {4, 3000, 1640, 61}}),
       Verdict::steady, std::nullopt, std::nullopt},
      {"a throttle reason, no temperature",
       recordedSeries({{2, 5120, 1650, 0}, {4, 5110, 1650, 0, 0, "power cap"}}), Verdict::throttled,
       4.0, std::nullopt, ThrottleCause::throttleReason},
      {"a temperature limit",
       recordedSeries({{2, 5120, 1650, 80}, {4, 5110, 1650, 91, 0, "HW Thermal Slowdown"}}),
       Verdict::throttled, 4.0, 91.0, ThrottleCause::temperatureLimit},
      {"a differing element, throttled too",
       recordedSeries({{2, 5120, 1650, 60}, {4, 5120, 1650, 61, 1}, {6, 4000, 1300, 62}}),
       Verdict::unstable, 6.0, 62.0},
      {"an accuracy failure",
       withAccuracyFailure(recordedSeries({{2, 5120, 1650, 60}, {4, 5120, 1650, 61}})),
       Verdict::unstable, std::nullopt, std::nullopt},
      {"no segments", recordedSeries({}), Verdict::steady, std::nullopt, std::nullopt},
  };
  for (const VerdictCase& c : cases) {
    const BurnInJudgement judgement = judgeBurnIn(c.series);
    EXPECT_EQ(judgement.verdict, c.verdict) << c.name;
    ASSERT_EQ(judgement.throttling.has_value(), c.throttledAt.has_value()) << c.name;
    if (judgement.throttling) {
      EXPECT_EQ(judgement.throttling->t, *c.throttledAt) << c.name;
      EXPECT_EQ(judgement.throttling->temperature, c.throttleTemperature) << c.name;
      EXPECT_EQ(judgement.throttling->cause, c.cause) << c.name;
    }
  }
}

TEST(BurnInVerdict, FiguresErrorsAndTheHottestReading) {
  const BurnInJudgement steady = judgeBurnIn(recordedSeries(
      {{2, 5120, 1650, 60}, {4, 4310, 1650, 86}, {6, 5300, 1650, 70}, {8, 5000, 1650, 65}}));
  EXPECT_EQ(steady.medianGflops, 5060); // between 5000 and 5120
  EXPECT_EQ(steady.lowestGflops, 4310);
  EXPECT_EQ(steady.secondsRun, 8.0);
  ASSERT_TRUE(steady.hottest);
  EXPECT_EQ(steady.hottest->label, "junction");
  EXPECT_EQ(steady.hottest->value, 86.0);

  const BurnInJudgement odd =
      judgeBurnIn(recordedSeries({{2, 300, 0, 0}, {4, 100, 0, 0}, {6, 200, 0, 0}}));
  EXPECT_EQ(odd.medianGflops, 200);
  EXPECT_FALSE(odd.hottest);

  const BurnInJudgement errors =
      judgeBurnIn(recordedSeries({{2, 5120, 0, 0, 3}, {4, 5120, 0, 0}, {6, 5120, 0, 0, 12}}));
  EXPECT_EQ(errors.segmentsWithErrors, 2);
  EXPECT_EQ(errors.mostDifferingElements, 12);

  const BurnInJudgement none = judgeBurnIn(recordedSeries({}));
  EXPECT_EQ(none.medianGflops, 0);
  EXPECT_EQ(none.lowestGflops, 0);
  EXPECT_EQ(none.secondsRun, 0.0);
}

// A sensor that reads garbage is passed over; the clock is the first one the device lists.
TEST(BurnInVerdict, ReadsFiniteValuesAndTheFirstClock) {
  using telemetry::Quantity;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const telemetry::Sample sample{{{"nvml", "gpu", Quantity::temperature, nan},
                                  {"nvml", "gpu", Quantity::temperature, 71.0},
                                  {"nvml", "graphics", Quantity::clock, nan},
                                  {"nvml", "sm", Quantity::clock, 1800.0},
                                  {"nvml", "memory", Quantity::clock, 9000.0}},
                                 {}};
  EXPECT_EQ(hottestTemperature(sample)->value, 71.0);
  EXPECT_EQ(segmentClock(sample), 1800.0);
  EXPECT_TRUE(isTemperatureLimit("SW THERMAL slowdown"));
  EXPECT_TRUE(isTemperatureLimit("temperature limit"));
  EXPECT_FALSE(isTemperatureLimit("power cap"));
}

} // namespace
} // namespace ventaro::testing
