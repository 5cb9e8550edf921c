#pragma once

// What the starts print: the diagnostics that run nothing (--list-devices, --check-fans) and
// the outcome of a run, as text or, with --json, as JSON.

#include "app/device_choice.h"
#include "app/fan_anomaly.h"
#include "app/workload_run.h"
#include "smc/smc_error.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace ventaro {

/// Why the SMC could not be used, in words.
std::string smcProblem(const SMCAccess::SMCError& error);

/// The device's FP32 peak in whole GFLOPS; none where it is not known.
std::optional<std::int64_t> wholePeakGflops(const gpu::Device& device);

/// Writes one line per device (id, backend, name, memory in bytes, PCI address or "-", FP32
/// peak in GFLOPS or "-", tab-separated) or a JSON array. Returns the exit status.
int listDevices(const std::vector<NamedDevice>& devices, bool json, std::ostream& out);

/// Writes the fans and the terms of the stuck-fan rule (or the JSON object). Returns 0 when
/// the fans are not stuck, 1 when they are, 3 when there is no SMC to read (the reason on
/// `err`).
int checkFans(const FanReading& reading, bool json, std::ostream& out, std::ostream& err);

/// Where a run's outcome goes: a refusal is one line on `err` (and a JSON object with
/// `json`); an ended run prints only with `json`.
struct RunOutput {
  bool json = false;
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;

  void refused(RunKind runKind, const std::string& reason) const;
  void finished(const RunReport& report) const;
};

} // namespace ventaro
