#pragma once

// NVML, opened with dlopen at first use, so that the program starts and runs on machines
// without the NVIDIA driver. Only the few types and entry points the readings need are
// declared here, as the driver's library exports them (C calling convention; an enumeration
// is passed as an int).

#include <string>

namespace ventaro::telemetry::nvml {

using Return = int;
inline constexpr Return kSuccess = 0;

struct DeviceRecord; // never defined: NVML's opaque device
using Device = DeviceRecord*;

inline constexpr int kTemperatureGpu = 0; // NVML_TEMPERATURE_GPU
inline constexpr int kClockSm = 1;        // NVML_CLOCK_SM

/// nvmlFanSpeedInfo_v1_t: `version` is the record's size with the version number in the top
/// byte.
struct FanSpeedInfo {
  unsigned version = 0;
  unsigned fan = 0;
  unsigned speed = 0;
};
inline constexpr unsigned kFanSpeedInfoVersion = sizeof(FanSpeedInfo) | (1U << 24U);

/// The entry points. `init`, `errorString` and `handleByPciBusId` are always there; the
/// readings' entry points are null where this driver lacks them.
struct Library {
  Return (*init)() = nullptr;                                          // nvmlInit_v2
  const char* (*errorString)(Return) = nullptr;                        // nvmlErrorString
  Return (*handleByPciBusId)(const char*, Device*) = nullptr;          // ..._v2
  Return (*temperature)(Device, int, unsigned*) = nullptr;             // GetTemperature
  Return (*clockInfo)(Device, int, unsigned*) = nullptr;               // GetClockInfo
  Return (*powerUsage)(Device, unsigned*) = nullptr;                   // GetPowerUsage, mW
  Return (*fanSpeed)(Device, unsigned*) = nullptr;                     // GetFanSpeed, %
  Return (*fanSpeedRpm)(Device, FanSpeedInfo*) = nullptr;              // GetFanSpeedRPM
  Return (*clocksEventReasons)(Device, unsigned long long*) = nullptr; // NOLINT(google-runtime-int)
};

/// NVML, opened and started (nvmlInit_v2) by the first caller; null when it cannot be opened,
/// lacks an entry point or does not start, with the reason in `why` (when given) and in the
/// debug log.
const Library* library(std::string* why);

} // namespace ventaro::telemetry::nvml
