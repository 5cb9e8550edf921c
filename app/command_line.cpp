#include "app/command_line.h"

namespace ventaro {

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  bool help = false;
  bool version = false;
  for (const std::string& argument : arguments) {
    if (argument == "--login-item") {
      result.loginItem = true;
    } else if (argument == "--help") {
      help = true;
    } else if (argument == "--version") {
      version = true;
    } else {
      result.action = CommandLine::Action::usageError;
      result.offendingArgument = argument;
      return result;
    }
  }
  if (help) {
    result.action = CommandLine::Action::showHelp;
  } else if (version) {
    result.action = CommandLine::Action::showVersion;
  }
  return result;
}

std::string helpText(const std::string& programName) {
  return "Usage: " + programName +
         " [--login-item]\n"
         "Measure the FP32 matrix-multiplication throughput of the GPU (or the CPU where no GPU\n"
         "exists) and post it as a desktop notice.\n"
         "\n"
         "  --login-item  start as a login item: check the fans and, only when they are stuck\n"
         "                high, run the load to reset them\n"
         "  --help        show this help and exit\n"
         "  --version     show the version and exit\n"
         "\n"
         "Settings: $XDG_CONFIG_HOME/ventaro/settings.ini, group [Ventaro], keys DelayAtLogin,\n"
         "HideAtLogin and StressLevel.\n";
}

std::string versionText() {
  return std::string("ventaro ") + VENTARO_VERSION + "\n";
}

std::string usageErrorText(const std::string& programName, const std::string& argument) {
  const std::string problem = argument.starts_with("-") ? "unrecognized option '" + argument + "'"
                                                        : "unexpected argument '" + argument + "'";
  return programName + ": " + problem + "\nTry '" + programName +
         " --help' for more information.\n";
}

} // namespace ventaro
