#include "platform/user_directories.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace ventaro {
namespace {

// `value` as a path when it is an absolute one: a relative path would put the user's files
// wherever the program was started.
std::optional<std::filesystem::path> absolutePath(const char* value) {
  if (value != nullptr && std::filesystem::path(value).is_absolute()) {
    return std::filesystem::path(value);
  }
  return std::nullopt;
}

} // namespace

std::optional<std::filesystem::path> homeDirectory(const char* home) {
  if (std::optional<std::filesystem::path> given = absolutePath(home)) {
    return given;
  }
  const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    return absolutePath(found->pw_dir);
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> runtimeDirectory(const char* value) {
  return absolutePath(value);
}

std::optional<std::filesystem::path> baseDirectory(const char* value, const char* home,
                                                   const char* underHome) {
  if (std::optional<std::filesystem::path> given = absolutePath(value)) {
    return given;
  }
  std::optional<std::filesystem::path> base = homeDirectory(home);
  if (base) {
    *base /= underHome;
  }
  return base;
}

} // namespace ventaro
