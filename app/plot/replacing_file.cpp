#include "app/plot/replacing_file.h"

#include "platform/display_text.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace ventaro::plot {

ReplacingFile::ReplacingFile(std::string path) : path_(std::move(path)) {}

ReplacingFile::~ReplacingFile() {
  discard();
}

std::string ReplacingFile::failure(int error) const {
  return "cannot write " + displayText(path_) + ": " + std::generic_category().message(error);
}

bool ReplacingFile::open(std::string& why) {
  const std::filesystem::path path(path_);
  name_ = path.filename().string();
  if (name_.empty() || name_ == "." || name_ == "..") {
    why = "cannot write " + displayText(path_) + ": not a file name";
    return false;
  }
  const std::string directory = path.has_parent_path() ? path.parent_path().string() : ".";
  const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directoryFd < 0) {
    why = failure(errno);
    return false;
  }
  directory_.emplace(directoryFd);

  // A name of fixed length that no other writer uses: the target's own name may already be
  // as long as a name can be.
  std::random_device random;
  constexpr int kAttempts = 16;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::array<char, 64> temporary{};
    std::snprintf(temporary.data(), temporary.size(), ".ventaro-picture-%08x%08x.tmp", random(),
                  random());
    const int fd = ::openat(directory_->get(), temporary.data(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      temporary_ = temporary.data();
      file_.emplace(fd);
      return true;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  why = failure(errno);
  return false;
}

bool ReplacingFile::commit(std::string& why) {
  if (!file_ || !directory_) {
    why = failure(EBADF);
    return false;
  }
  int error = ::fsync(file_->get()) == 0 ? 0 : errno;
  const int closed = file_->close();
  error = error != 0 ? error : closed;
  if (error == 0 &&
      ::renameat(directory_->get(), temporary_.c_str(), directory_->get(), name_.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    why = failure(error);
    return false;
  }
  temporary_.clear();
  return true;
}

void ReplacingFile::discard() {
  file_.reset();
  if (!temporary_.empty() && directory_) {
    ::unlinkat(directory_->get(), temporary_.c_str(), 0);
    temporary_.clear();
  }
}

} // namespace ventaro::plot
