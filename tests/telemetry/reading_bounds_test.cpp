#include "telemetry/reading_bounds.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventaro::telemetry {
namespace {

TEST(ReadingBounds, OnlyValuesAWorkingSensorCanGiveAreKept) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double infinity = std::numeric_limits<double>::infinity();
  const std::tuple<Quantity, double, bool> cases[] = {
      {Quantity::temperature, -50.0, true},  {Quantity::temperature, 250.0, true},
      {Quantity::temperature, -50.5, false}, {Quantity::temperature, 250.5, false},
      {Quantity::temperature, nan, false},   {Quantity::temperature, -infinity, false},
      {Quantity::clock, 0.0, true},          {Quantity::clock, 10'001.0, false},
      {Quantity::clock, -1.0, false},        {Quantity::power, 5'001.0, false},
      {Quantity::fan, 100'000.0, true},      {Quantity::fanTarget, infinity, false},
      {Quantity::fanDuty, 101.0, true},      {Quantity::fanDuty, 201.0, false},
  };
  for (const auto& [quantity, value, kept] : cases) {
    Sample sample;
    addReading(sample, "s", "l", quantity, value);
    EXPECT_EQ(sample.readings.size(), kept ? 1u : 0u) << static_cast<int>(quantity) << " " << value;
  }
}

} // namespace
} // namespace ventaro::telemetry
