#pragma once

// The scales of a picture: ranges with round ends and a round step between ticks, and the
// tick labels.

#include <string>
#include <vector>

namespace ventaro::plot {

/// A range of values with ticks every `step` from `low` to `high`.
struct Scale {
  double low = 0.0;
  double high = 1.0;
  double step = 0.2;

  /// Where `value` lies on the scale, 0 at `low` and 1 at `high`.
  double fraction(double value) const { return (value - low) / (high - low); }
};

/// The smallest range with round ends (a step of 1, 2 or 5 times a power of ten) that holds
/// `low` to `high` in about `ticks` steps. An empty range is widened around its value; values
/// that are not finite give 0 to 1.
Scale roundScale(double low, double high, int ticks = 6);

/// The values of the ticks from `low` to `high`, at most 100 of them.
std::vector<double> ticksOf(const Scale& scale);

/// A tick's label: as many decimals as the step needs, no more.
std::string tickLabel(double value, double step);

} // namespace ventaro::plot
