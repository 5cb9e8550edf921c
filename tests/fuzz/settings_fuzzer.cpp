// Fuzzes the settings store: each input is the whole settings file, read from a private
// XDG_CONFIG_HOME made once per process. Every read must end in a value; where the file stores a
// key, its value wins over any registered default.

#include "platform/user_defaults.h"
#include "tests/fuzz/fuzz_support.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using ventaro::KeyFileUserDefaults;
using ventaro::fuzz::check;

// The three settings of the program, then keys that only look like them.
const std::array<std::string, 12> kKeys{
    "DelayAtLogin",    "HideAtLogin",  "StressLevel",  "stresslevel",
    "StressLevel[de]", "Stress Level", "StressLevel ", "",
    "Ventaro",         "[Ventaro]",    "#StressLevel", "\xff\xfe",
};

fs::path& configHome() {
  static fs::path home;
  return home;
}

void removeConfigHome() {
  std::error_code ignored; // best effort at exit: a leftover temporary folder harms nothing
  fs::remove_all(configHome(), ignored);
}

const fs::path& settingsFile() {
  static const fs::path file = [] {
    std::string pattern = (fs::temp_directory_path() / "ventaro-fuzz-XXXXXX").string();
    check(mkdtemp(pattern.data()) != nullptr, "a temporary config folder can be made");
    configHome() = pattern;
    std::atexit(removeConfigHome);
    check(setenv("XDG_CONFIG_HOME", pattern.c_str(), 1) == 0, "XDG_CONFIG_HOME can be set");
    const fs::path path = ventaro::defaultSettingsFilePath();
    check(path == configHome() / "ventaro" / "settings.ini",
          "the settings file lies below XDG_CONFIG_HOME");
    fs::create_directories(path.parent_path());
    return path;
  }();
  return file;
}

// Three stores over the same file: two that register different defaults for each key, one
// that registers none.
struct Stores {
  KeyFileUserDefaults first{settingsFile()};
  KeyFileUserDefaults second{settingsFile()};
  KeyFileUserDefaults unregistered{settingsFile()};
};

void checkIntegerReads(Stores& stores, const std::string& key) {
  constexpr std::int64_t kDefault = 5;
  constexpr std::int64_t kOtherDefault = std::numeric_limits<std::int64_t>::min();
  auto& [first, second, unregistered] = stores;
  first.registerDefaults(key, kDefault);
  second.registerDefaults(key, kOtherDefault);
  const std::int64_t a = first.integerForKey(key);
  const std::int64_t b = second.integerForKey(key);
  const bool stored = a == b;
  if (!stored) {
    check(a == kDefault && b == kOtherDefault, "a read yields the stored value or the default");
  }
  check(unregistered.integerForKey(key) == (stored ? a : 0),
        "without a default a read yields the stored value or 0");

  // A Boolean default read as an integer, where nothing is stored.
  first.registerDefaults(key, true);
  check(first.integerForKey(key) == (stored ? a : 1), "a Boolean default reads as 1");
}

void checkBooleanReads(Stores& stores, const std::string& key) {
  auto& [first, second, unregistered] = stores;
  first.registerDefaults(key, true);
  second.registerDefaults(key, false);
  const bool a = first.boolForKey(key);
  const bool b = second.boolForKey(key);
  const bool stored = a == b;
  if (stored) {
    check(unregistered.boolForKey(key) == a, "a stored Boolean does not depend on the default");
  } else {
    check(a && !b, "a read yields the stored value or the default");
    check(!unregistered.boolForKey(key), "without a default a read yields false");
  }

  // An integer default read as a Boolean, where nothing is stored.
  second.registerDefaults(key, std::numeric_limits<std::int64_t>::max());
  check(second.boolForKey(key) == (stored ? a : true), "a non-zero integer default reads as true");
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
  Stores stores;
  for (const std::string& key : kKeys) {
    checkIntegerReads(stores, key);
    checkBooleanReads(stores, key);
  }
  return 0;
}
