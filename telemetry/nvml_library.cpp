#define G_LOG_DOMAIN "ventaro"

#include "telemetry/nvml_library.h"

#include "platform/runtime_library.h"

#include <glib.h>

namespace ventaro::telemetry::nvml {
namespace {

OpenedLibrary<Library> open() {
  OpenedLibrary<Library> opened;
  void* handle = openFirstOf({"libnvidia-ml.so.1"}, "NVML", opened.why);
  if (handle == nullptr) {
    return opened;
  }
  Library entries;
  const bool complete =
      bindEntry(handle, "nvmlInit_v2", entries.init) &&
      bindEntry(handle, "nvmlErrorString", entries.errorString) &&
      bindEntry(handle, "nvmlDeviceGetHandleByPciBusId_v2", entries.handleByPciBusId);
  if (!complete) {
    refuseIncomplete(handle, "NVML", opened.why);
    return opened;
  }
  // Each reading is left out where its entry point is missing.
  bindEntry(handle, "nvmlDeviceGetTemperature", entries.temperature);
  bindEntry(handle, "nvmlDeviceGetClockInfo", entries.clockInfo);
  bindEntry(handle, "nvmlDeviceGetPowerUsage", entries.powerUsage);
  bindEntry(handle, "nvmlDeviceGetFanSpeed", entries.fanSpeed);
  bindEntry(handle, "nvmlDeviceGetFanSpeedRPM", entries.fanSpeedRpm);
  // The newer name first; older drivers export the same call under the older one.
  if (!bindEntry(handle, "nvmlDeviceGetCurrentClocksEventReasons", entries.clocksEventReasons)) {
    bindEntry(handle, "nvmlDeviceGetCurrentClocksThrottleReasons", entries.clocksEventReasons);
  }
  const Return started = entries.init();
  if (started != kSuccess) {
    // Left mapped, as an opened library is: nothing of it runs again.
    const char* words = entries.errorString(started);
    opened.why = std::string("NVML did not start: ") + (words != nullptr ? words : "no reason");
    g_debug("%s", opened.why.c_str());
    return opened;
  }
  // Kept started for the rest of the process: the readings use it until exit.
  opened.entries = entries;
  return opened;
}

} // namespace

const Library* library(std::string* why) {
  return openOnce(&open, why);
}

} // namespace ventaro::telemetry::nvml
