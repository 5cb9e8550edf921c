#pragma once

// The user's settings: defaults registered by the program in memory, values stored by the user
// in a key file that the program only reads.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace ventaro {

/// A registered default: a signed 64-bit integer or a Boolean.
using DefaultValue = std::variant<std::int64_t, bool>;

class UserDefaults {
public:
  virtual ~UserDefaults() = default;
  /// Registers the default of one key. Reads of the key yield it while the user has stored no
  /// value of their own; a stored value is never changed.
  virtual void registerDefaults(const std::string& key, DefaultValue value) = 0;
  /// The stored value, else the registered one, as an integer: 0 when there is neither or the
  /// value cannot be read as an integer. A Boolean reads as 1 or 0.
  virtual std::int64_t integerForKey(const std::string& key) = 0;
  /// The stored value, else the registered one, as a Boolean: false when there is neither or
  /// the value cannot be read as a Boolean. An integer reads as true when it is not 0.
  virtual bool boolForKey(const std::string& key) = 0;
};

/// Where the settings file lives: `$XDG_CONFIG_HOME/ventaro/settings.ini`, else
/// `$HOME/.config/ventaro/settings.ini`. A relative or empty XDG_CONFIG_HOME is ignored, as
/// the base-directory convention asks, and so is a relative or empty HOME: the home directory
/// from the password database stands in. Null arguments stand for unset variables. Empty when
/// no home can be found at all (then nothing is stored).
std::filesystem::path settingsFilePath(const char* xdgConfigHome, const char* home);

/// settingsFilePath() for this process's environment.
std::filesystem::path defaultSettingsFilePath();

/// Group of the settings file that holds the keys.
inline constexpr const char* kSettingsGroup = "Ventaro";

/// Reads an integer setting: optional blanks around an optional sign and decimal digits. Text
/// that is not such a number, or one outside the signed 64-bit range, yields nothing.
std::optional<std::int64_t> parseIntegerSetting(const std::string& text);

/// Reads a Boolean setting: true/false, yes/no or 1/0 in any letter case, blanks around
/// allowed. Anything else yields nothing.
std::optional<bool> parseBooleanSetting(const std::string& text);

/// Settings stored in a GLib key file, group [Ventaro]. The file is read once, when the object
/// is made; a missing, unreadable or malformed file means that the user stored nothing, and so
/// does anything but a regular file (a FIFO is never waited on) or a file over 1 MiB.
class KeyFileUserDefaults final : public UserDefaults {
public:
  explicit KeyFileUserDefaults(const std::filesystem::path& file);

  void registerDefaults(const std::string& key, DefaultValue value) override;
  std::int64_t integerForKey(const std::string& key) override;
  bool boolForKey(const std::string& key) override;

private:
  std::map<std::string, std::string> stored_;
  std::map<std::string, DefaultValue> registered_;
};

} // namespace ventaro
