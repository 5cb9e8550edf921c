#pragma once

// The command line: `--login-item` marks a login start; `--device` chooses the device a run
// loads; `--json` asks for machine-readable output; `--list-devices`, `--check-fans` and
// `--sensors` (with `--unit`) are diagnostics that run nothing; `--help` and `--version` print and
// exit; anything else is a usage error.

#include "smc/temperature_sensors.h"

#include <optional>
#include <string>
#include <vector>

namespace ventaro {

/// The process's exit statuses.
enum ExitStatus : int {
  kExitOk = 0,             // the start did its job (or --check-fans: the fans are not stuck)
  kExitFailed = 1,         // the load failed, its results were wrong, or output was lost
  kExitUsage = 2,          // the command line was not understood
  kExitNothingToRunOn = 3, // two or more GPUs and no --device; --check-fans or --sensors
                           // without an SMC
};

struct CommandLine {
  enum class Action { run, listDevices, checkFans, sensors, showHelp, showVersion, usageError };
  Action action = Action::run;
  bool loginItem = false;
  bool json = false;
  std::optional<std::string> device;               // the --device value, as given
  std::optional<double> durationSeconds;           // --duration: a timed run this long
  std::optional<std::string> plot;                 // --plot: where to draw a timed run
  TemperatureUnit unit = TemperatureUnit::celsius; // the --unit of --sensors
  std::string problem;                             // what is wrong, for usageError
};

/// The longest timed run, in seconds.
inline constexpr double kMaxDurationSeconds = 24.0 * 3600.0;
/// The --device value that names every GPU (the CPU where there is none).
inline constexpr const char* kAllDevices = "all";

/// Seconds of a --duration value: whole seconds, minutes or hours ("90s", "10m", "1h"), from
/// 1 s to kMaxDurationSeconds; none for anything else.
std::optional<double> parseDuration(const std::string& text);

/// The names of a --device value, split at commas ("vulkan:0,cpu"); empty names stay, so that
/// they are reported.
std::vector<std::string> deviceList(const std::string& value);

/// Reads the arguments after the program name. An argument not understood, or options that do
/// not go together, make a usage error; otherwise --help wins over --version, which wins over
/// everything else.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string helpText(const std::string& programName);
std::string versionText();
/// The message for a usage error (`problem` is shown as display text), ending with a hint to
/// --help.
std::string usageErrorText(const std::string& programName, const std::string& problem);

} // namespace ventaro
