#include "smc/applesmc/real_file_access.h"

#include "platform/file_descriptor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ventaro::applesmc {
namespace {

// No attribute the driver reads comes near this; it bounds a read of an unexpected file.
constexpr std::size_t kReadLimit = 1 << 20;

// Opens without waiting for a peer (a FIFO planted in the tree would block a plain open for
// ever) and keeps only regular files: sysfs attributes are regular files, anything else in
// their place counts as absent.
FileDescriptor openRegularFile(const std::string& path, int flags, int* error) {
  FileDescriptor file(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat status {};
  if (file.get() < 0) {
    *error = errno == ENXIO ? ENOENT : errno; // ENXIO: a FIFO opened for writing without reader
  } else if (::fstat(file.get(), &status) != 0) {
    *error = errno;
  } else if (!S_ISREG(status.st_mode)) {
    *error = S_ISDIR(status.st_mode) ? EISDIR : ENOENT;
  } else {
    *error = 0;
  }
  return file;
}

} // namespace

ReadResult RealFileAccess::readFile(const std::string& path) {
  int error = 0;
  FileDescriptor file = openRegularFile(path, O_RDONLY, &error);
  if (error != 0) {
    return {error, {}};
  }
  ReadResult result;
  std::array<char, 4096> buffer{};
  while (result.data.size() < kReadLimit) {
    const ssize_t count = ::read(file.get(), buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return {errno, {}};
    }
    if (count == 0) {
      break;
    }
    result.data.append(buffer.data(), static_cast<std::size_t>(count));
  }
  result.error = file.close();
  return result;
}

int RealFileAccess::writeFile(const std::string& path, std::string_view data) {
  int error = 0;
  FileDescriptor file = openRegularFile(path, O_WRONLY | O_TRUNC, &error);
  if (error != 0) {
    return error;
  }
  while (!data.empty()) {
    const ssize_t count = ::write(file.get(), data.data(), data.size());
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(count));
  }
  return file.close();
}

ListResult RealFileAccess::listDirectory(const std::string& path) {
  DIR* directory = ::opendir(path.c_str());
  if (directory == nullptr) {
    return {errno, {}};
  }
  ListResult result;
  for (;;) {
    errno = 0;
    // readdir is safe on a stream that only one thread reads, as this one; readdir_r is
    // deprecated in glibc.
    // cppcheck-suppress readdirCalled
    const dirent* entry = ::readdir(directory); // NOLINT(concurrency-mt-unsafe)
    if (entry == nullptr) {
      result.error = errno; // 0 at the end of the directory
      break;
    }
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      result.names.emplace_back(name);
    }
  }
  ::closedir(directory);
  std::sort(result.names.begin(), result.names.end());
  return result;
}

bool RealFileAccess::isDirectory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace ventaro::applesmc
