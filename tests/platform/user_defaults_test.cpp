#include "platform/user_defaults.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>
#include <sstream>

namespace ventaro {
namespace {

namespace fs = std::filesystem;

// A temporary XDG_CONFIG_HOME for one test; the settings file is found through it.
class SettingsFile : public ::testing::Test {
protected:
  void SetUp() override {
    gchar* made = g_dir_make_tmp("ventaro-settings-XXXXXX", nullptr);
    ASSERT_NE(made, nullptr);
    configHome = made;
    g_free(made);
    ASSERT_EQ(setenv("XDG_CONFIG_HOME", configHome.c_str(), 1), 0);
    file = configHome / "ventaro" / "settings.ini";
  }
  void TearDown() override { fs::remove_all(configHome); }

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

  fs::path configHome;
  fs::path file;
};

TEST_F(SettingsFile, StoredIntegerWinsAndReadsAsZeroWhenItIsNotOne) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"42", 42},
      {"  250  ", 250},
      {"-4", -4},
      {"+7", 7},
      {"007", 7},
      {"0", 0},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      // Outside the 64-bit range, or not an integer at all.
      {"9223372036854775808", 0},
      {"-9223372036854775809", 0},
      {"123456789012345678901", 0},
      {"", 0},
      {"abc", 0},
      {"12abc", 0},
      {"1.5", 0},
      {"0x10", 0},
      {"1 2", 0},
      {"+-3", 0},
      {"+", 0},
      {"true", 0}};
  for (const auto& [text, expected] : cases) {
    write(std::string("[Ventaro]\nStressLevel=") + text + "\n");
    EXPECT_EQ(load().integerForKey("StressLevel"), expected) << '"' << text << '"';
  }
}

TEST_F(SettingsFile, StoredBooleanWinsInAnyLetterCaseAndReadsAsFalseOtherwise) {
  const std::pair<const char*, bool> cases[] = {
      {"true", true},  {"TRUE", true},   {"yes", true}, {"YeS", true},    {"1", true},
      {" yes ", true}, {"false", false}, {"No", false}, {"0", false},     {"2", false},
      {"on", false},   {"y", false},     {"", false},   {"truest", false}};
  for (const auto& [text, expected] : cases) {
    write(std::string("[Ventaro]\nHideAtLogin=") + text + "\n");
    KeyFileUserDefaults defaults = load();
    defaults.registerDefaults("HideAtLogin", !expected); // the stored value must win
    EXPECT_EQ(defaults.boolForKey("HideAtLogin"), expected) << '"' << text << '"';
  }
}

TEST_F(SettingsFile, MissingOrUnusableFileLeavesTheRegisteredDefaults) {
  EXPECT_EQ(load().integerForKey("StressLevel"), 100) << "no file";
  EXPECT_EQ(load().integerForKey("NeverRegistered"), 0);
  EXPECT_FALSE(load().boolForKey("NeverRegistered"));

  for (const char* text : {"StressLevel=1\n", "[Ventaro\nStressLevel=1\n",
                           "[Ventaro]\nStressLevel=1\nno equals sign\n"}) {
    write(text);
    EXPECT_EQ(load().integerForKey("StressLevel"), 100) << text;
  }
  fs::remove(file);
  fs::create_directories(file); // a folder where the file should be
  EXPECT_EQ(load().integerForKey("StressLevel"), 100);
}

TEST_F(SettingsFile, OnlyExactKeysOfTheVentaroGroupCount) {
  write("# comment\n[Other]\nStressLevel=1\n\n[Ventaro]\nstresslevel=2\nDelayAtLogin=9\n");
  KeyFileUserDefaults defaults = load();
  EXPECT_EQ(defaults.integerForKey("StressLevel"), 100);
  EXPECT_EQ(defaults.integerForKey("DelayAtLogin"), 9) << "stored, never registered";
  defaults.registerDefaults("DelayAtLogin", std::int64_t{5});
  EXPECT_EQ(defaults.integerForKey("DelayAtLogin"), 9) << "registering keeps the stored value";
}

TEST_F(SettingsFile, FileIsNeverWritten) {
  load().integerForKey("StressLevel");
  EXPECT_FALSE(fs::exists(file.parent_path())) << "nothing is made where nothing was";

  const std::string text = "[Ventaro]\nStressLevel = 3\n";
  write(text);
  const auto modified = fs::last_write_time(file);
  EXPECT_EQ(load().integerForKey("StressLevel"), 3);
  std::ostringstream after;
  after << std::ifstream(file).rdbuf();
  EXPECT_EQ(after.str(), text);
  EXPECT_EQ(fs::last_write_time(file), modified);
}

TEST(SettingsFilePath, IgnoresAnUnsetEmptyOrRelativeConfigHome) {
  EXPECT_EQ(settingsFilePath("/cfg", "/home/u"), "/cfg/ventaro/settings.ini");
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/cfg"}) {
    EXPECT_EQ(settingsFilePath(ignored, "/home/u"), "/home/u/.config/ventaro/settings.ini");
  }
}

} // namespace
} // namespace ventaro
