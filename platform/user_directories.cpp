#include "platform/user_directories.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace ventaro {

std::optional<std::filesystem::path> homeDirectory(const char* home) {
  if (home != nullptr && std::filesystem::path(home).is_absolute()) {
    return std::filesystem::path(home);
  }
  const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr &&
      std::filesystem::path(found->pw_dir).is_absolute()) {
    return std::filesystem::path(found->pw_dir);
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> baseDirectory(const char* value, const char* home,
                                                   const char* underHome) {
  if (value != nullptr && std::filesystem::path(value).is_absolute()) {
    return std::filesystem::path(value);
  }
  std::optional<std::filesystem::path> base = homeDirectory(home);
  if (base) {
    *base /= underHome;
  }
  return base;
}

} // namespace ventaro
