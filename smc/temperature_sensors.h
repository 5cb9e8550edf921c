#pragma once

#include "smc/four_char_code.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace ventaro {

// A temperature sensor: its name and the SMC key that holds its temperature.
struct TemperatureSensor {
  std::string name;
  FourCharCode code = 0;

  friend bool operator==(const TemperatureSensor&, const TemperatureSensor&) = default;
};

enum class TemperatureUnit { celsius, fahrenheit, kelvin };

// The sensors the SMC layer knows by name. Each is created once, on first use, safely when first
// uses race, and never changes.
namespace TemperatureSensors {
const TemperatureSensor& ambientAir0();          // "TA0P"
const TemperatureSensor& ambientAir1();          // "TA1P"
const TemperatureSensor& cpu0Die();              // "TC0F"
const TemperatureSensor& cpu0Diode();            // "TC0D"
const TemperatureSensor& cpu0Heatsink();         // "TC0H"
const TemperatureSensor& cpu0Proximity();        // "TC0P"
const TemperatureSensor& enclosureBase0();       // "TB0T"
const TemperatureSensor& enclosureBase1();       // "TB1T"
const TemperatureSensor& enclosureBase2();       // "TB2T"
const TemperatureSensor& enclosureBase3();       // "TB3T"
const TemperatureSensor& gpu0Diode();            // "TG0D"
const TemperatureSensor& gpu0Heatsink();         // "TG0H"
const TemperatureSensor& gpu0Proximity();        // "TG0P"
const TemperatureSensor& hddProximity();         // "TH0P"
const TemperatureSensor& heatsink0();            // "Th0H"
const TemperatureSensor& heatsink1();            // "Th1H"
const TemperatureSensor& heatsink2();            // "Th2H"
const TemperatureSensor& lcdProximity();         // "TL0P"
const TemperatureSensor& memSlot0();             // "TM0S"
const TemperatureSensor& memSlotsProximity();    // "TM0P"
const TemperatureSensor& miscProximity();        // "Tm0P"
const TemperatureSensor& northbridge();          // "TN0H"
const TemperatureSensor& northbridgeDiode();     // "TN0D"
const TemperatureSensor& northbridgeProximity(); // "TN0P"
const TemperatureSensor& oddProximity();         // "TO0P"
const TemperatureSensor& palmRest();             // "Ts0P"
const TemperatureSensor& pwrSupplyProximity();   // "Tp0P"
const TemperatureSensor& thunderbolt0();         // "TI0P"
const TemperatureSensor& thunderbolt1();         // "TI1P"

// All of the above, each under its own code.
const std::unordered_map<FourCharCode, TemperatureSensor>& knownSensors();
} // namespace TemperatureSensors

} // namespace ventaro

// The temperature operations. They expect the connection to be open and throw SMCError.
namespace ventaro::SMCAccess {

// The known sensors whose key this SMC has (one key-information request each), in no particular
// order. Any failure other than a missing key is thrown and nothing is returned.
std::vector<TemperatureSensor> readKnownTemperatureSensors();

// The SMC's "sp78" keys beginning with upper-case 'T' that are not known sensors, each named
// "Unknown", in the SMC's key order. Reads no key values. Where the SMC refuses its key index
// for privilege, the keys come from the driver's own list of temperature keys, if it has one.
std::vector<TemperatureSensor> readUnknownTemperatureSensors();

// The temperature of a key read as "sp78", whatever its real type: byte 0, two's complement, is
// the whole degrees Celsius rounded down, so the value lies in -128 to 127 before conversion.
double readTemperature(FourCharCode code, TemperatureUnit unit);

// x * 1.8 + 32, the product rounded before the sum.
double celsiusToFahrenheit(double x);
double celsiusToKelvin(double x);

} // namespace ventaro::SMCAccess
