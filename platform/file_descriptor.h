#pragma once

// An open file descriptor, closed when it goes out of scope (or earlier, when the caller wants
// to see whether the close failed).

#include <cerrno>
#include <unistd.h>
#include <utility>

namespace ventaro {

class FileDescriptor {
public:
  /// Takes `fd` over; a negative value holds nothing.
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  /// Closes now, so that a failing close can be reported: 0, or the errno of the close.
  int close() {
    const int result = fd_ >= 0 ? ::close(std::exchange(fd_, -1)) : 0;
    return result == 0 ? 0 : errno;
  }

private:
  int fd_;
};

} // namespace ventaro
