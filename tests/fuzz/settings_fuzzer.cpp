// Fuzzes the settings store: each input is the whole settings file, read from a private
// XDG_CONFIG_HOME made once per process, for each setting of the program and keys that only look
// like them, with defaults of both kinds and with none. What each value reads as is for the
// settings unit tests.

#include "platform/user_defaults.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using ventaro::KeyFileUserDefaults;
using ventaro::fuzz::check;

// The three settings of the program, then keys that only look like them.
const std::string kKeys[] = {
    "DelayAtLogin",    "HideAtLogin",  "StressLevel",  "stresslevel",
    "StressLevel[de]", "Stress Level", "StressLevel ", "",
    "Ventaro",         "[Ventaro]",    "#StressLevel", "\xff\xfe",
};

fs::path configHome;

const fs::path& settingsFile() {
  static const fs::path file = [] {
    std::string pattern = (fs::temp_directory_path() / "ventaro-fuzz-XXXXXX").string();
    check(mkdtemp(pattern.data()) != nullptr, "a temporary config folder can be made");
    configHome = pattern;
    std::atexit([] {
      std::error_code ignored; // best effort: a leftover temporary folder harms nothing
      fs::remove_all(configHome, ignored);
    });
    check(setenv("XDG_CONFIG_HOME", pattern.c_str(), 1) == 0, "XDG_CONFIG_HOME can be set");
    const fs::path path = ventaro::defaultSettingsFilePath();
    fs::create_directories(path.parent_path());
    return path;
  }();
  return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    // A new file each time: rewriting one in place makes some file systems flush it at close.
    fs::remove(settingsFile());
    std::ofstream out(settingsFile(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    check(out.good(), "the settings file can be written");
  }
  KeyFileUserDefaults registered{settingsFile()}, unregistered{settingsFile()};
  for (const std::string& key : kKeys) {
    for (const ventaro::DefaultValue value :
         {ventaro::DefaultValue{std::int64_t{5}}, ventaro::DefaultValue{true}}) {
      registered.registerDefaults(key, value);
      registered.integerForKey(key);
      registered.boolForKey(key);
    }
    unregistered.integerForKey(key);
    unregistered.boolForKey(key);
  }
  return 0;
}
