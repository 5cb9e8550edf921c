#pragma once

#include <cstdint>

namespace ventaro {

// The battery and power state from three one-byte keys.
struct batteryInfo {
  std::int64_t batteryCount = 0; // "BNum"
  bool isACPresent = false;      // "BSIn" bit 1
  bool isBatteryPowered = false; // "BATP" equal to 1
  bool isBatteryOk = false;      // "BSIn" bit 6
  bool isCharging = false;       // "BSIn" bit 0

  friend bool operator==(const batteryInfo&, const batteryInfo&) = default;
};

} // namespace ventaro

// The battery and power operations. They expect the connection to be open and throw SMCError.
// A "flag" byte is true only when it equals 1.
namespace ventaro::SMCAccess {

// Reads "BNum", "BATP" and "BSIn" in that order; the first failure is thrown and the keys after
// it are not read.
batteryInfo readBatteryInfo();

// Whether "MSDI" equals 1.
bool readMSDIFlag();

} // namespace ventaro::SMCAccess
