#pragma once

#include "smc/applesmc/file_access.h"
#include "smc/four_char_code.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ventaro::applesmc {

// The key-cursor files of the device directory.
inline constexpr std::string_view kCursorAttributes[] = {
    "key_count",         "key_at_index",      "key_at_index_name",
    "key_at_index_type", "key_at_index_data", "key_at_index_data_length",
};

// One key behind an imitated key cursor: its code, type code and value bytes.
struct CursorKey {
  FourCharCode code = 0;
  FourCharCode type = 0;
  std::string data;
};

// A file tree in memory that behaves as sysfs does for the applesmc driver: files can be loaded
// from a fixture tree on disk, the key cursor of the device directory can be imitated, writes
// can be refused as they are for an ordinary user, and any path can be made to fail.
class InMemoryFileAccess final : public FileAccess {
public:
  // Adds a file (replacing one at the path) and every directory above it.
  void addFile(const std::string& path, std::string contents);
  void addDirectory(const std::string& path);
  // Copies the directory tree below `hostDirectory` on disk to the root. Throws
  // std::runtime_error when the tree cannot be read.
  void loadTree(const std::filesystem::path& hostDirectory);

  // Makes the key-cursor files of `deviceDirectory` answer from `keys`, in the given order:
  // key_count, key_at_index (write an index, root only), then key_at_index_name, _type,
  // _data_length and _data for the selected key. An index beyond the keys is refused (EINVAL).
  void attachKeyCursor(const std::string& deviceDirectory, std::vector<CursorKey> keys);

  // As an ordinary user every write is refused with EACCES: sysfs attributes are writable by
  // root only. Root is the default.
  void setRoot(bool root) { root_ = root; }

  // Every access to `path` and below fails with `error`; for a directory this is the state
  // after chmod 000: it still exists, but cannot be listed nor entered.
  void failAccess(const std::string& path, int error);

  // Runs `action` after each successful read of `path` (for example, another process moving
  // the key cursor).
  void afterRead(const std::string& path, std::function<void()> action);

  ReadResult readFile(const std::string& path) override;
  int writeFile(const std::string& path, std::string_view data) override;
  ListResult listDirectory(const std::string& path) override;
  bool isDirectory(const std::string& path) override;

private:
  struct Cursor {
    std::string directory;
    std::vector<CursorKey> keys;
    std::uint32_t index = 0;
  };

  // The name of the key-cursor file at `path`, or "" where there is none.
  std::string cursorAttribute(const std::string& path) const;
  ReadResult readCursor(const std::string& attribute) const;
  int failureOf(const std::string& path, bool includeSelf) const;

  std::map<std::string, std::string> files_;
  std::set<std::string> directories_{"/"};
  std::optional<Cursor> cursor_;
  bool root_ = true;
  std::map<std::string, int> failures_;
  std::map<std::string, std::function<void()>> afterRead_;
};

} // namespace ventaro::applesmc
