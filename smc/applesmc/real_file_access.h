#pragma once

#include "smc/applesmc/file_access.h"

namespace ventaro::applesmc {

// File access on the real file system, one system call per step so that each errno is the
// one of the step that failed (sysfs reports a driver error on read or write, not on open).
class RealFileAccess final : public FileAccess {
public:
  ReadResult readFile(const std::string& path) override;
  int writeFile(const std::string& path, std::string_view data) override;
  ListResult listDirectory(const std::string& path) override;
  bool isDirectory(const std::string& path) override;
};

} // namespace ventaro::applesmc
