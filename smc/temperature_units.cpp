// Built with floating-point contraction off: the product is rounded before the sum, never fused
// into one multiply-add, so every build gives the same figures.
#include "smc/temperature_sensors.h"

namespace ventaro::SMCAccess {

double celsiusToFahrenheit(double x) {
  return x * 1.8 + 32.0;
}

double celsiusToKelvin(double x) {
  return x + 273.15;
}

} // namespace ventaro::SMCAccess
