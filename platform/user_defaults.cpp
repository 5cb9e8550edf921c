#include "platform/user_defaults.h"

#include "platform/untrusted_file.h"
#include "platform/user_directories.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
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

// Far beyond any settings file a person writes; a larger one is not read at all.
constexpr std::size_t kSettingsFileLimit = std::size_t{1} << 20;

// The values of the [Ventaro] group, or none when the file cannot be read or parsed. The file
// may be a link (kept dotfiles often are), but only a regular file is read, without blocking.
std::map<std::string, std::string> readStoredValues(const std::filesystem::path& path) {
  std::map<std::string, std::string> values;
  const std::optional<std::string> text =
      path.empty() ? std::nullopt : readUntrustedFile(AT_FDCWD, path, kSettingsFileLimit, true);
  std::unique_ptr<GKeyFile, KeyFileDeleter> file(g_key_file_new());
  GError* error = nullptr;
  // Some editors begin a UTF-8 file with a byte-order mark, which the key-file parser refuses.
  constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
  std::string_view data = text ? std::string_view(*text) : std::string_view();
  if (data.starts_with(byteOrderMark)) {
    data.remove_prefix(byteOrderMark.size());
  }
  if (!text ||
      !g_key_file_load_from_data(file.get(), data.data(), data.size(), G_KEY_FILE_NONE, &error)) {
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
  const std::optional<std::filesystem::path> base = baseDirectory(xdgConfigHome, home, ".config");
  return base ? *base / "ventaro" / "settings.ini" : std::filesystem::path();
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
