#include "app/command_line.h"

#include <gtest/gtest.h>

namespace ventaro {
namespace {

using Action = CommandLine::Action;

TEST(CommandLine, RecognisesTheLoginItemFlagAndNothingElse) {
  struct Case {
    std::vector<std::string> arguments;
    Action action;
    bool loginItem;
    std::string offending;
  } cases[] = {
      {{}, Action::run, false, ""},
      {{"--login-item"}, Action::run, true, ""},
      {{"--login-item", "--login-item"}, Action::run, true, ""},
      {{"--help"}, Action::showHelp, false, ""},
      {{"--version"}, Action::showVersion, false, ""},
      {{"--version", "--help"}, Action::showHelp, false, ""},
      {{"--bogus"}, Action::usageError, false, "--bogus"},
      {{"--login-item", "extra"}, Action::usageError, true, "extra"},
      {{"--help", "-h"}, Action::usageError, false, "-h"},
      {{"--login-item="}, Action::usageError, false, "--login-item="},
      {{"--LOGIN-ITEM"}, Action::usageError, false, "--LOGIN-ITEM"},
      {{""}, Action::usageError, false, ""},
  };
  for (const Case& c : cases) {
    const CommandLine parsed = parseCommandLine(c.arguments);
    const std::string shown = c.arguments.empty() ? "(none)" : c.arguments.front();
    EXPECT_EQ(parsed.action, c.action) << shown;
    EXPECT_EQ(parsed.loginItem, c.loginItem) << shown;
    EXPECT_EQ(parsed.offendingArgument, c.offending) << shown;
  }
}

} // namespace
} // namespace ventaro
