#include "platform/user_defaults.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <glib.h>
#include <memory>

namespace ventaro {
namespace {

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view blanks = " \t\r\n";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](char c) { return g_ascii_tolower(c); });
  return result;
}

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};

// The values of the [Ventaro] group, or none when the file cannot be read or parsed.
std::map<std::string, std::string> readStoredValues(const std::filesystem::path& path) {
  std::map<std::string, std::string> values;
  std::unique_ptr<GKeyFile, KeyFileDeleter> file(g_key_file_new());
  GError* error = nullptr;
  if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, &error)) {
    g_clear_error(&error); // missing, unreadable or malformed: the user stored nothing
    return values;
  }
  gsize count = 0;
  gchar** keys = g_key_file_get_keys(file.get(), kSettingsGroup, &count, nullptr);
  for (gsize i = 0; i < count; ++i) {
    gchar* value = g_key_file_get_value(file.get(), kSettingsGroup, keys[i], nullptr);
    if (value != nullptr) {
      values[keys[i]] = value;
      g_free(value);
    }
  }
  g_strfreev(keys);
  return values;
}

} // namespace

std::filesystem::path settingsFilePath(const char* xdgConfigHome, const char* home) {
  std::filesystem::path base;
  if (xdgConfigHome != nullptr && std::filesystem::path(xdgConfigHome).is_absolute()) {
    base = xdgConfigHome;
  } else if (home != nullptr && *home != '\0') {
    base = std::filesystem::path(home) / ".config";
  } else {
    base = std::filesystem::path(g_get_home_dir()) / ".config";
  }
  return base / "ventaro" / "settings.ini";
}

std::filesystem::path defaultSettingsFilePath() {
  // The program never changes its environment, so reading it cannot race with a change.
  return settingsFilePath(std::getenv("XDG_CONFIG_HOME"), // NOLINT(concurrency-mt-unsafe)
                          std::getenv("HOME"));           // NOLINT(concurrency-mt-unsafe)
}

std::optional<std::int64_t> parseIntegerSetting(const std::string& text) {
  std::string_view digits = trimmed(text);
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
    if (!digits.empty() && digits.front() == '-') {
      return std::nullopt;
    }
  }
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<bool> parseBooleanSetting(const std::string& text) {
  const std::string word = lowered(trimmed(text));
  if (word == "true" || word == "yes" || word == "1") {
    return true;
  }
  if (word == "false" || word == "no" || word == "0") {
    return false;
  }
  return std::nullopt;
}

KeyFileUserDefaults::KeyFileUserDefaults(const std::filesystem::path& file)
    : stored_(readStoredValues(file)) {}

void KeyFileUserDefaults::registerDefaults(const std::string& key, DefaultValue value) {
  registered_[key] = value;
}

std::int64_t KeyFileUserDefaults::integerForKey(const std::string& key) {
  if (const auto stored = stored_.find(key); stored != stored_.end()) {
    return parseIntegerSetting(stored->second).value_or(0);
  }
  if (const auto registered = registered_.find(key); registered != registered_.end()) {
    return std::visit([](auto value) { return static_cast<std::int64_t>(value); },
                      registered->second);
  }
  return 0;
}

bool KeyFileUserDefaults::boolForKey(const std::string& key) {
  if (const auto stored = stored_.find(key); stored != stored_.end()) {
    return parseBooleanSetting(stored->second).value_or(false);
  }
  if (const auto registered = registered_.find(key); registered != registered_.end()) {
    return std::visit([](auto value) { return static_cast<bool>(value); }, registered->second);
  }
  return false;
}

} // namespace ventaro
