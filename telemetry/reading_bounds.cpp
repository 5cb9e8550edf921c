#include "telemetry/reading_bounds.h"

#include <cmath>

namespace ventaro::telemetry {

bool isPlausible(Quantity quantity, double value) {
  if (!std::isfinite(value)) {
    return false;
  }
  double lowest = 0.0;
  double highest = 0.0;
  switch (quantity) {
  case Quantity::temperature:
    lowest = -50.0;
    highest = 250.0;
    break;
  case Quantity::clock:
    highest = 10'000.0;
    break;
  case Quantity::power:
    highest = 5'000.0;
    break;
  case Quantity::fan:
  case Quantity::fanTarget:
    highest = 100'000.0;
    break;
  case Quantity::fanDuty:
    highest = 200.0;
    break;
  }
  return value >= lowest && value <= highest;
}

void addReading(Sample& into, const std::string& source, const std::string& label,
                Quantity quantity, double value) {
  if (isPlausible(quantity, value)) {
    into.readings.push_back(Reading{source, label, quantity, value});
  }
}

} // namespace ventaro::telemetry
