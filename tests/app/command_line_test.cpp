#include "app/command_line.h"

#include <gtest/gtest.h>

namespace ventaro {
namespace {

using Action = CommandLine::Action;

// The plain start, --list-devices, --check-fans and the usage errors the real binary shows are
// run end to end (cli_binary_test.cpp, login_item_binary_test.cpp); these are the rest.
TEST(CommandLine, ReadsEachOptionAndRefusesWhatDoesNotGoTogether) {
  struct Case {
    std::vector<std::string> arguments;
    Action action;
    bool loginItem;
    std::optional<std::string> device;
  } cases[] = {
      {{"--login-item", "--login-item"}, Action::run, true, {}},
      {{"--device", "cuda:1", "--login-item"}, Action::run, true, "cuda:1"},
      {{"--device=cpu", "--device", "--json"}, Action::run, false, "--json"},
      {{"--device="}, Action::run, false, ""},
      {{"--version", "--help", "--check-fans", "--list-devices"}, Action::showHelp, false, {}},
      {{"--list-devices", "--version"}, Action::showVersion, false, {}},
      {{"--list-devices", "--device", "cpu"}, Action::usageError, false, {}},
      {{"--help", "-h"}, Action::usageError, false, {}},
      {{"--login-item="}, Action::usageError, false, {}},
      {{"--LOGIN-ITEM"}, Action::usageError, false, {}},
      {{""}, Action::usageError, false, {}},
      {{"--sensors", "--check-fans"}, Action::usageError, false, {}},
      {{"--sensors", "--login-item"}, Action::usageError, false, {}},
      {{"--unit", "kelvin"}, Action::usageError, false, {}},
      {{"--sensors", "--unit"}, Action::usageError, false, {}},
      {{"--sensors", "--unit=rankine"}, Action::usageError, false, {}},
      {{"--sensors", "--unit", "Kelvin"}, Action::usageError, false, {}},
      {{"--login-item", "--"}, Action::run, true, {}},
      {{"--", "--json"}, Action::usageError, false, {}},
  };
  for (const Case& c : cases) {
    const CommandLine parsed = parseCommandLine(c.arguments);
    const std::string shown = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(parsed.action, c.action) << shown;
    if (c.action != Action::usageError) {
      EXPECT_EQ(parsed.loginItem, c.loginItem) << shown;
      EXPECT_EQ(parsed.device, c.device) << shown;
    } else {
      EXPECT_NE(parsed.problem, "") << shown;
    }
  }
}

TEST(CommandLine, SensorsTakeAUnitCelsiusByDefault) {
  const std::pair<std::vector<std::string>, TemperatureUnit> cases[] = {
      {{"--sensors"}, TemperatureUnit::celsius},
      {{"--sensors", "--unit", "fahrenheit", "--json"}, TemperatureUnit::fahrenheit},
      {{"--unit=kelvin", "--sensors", "--unit=celsius"}, TemperatureUnit::celsius},
      {{"--unit=kelvin", "--sensors"}, TemperatureUnit::kelvin},
  };
  for (const auto& [arguments, unit] : cases) {
    const CommandLine parsed = parseCommandLine(arguments);
    EXPECT_EQ(parsed.action, Action::sensors) << ::testing::PrintToString(arguments);
    EXPECT_EQ(parsed.unit, unit) << ::testing::PrintToString(arguments);
  }
}

} // namespace
} // namespace ventaro

namespace ventaro {
namespace {

TEST(TimedRunOptions, DurationsAreWholeSecondsMinutesOrHours) {
  EXPECT_EQ(parseDuration("90s"), 90.0);
  EXPECT_EQ(parseDuration("10m"), 600.0);
  EXPECT_EQ(parseDuration("1h"), 3600.0);
  EXPECT_EQ(parseDuration("24h"), kMaxDurationSeconds);
  for (const char* bad : {"", "s", "0s", "25h", "90", "1.5m", "-5s", "+5s", " 5s", "5 s", "5S",
                          "99999999999h", "1d"}) {
    EXPECT_FALSE(parseDuration(bad)) << bad;
  }
  const CommandLine timed = parseCommandLine(
      {"--duration=10m", "--device", "vulkan:0,cpu", "--plot", "run.svg", "--json"});
  EXPECT_EQ(timed.action, CommandLine::Action::run);
  EXPECT_EQ(timed.durationSeconds, 600.0);
  EXPECT_EQ(timed.plot, "run.svg");
  EXPECT_EQ(deviceList(*timed.device), (std::vector<std::string>{"vulkan:0", "cpu"}));
  EXPECT_EQ(deviceList("a,,b,"), (std::vector<std::string>{"a", "", "b", ""}));
  // Each of these says what is wrong.
  for (const std::vector<std::string>& wrong :
       std::vector<std::vector<std::string>>{{"--duration", "10"},
                                             {"--duration"},
                                             {"--duration", "1m", "--login-item"},
                                             {"--duration", "1m", "--list-devices"},
                                             {"--plot", "run.png"},
                                             {"--duration", "1m", "--plot", "run.jpg"},
                                             {"--duration", "1m", "--plot", ".png"},
                                             {"--device", "cpu,vulkan:0"},
                                             {"--device", "all"}}) {
    const CommandLine refused = parseCommandLine(wrong);
    EXPECT_EQ(refused.action, CommandLine::Action::usageError) << wrong.front();
    EXPECT_FALSE(refused.problem.empty());
  }
}

} // namespace
} // namespace ventaro
