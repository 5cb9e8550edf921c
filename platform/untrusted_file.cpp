#include "platform/untrusted_file.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ventaro {

std::optional<std::string> readUntrustedFile(int directoryFd, const std::string& name,
                                             std::size_t limit, bool followLink) {
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  const int fd = ::openat(directoryFd, name.c_str(), flags);
  if (fd < 0) {
    return std::nullopt;
  }
  std::optional<std::string> contents;
  struct stat info {};
  // The size is only a first check: what is read is bounded again, whatever the file claims.
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<std::uint64_t>(info.st_size) <= limit) {
    std::string data;
    std::array<char, 4096> buffer{};
    for (;;) {
      const ssize_t count = ::read(fd, buffer.data(), buffer.size());
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count <= 0 || data.size() + static_cast<std::size_t>(count) > limit) {
        if (count == 0) {
          contents = std::move(data);
        }
        break;
      }
      data.append(buffer.data(), static_cast<std::size_t>(count));
    }
  }
  ::close(fd);
  return contents;
}

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
