#include "app/command_line.h"

#include "platform/display_text.h"
#include "workload/gpu_registry.h"

namespace ventaro {
namespace {

constexpr const char* kDeviceOption = "--device";
constexpr const char* kUnitOption = "--unit";
constexpr const char* kDurationOption = "--duration";
constexpr const char* kPlotOption = "--plot";

std::optional<TemperatureUnit> unitNamed(const std::string& name) {
  if (name == "celsius") {
    return TemperatureUnit::celsius;
  }
  if (name == "fahrenheit") {
    return TemperatureUnit::fahrenheit;
  }
  if (name == "kelvin") {
    return TemperatureUnit::kelvin;
  }
  return std::nullopt;
}

std::string quoted(const std::string& argument) {
  return "'" + argument + "'";
}

CommandLine usageError(std::string problem) {
  CommandLine result;
  result.action = CommandLine::Action::usageError;
  result.problem = std::move(problem);
  return result;
}

// "cuda:N, vulkan:N or cpu": the names --device takes with the backends this build holds.
std::string deviceForms() {
  std::string forms;
  for (const gpu::BackendRegistration& backend : gpu::registeredBackends()) {
    forms += backend.id + ":N, ";
  }
  return forms.empty() ? "cpu" : forms.substr(0, forms.size() - 2) + " or cpu";
}

} // namespace

std::optional<double> parseDuration(const std::string& text) {
  // Digits, then one unit letter; nothing else (no sign, no space, no fraction).
  if (text.size() < 2 || text.size() > 12) {
    return std::nullopt;
  }
  double unit = 0.0;
  switch (text.back()) {
  case 's':
    unit = 1.0;
    break;
  case 'm':
    unit = 60.0;
    break;
  case 'h':
    unit = 3600.0;
    break;
  default:
    return std::nullopt;
  }
  double count = 0.0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return std::nullopt;
    }
    count = count * 10.0 + (text[i] - '0');
  }
  const double seconds = count * unit;
  if (seconds < 1.0 || seconds > kMaxDurationSeconds) {
    return std::nullopt;
  }
  return seconds;
}

std::vector<std::string> deviceList(const std::string& value) {
  std::vector<std::string> names;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = value.find(',', begin);
    names.push_back(value.substr(begin, comma == std::string::npos ? comma : comma - begin));
    if (comma == std::string::npos) {
      return names;
    }
    begin = comma + 1;
  }
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  bool help = false;
  bool version = false;
  bool listDevices = false;
  bool checkFans = false;
  bool sensors = false;
  std::optional<std::string> unit;
  std::optional<std::string> duration;
  bool endOfOptions = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (endOfOptions) {
      // Ventaro takes no operands: whatever follows "--" is one too many.
      return usageError("unexpected argument " + quoted(argument));
    }
    if (argument == "--") {
      endOfOptions = true;
    } else if (argument == "--login-item") {
      result.loginItem = true;
    } else if (argument == "--json") {
      result.json = true;
    } else if (argument == "--list-devices") {
      listDevices = true;
    } else if (argument == "--check-fans") {
      checkFans = true;
    } else if (argument == "--sensors") {
      sensors = true;
    } else if (argument == kUnitOption) {
      if (i + 1 == arguments.size()) {
        return usageError("option '--unit' needs a unit (celsius, fahrenheit or kelvin)");
      }
      unit = arguments[++i];
    } else if (argument.starts_with(std::string(kUnitOption) + "=")) {
      unit = argument.substr(std::string(kUnitOption).size() + 1);
    } else if (argument == kDurationOption || argument == kPlotOption) {
      if (i + 1 == arguments.size()) {
        return usageError(argument == kPlotOption
                              ? "option '--plot' needs a file name ending in .png or .svg"
                              : "option '--duration' needs a duration (90s, 10m, 1h)");
      }
      (argument == kPlotOption ? result.plot : duration) = arguments[++i];
    } else if (argument.starts_with(std::string(kDurationOption) + "=")) {
      duration = argument.substr(std::string(kDurationOption).size() + 1);
    } else if (argument.starts_with(std::string(kPlotOption) + "=")) {
      result.plot = argument.substr(std::string(kPlotOption).size() + 1);
    } else if (argument == "--help") {
      help = true;
    } else if (argument == "--version") {
      version = true;
    } else if (argument == kDeviceOption) {
      if (i + 1 == arguments.size()) {
        return usageError("option '--device' needs a device (see --list-devices)");
      }
      result.device = arguments[++i];
    } else if (argument.starts_with(std::string(kDeviceOption) + "=")) {
      result.device = argument.substr(std::string(kDeviceOption).size() + 1);
    } else {
      return usageError(argument.starts_with("-") ? "unrecognized option " + quoted(argument)
                                                  : "unexpected argument " + quoted(argument));
    }
  }
  if (help) {
    result.action = CommandLine::Action::showHelp;
  } else if (version) {
    result.action = CommandLine::Action::showVersion;
  } else if (listDevices || checkFans || sensors) {
    if (int{listDevices} + int{checkFans} + int{sensors} > 1) {
      return usageError("--list-devices, --check-fans and --sensors cannot be given together");
    }
    const char* option = listDevices ? "--list-devices" : checkFans ? "--check-fans" : "--sensors";
    if (result.loginItem || result.device) {
      return usageError(std::string(option) + " runs nothing: it takes neither --login-item nor " +
                        "--device");
    }
    result.action = listDevices ? CommandLine::Action::listDevices
                    : checkFans ? CommandLine::Action::checkFans
                                : CommandLine::Action::sensors;
  }
  const bool runs = result.action == CommandLine::Action::run;
  if (duration && runs) {
    result.durationSeconds = parseDuration(*duration);
    if (!result.durationSeconds) {
      return usageError("invalid duration " + quoted(*duration) +
                        "; give whole seconds, minutes or hours (90s, 10m, 1h), at most 24h");
    }
    if (result.loginItem) {
      return usageError("--duration is a user start: it does not go with --login-item");
    }
  } else if (duration && result.action != CommandLine::Action::showHelp &&
             result.action != CommandLine::Action::showVersion) {
    return usageError("--duration goes only with a run");
  }
  if (result.plot && !result.durationSeconds && result.action != CommandLine::Action::showHelp &&
      result.action != CommandLine::Action::showVersion) {
    return usageError("--plot draws a timed run: it needs --duration");
  }
  if (result.plot && runs) {
    const std::string& plot = *result.plot;
    if (plot.size() < 5 || (!plot.ends_with(".png") && !plot.ends_with(".svg"))) {
      return usageError("--plot needs a file name ending in .png or .svg, not " + quoted(plot));
    }
  }
  if (result.device && runs && !result.durationSeconds &&
      (result.device->find(',') != std::string::npos || *result.device == kAllDevices)) {
    return usageError("several devices run only in a timed run: add --duration");
  }
  if (unit && result.action != CommandLine::Action::showHelp &&
      result.action != CommandLine::Action::showVersion) {
    if (result.action != CommandLine::Action::sensors) {
      return usageError("--unit goes only with --sensors");
    }
    const auto named = unitNamed(*unit);
    if (!named) {
      return usageError("unknown unit " + quoted(*unit) + "; the units are celsius, fahrenheit " +
                        "and kelvin");
    }
    result.unit = *named;
  }
  return result;
}

