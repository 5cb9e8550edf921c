#include "app/ventaro_main.h"

#include "app/app_delegate.h"
#include "app/app_services.h"
#include "app/command_line.h"
#include "platform/application.h"

#include <filesystem>
#include <iostream>
#include <memory>

namespace ventaro {

int ventaroMain(int argc, char** argv) {
  const std::string programName =
      argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "ventaro";
  const CommandLine commandLine =
      parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));

  switch (commandLine.action) {
  case CommandLine::Action::showHelp:
    std::cout << helpText(programName);
    return 0;
  case CommandLine::Action::showVersion:
    std::cout << versionText();
    return 0;
  case CommandLine::Action::usageError:
    std::cerr << usageErrorText(programName, commandLine.offendingArgument);
    return 2;
  case CommandLine::Action::run:
    break;
  }

  GlibApplication application;
  auto delegate =
      std::make_shared<AppDelegate>(systemAppServices(application, commandLine.loginItem));
  return application.run(*delegate);
}

} // namespace ventaro
