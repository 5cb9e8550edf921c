#include "platform/untrusted_file.h"

#include "platform/file_descriptor.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventaro {

std::optional<std::string> readUntrustedFile(int directoryFd, const std::string& name,
                                             std::size_t limit, bool followLink) {
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  const FileDescriptor file(::openat(directoryFd, name.c_str(), flags));
  if (!file) {
    return std::nullopt;
  }
  const int fd = file.get();
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
  return contents;
}

} // namespace ventaro