std::string helpText(const std::string& programName) {
  return "Usage: " + programName +
         " [--login-item] [--device DEVICE] [--json]\n"
         "       " +
         programName +
         " --duration DURATION [--device DEVICE[,DEVICE...]|all] [--plot FILE] [--json]\n"
         "       " +
         programName +
         " --list-devices [--json]\n"
         "       " +
         programName +
         " --check-fans [--json]\n"
         "       " +
         programName +
         " --sensors [--unit UNIT] [--json]\n"
         "Measure the FP32 matrix-multiplication throughput of the GPU (or the CPU where no GPU\n"
         "exists) and post it as a desktop notice.\n"
         "\n"
         "  --login-item     start as a login item: check the fans and, only when they are\n"
         "                   stuck high, run the load to reset them\n"
         "  --device DEVICE  run the load on DEVICE (" +
         deviceForms() +
         ", as --list-devices\n"
         "                   shows); needed on a machine with two or more GPUs\n"
         "  --duration DURATION\n"
         "                   run the checked load back to back for DURATION (90s, 10m, 1h; at\n"
         "                   most 24h) in segments of about 2 s, reading the sensors in each;\n"
         "                   the notice gives the median, the lowest segment and a verdict\n"
         "                   (steady, throttled or unstable)\n"
         "  --device A,B     with --duration: run on each device named, at once; all: every\n"
         "                   GPU (the CPU only where there is none)\n"
         "  --plot FILE      with --duration: draw the run into FILE (.png or .svg)\n"
         "  --json           print one JSON object with the outcome on standard output (notices\n"
         "                   that cannot reach the desktop then go to standard error)\n"
         "  --list-devices   list the devices a run can use, one a line, and exit\n"
         "  --check-fans     read the fans as a login start does, print each fan and each term\n"
         "                   of the stuck-fan rule, and exit (0 not stuck, 1 stuck)\n"
         "  --sensors        list the temperature sensors of the SMC, each with its key and its\n"
         "                   temperature (? where the read failed), and exit\n"
         "  --unit UNIT      with --sensors: celsius (the default), fahrenheit or kelvin\n"
         "  --help           show this help and exit\n"
         "  --version        show the version and exit\n"
         "\n"
         "Exit status: 0 done; 1 the load failed, its results were wrong or output was lost;\n"
         "2 usage error; 3 nothing to run on (two or more GPUs without --device, or\n"
         "--check-fans or --sensors without an SMC); 128 + N ended by signal N (SIGHUP 129,\n"
         "SIGINT 130, SIGTERM 143). \"--\" ends the options.\n"
         "\n"
         "Settings: $XDG_CONFIG_HOME/ventaro/settings.ini, group [Ventaro], keys DelayAtLogin,\n"
         "HideAtLogin and StressLevel. See ventaro(1).\n";
}

std::string versionText() {
  return std::string("ventaro ") + VENTARO_VERSION + "\n";
}

std::string usageErrorText(const std::string& programName, const std::string& problem) {
  return displayText(programName) + ": " + displayText(problem) + "\nTry '" +
         displayText(programName) + " --help' for more information.\n";
}

} // namespace ventaro
