#include "app/plot/plot_scale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace ventaro::plot {

Scale roundScale(double low, double high, int ticks) {
  if (!std::isfinite(low) || !std::isfinite(high)) {
    low = 0.0;
    high = 1.0;
  }
  if (low > high) {
    std::swap(low, high);
  }
  if (high - low < 1e-9 * std::max(1.0, std::fabs(high))) {
    const double margin = low == 0.0 ? 1.0 : std::fabs(low) * 0.1;
    low -= margin;
    high += margin;
  }
  const double raw = (high - low) / std::max(ticks, 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10.0 * power;
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (factor * power >= raw) {
      step = factor * power;
      break;
    }
  }
  return Scale{std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

std::vector<double> ticksOf(const Scale& scale) {
  constexpr double kMostTicks = 100.0;
  const double count = std::floor((scale.high - scale.low) / scale.step + 0.5);
  std::vector<double> ticks;
  if (!(count >= 0.0 && count < kMostTicks)) { // also when not finite
    return ticks;
  }
  for (int index = 0; index <= static_cast<int>(count); ++index) {
    ticks.push_back(scale.low + index * scale.step);
  }
  return ticks;
}

std::string tickLabel(double value, double step) {
  const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  if (std::fabs(value) < step * 1e-6) {
    value = 0.0; // no "-0"
  }
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "%.*f", std::clamp(decimals, 0, 9), value);
  return text.data();
}

} // namespace ventaro::plot
