#pragma once

// Remembers, per notice identifier, which server showed the notice and under which id, so that
// a later process can replace or withdraw it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace ventaro {

/// Where a posted notice lives: its id at one notification server on one bus.
struct SavedNotice {
  std::uint32_t id = 0;
  /// The bus's GUID: unique names are reused by every new bus, the GUID is not.
  std::string busGuid;
  /// The server's unique bus name (":1.42").
  std::string serverName;

  bool operator==(const SavedNotice&) const = default;
};

/// One small file per identifier and bus in a private directory, each written atomically: two
/// sessions of one user that share the directory each keep their own ids. The directory
/// is used only while it is a real directory of this user that nobody else can write (made
/// with mode 0700 where missing; a link in its place is never followed). Unreadable, malformed
/// or oversized files and anything but a regular file read as "nothing saved".
class NoticeIdStore {
public:
  explicit NoticeIdStore(std::filesystem::path directory);

  /// $XDG_RUNTIME_DIR/ventaro when XDG_RUNTIME_DIR names an absolute path, else the
  /// user's cache directory's ventaro/ (safe across reboots: entries are bound to a bus GUID);
  /// empty (nothing is kept) when the user has no home directory at all.
  static std::filesystem::path defaultDirectory();

  /// What was saved under `identifier` on the bus with GUID `busGuid`.
  std::optional<SavedNotice> load(const std::string& identifier, const std::string& busGuid) const;
  /// Whether the entry was saved (not in a directory that is unsafe, missing or full, and with a
  /// valid bus GUID).
  bool save(const std::string& identifier, const SavedNotice& notice) const;
  void forget(const std::string& identifier, const std::string& busGuid) const;

  /// The file that holds an identifier's entry on a bus; any identifier maps to a plain file
  /// name inside the directory, and distinct identifiers or buses to distinct names. Empty for
  /// a text that is no bus GUID.
  std::filesystem::path fileFor(const std::string& identifier, const std::string& busGuid) const;

  const std::filesystem::path& directory() const { return directory_; }

private:
  static std::optional<std::string> fileNameFor(const std::string& identifier,
                                                const std::string& busGuid);

  std::filesystem::path directory_;
};

} // namespace ventaro
