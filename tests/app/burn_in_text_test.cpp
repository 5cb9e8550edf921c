#include "app/burn_in_text.h"
#include "tests/app/burn_in_fixtures.h"

#include <cmath>
#include <gtest/gtest.h>

namespace ventaro::testing {
namespace {

BurnInSeries ended(BurnInSeries series, int signal, std::optional<std::string> failure) {
  series.stoppedBySignal = signal;
  series.failure = std::move(failure);
  return series;
}

BurnInSeries inaccurate(BurnInSeries series) {
  series.valuesOutsideBound = 1; // the accuracy check failed
  return series;
}

TEST(BurnInText, DurationsInWords) {
  const std::pair<double, const char*> cases[] = {
      {0, "0 seconds"},
      {1, "1 second"},
      {42.4, "42 seconds"},
      {119.4, "119 seconds"},
      {119.6, "2 minutes"},
      {600.3, "10 minutes"},
      {7169, "119 minutes"},
      {7199, "2 hours"},
      {36000, "10 hours"},
      {-5, "0 seconds"},
      {std::nan(""), "0 seconds"},
  };
  for (const auto& [seconds, words] : cases) {
    EXPECT_EQ(durationInWords(seconds), words) << seconds;
  }
}

TEST(BurnInText, NoticeBodies) {
  const BurnInSeries steady =
      recordedSeries({{200, 5120, 1650, 70}, {400, 4310, 1640, 75}, {600.4, 5130, 1650, 76}});
  const BurnInSeries throttled =
      recordedSeries({{120, 5120, 1650, 70}, {240, 4100, 1300, 86}, {600, 4310, 1350, 84}});
  const BurnInSeries wrong =
      recordedSeries({{2, 5120, 0, 0, 3}, {4, 5120, 0, 0, 12}, {6, 5120, 0, 0}}, 6);
  const std::pair<BurnInSeries, const char*> cases[] = {
      {steady, "Ventaro measured 5120 GFLOPS for 10 minutes, lowest 4310. Steady, hottest 76 °C. "
               "No errors."},
      {throttled, "Ventaro measured 4310 GFLOPS for 10 minutes, lowest 4100. Throttled after 4 "
                  "minutes at 86 °C. No errors."},
      {recordedSeries({{2, 5120, 0, 0}, {4, 5120, 0, 0, 0, "power cap"}}, 4),
       "Ventaro measured 5120 GFLOPS for 4 seconds, lowest 5120. Throttled after 4 seconds. No "
       "errors."},
      {wrong, "Ventaro measured 5120 GFLOPS for 6 seconds, lowest 5120. The results were "
              "wrong: up to 12 elements differed in 2 of 3 segments."},
      {inaccurate(wrong), "Ventaro measured 5120 GFLOPS for 6 seconds, lowest 5120. The results "
                          "were wrong: up to 12 elements differed in 2 of 3 segments, "
                          "and the product lay outside the FP32 error bound."},
      {inaccurate(recordedSeries({{2, 5120, 0, 0}}, 2)),
       "Ventaro measured 5120 GFLOPS for 2 seconds, lowest 5120. The results were "
       "wrong: the product lay outside the FP32 error bound."},
      {ended(steady, 2, std::nullopt), "Ventaro measured 5120 GFLOPS, lowest 4310. Stopped "
                                       "after 10 minutes of 10 minutes. Steady, hottest 76 °C. "
                                       "No errors."},
      {ended(recordedSeries({{2, 5120, 0, 0}, {42, 5100, 0, 0}}), 15, std::nullopt),
       "Ventaro measured 5110 GFLOPS, lowest 5100. Stopped after 42 seconds of 10 minutes. "
       "Steady. No errors."},
      {ended(recordedSeries({}), 2, std::nullopt),
       "Ventaro measured 0 GFLOPS. Stopped before the first segment ended."},
      {ended(recordedSeries({{2, 5120, 0, 0}, {42, 5100, 0, 0}}), 0, "device lost"),
       "Ventaro measured 5110 GFLOPS, lowest 5100. The load failed after 42 seconds: device "
       "lost. Steady."},
      {ended(recordedSeries({}), 0, "out of\x1b[2J memory\n"),
       "Ventaro measured 0 GFLOPS. The load failed: out of [2J memory."},
  };
  for (const auto& [series, body] : cases) {
    EXPECT_EQ(burnInNoticeBody(series), body);
  }
}

TEST(BurnInText, StatusLines) {
  BurnInSeries gpu =
      recordedSeries({{2, 4000, 1700, 70}, {65.3, 4102, 1650, 78, 0}, {67, 4102, 1650, 78}});
  gpu.segments.pop_back();
  EXPECT_EQ(burnInStatusLine(gpu), "vulkan:0 1:05/10:00 4102 GFLOPS 0 errors 78 °C 1650 MHz");

  BurnInSeries cpu = recordedSeries({{2, 900, 0, 0, 5}, {4, 910, 0, 0}}, 7200);
  cpu.deviceId = "cpu";
  EXPECT_EQ(burnInStatusLine(cpu), "cpu 0:00:04/2:00:00 910 GFLOPS 1 error");

  const BurnInSeries waiting = recordedSeries({}, 30);
  EXPECT_EQ(burnInStatusLine(waiting), "vulkan:0 0:00/0:30");

  EXPECT_EQ(burnInStatusLine(std::vector<BurnInSeries>{gpu, cpu, waiting}),
            "vulkan:0 1:05/10:00 4102 GFLOPS 0 errors 78 °C 1650 MHz | cpu 0:00:04/2:00:00 910 "
            "GFLOPS 1 error | vulkan:0 0:00/0:30");
}

} // namespace
} // namespace ventaro::testing
