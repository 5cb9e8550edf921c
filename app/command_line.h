#pragma once

// The command line: `--login-item` marks a login start; `--help` and `--version` print and
// exit; anything else is a usage error.

#include <string>
#include <vector>

namespace ventaro {

struct CommandLine {
  enum class Action { run, showHelp, showVersion, usageError };
  Action action = Action::run;
  bool loginItem = false;
  std::string offendingArgument; // the first argument not understood, for usageError
};

/// Reads the arguments after the program name. An argument not understood makes a usage
/// error wherever it stands; otherwise --help wins over --version, which wins over a run.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string helpText(const std::string& programName);
std::string versionText();
/// The message for a usage error, ending with a hint to --help.
std::string usageErrorText(const std::string& programName, const std::string& argument);

} // namespace ventaro
