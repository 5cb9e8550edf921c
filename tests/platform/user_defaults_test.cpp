#include "platform/user_defaults.h"
#include "tests/support/notification_bus.h"

#include <fstream>
#include <gtest/gtest.h>

namespace ventaro {
namespace {

namespace fs = std::filesystem;

// A temporary XDG_CONFIG_HOME; the settings file is found through it.
class SettingsFile : public ::testing::Test {
protected:
  void write(const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }
  // A fresh store over the file, with StressLevel's default 100 registered.
  KeyFileUserDefaults load() const {
    KeyFileUserDefaults defaults(defaultSettingsFilePath());
    defaults.registerDefaults("StressLevel", std::int64_t{100});
    return defaults;
  }

  testing::TemporaryDirectory configHome;
  testing::ScopedEnvironmentVariable variable{"XDG_CONFIG_HOME", configHome.path().string()};
  fs::path file = configHome.path() / "ventaro" / "settings.ini";
};

TEST_F(SettingsFile, StoredIntegerWinsAndReadsAsZeroWhenItIsNotOne) {
  const std::pair<const char*, std::int64_t> cases[] = {{"  250  ", 250},
                                                        {"-4", -4},
                                                        {"+7", 7},
                                                        {"007", 7},
                                                        {"9223372036854775807", INT64_MAX},
                                                        {"-9223372036854775808", INT64_MIN}};
  for (const auto& [text, expected] : cases) {
    write(std::string("[Ventaro]\nStressLevel=") + text + "\n");
    EXPECT_EQ(load().integerForKey("StressLevel"), expected) << '"' << text << '"';
  }
  // Beyond the 64-bit range, or not an integer at all.
  for (const char* text : {"9223372036854775808", "-9223372036854775809", "123456789012345678901",
                           "", "abc", "12abc", "1.5", "0x10", "1 2", "+-3", "+", "true"}) {
    write(std::string("[Ventaro]\nStressLevel=") + text + "\n");
    EXPECT_EQ(load().integerForKey("StressLevel"), 0) << '"' << text << '"';
  }
}

TEST_F(SettingsFile, StoredBooleanWinsInAnyLetterCaseAndReadsAsFalseOtherwise) {
  const std::pair<bool, std::vector<const char*>> cases[] = {
      {true, {"true", "TRUE", "YeS", "1", " yes "}},
      {false, {"No", "0", "2", "on", "y", "", "truest", "9223372036854775807"}}};
  for (const auto& [expected, texts] : cases) {
    for (const char* text : texts) {
      write(std::string("[Ventaro]\nHideAtLogin=") + text + "\n");
      KeyFileUserDefaults defaults = load();
      defaults.registerDefaults("HideAtLogin", !expected); // the stored value must win
      EXPECT_EQ(defaults.boolForKey("HideAtLogin"), expected) << '"' << text << '"';
    }
  }
}

TEST_F(SettingsFile, MissingOrUnusableFileLeavesTheRegisteredDefaults) {
  EXPECT_EQ(load().integerForKey("StressLevel"), 100) << "no file";
  EXPECT_FALSE(fs::exists(file.parent_path())) << "nothing is made where nothing was";
  const std::string unusable[] = {"StressLevel=1\n", "[Ventaro\nStressLevel=1\n",
                                  "[Ventaro]\nStressLevel=1\nno equals sign\n",
                                  "[Ventaro]\nStressLevel=1\n" + std::string("\xff\xfe\0", 3)};
  for (const std::string& text : unusable) {
    write(text);
    EXPECT_EQ(load().integerForKey("StressLevel"), 100) << text;
  }
  fs::remove(file);
  fs::create_directories(file); // a folder where the file should be
  EXPECT_EQ(load().integerForKey("StressLevel"), 100);
}

} // namespace
} // namespace ventaro
