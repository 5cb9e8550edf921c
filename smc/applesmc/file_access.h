#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ventaro::applesmc {

// The contents of a file, or the errno of the access that failed (0 on success).
struct ReadResult {
  int error = 0;
  std::string data;
};

// The names in a directory, sorted, or the errno of the listing that failed.
struct ListResult {
  int error = 0;
  std::vector<std::string> names;
};

// The few file operations the applesmc driver makes, so that it can run over a fixture tree as
// well as over /sys. Paths are absolute, '/'-separated. No operation throws for a failed access:
// the errno is in the result, as the driver maps each errno to its own answer.
class FileAccess {
public:
  virtual ~FileAccess() = default;

  // The whole file, binary; a sysfs attribute is produced anew by each read from its start.
  virtual ReadResult readFile(const std::string& path) = 0;
  // Replaces the file's contents in one write; returns 0 or the errno.
  virtual int writeFile(const std::string& path, std::string_view data) = 0;
  virtual ListResult listDirectory(const std::string& path) = 0;
  virtual bool isDirectory(const std::string& path) = 0;
};

// `directory` + "/" + `name`, without doubling a separator.
inline std::string joinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (path.empty() || path.back() != '/') {
    path.push_back('/');
  }
  path.append(name);
  return path;
}

} // namespace ventaro::applesmc
