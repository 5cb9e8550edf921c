#include "tests/telemetry/hwmon_fixture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace ventaro::telemetry::testing {
namespace {

constexpr long kSysfsMagic = 0x62656572;

void writeFile(const std::filesystem::path& path, const std::string& contents) {
  std::ofstream out(path, std::ios::trunc);
  out << contents;
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

std::string failure(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

} // namespace

HwmonTree::HwmonTree() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ventaro-hwmon-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  root_ = pattern;
  std::filesystem::create_directories(root_ / "class" / "hwmon");
}

HwmonTree::~HwmonTree() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void HwmonTree::addChip(const std::string& hwmon, const std::string& name,
                        const std::string& subsystem, const std::string& device) {
  const std::filesystem::path deviceDirectory = root_ / "devices" / device;
  std::filesystem::create_directories(deviceDirectory);
  std::filesystem::create_directory_symlink(root_ / "bus" / subsystem,
                                            deviceDirectory / "subsystem");
  const std::filesystem::path chip = root_ / "class" / "hwmon" / hwmon;
  std::filesystem::create_directories(chip);
  std::filesystem::create_directory_symlink(deviceDirectory, chip / "device");
  write(hwmon, "name", name + "\n");
}

std::filesystem::path HwmonTree::attribute(const std::string& hwmon,
                                           const std::string& file) const {
  return root_ / "class" / "hwmon" / hwmon / file;
}

void HwmonTree::write(const std::string& hwmon, const std::string& file,
                      const std::string& contents) {
  remove(hwmon, file);
  writeFile(attribute(hwmon, file), contents);
}

void HwmonTree::makeFifo(const std::string& hwmon, const std::string& file) {
  remove(hwmon, file);
  if (::mkfifo(attribute(hwmon, file).c_str(), 0644) != 0) {
    throw std::runtime_error(failure("mkfifo"));
  }
}

void HwmonTree::makeLink(const std::string& hwmon, const std::string& file,
                         const std::string& contents) {
  const std::filesystem::path outside = root_ / ("outside-" + std::to_string(links_++));
  writeFile(outside, contents);
  remove(hwmon, file);
  std::filesystem::create_symlink(outside, attribute(hwmon, file));
}

void HwmonTree::remove(const std::string& hwmon, const std::string& file) {
  std::filesystem::remove(attribute(hwmon, file));
}

std::optional<std::string> mountOverSysClass(const std::filesystem::path& classDirectory) {
  struct statfs sys {};
  if (::statfs("/sys", &sys) != 0 || sys.f_type != kSysfsMagic) {
    return "no sysfs at /sys";
  }
  if (::unshare(CLONE_NEWNS) != 0) {
    return failure("unshare(CLONE_NEWNS)");
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return failure("making the mounts private");
  }
  if (::mount(classDirectory.c_str(), "/sys/class", nullptr, MS_BIND, nullptr) != 0) {
    return failure("bind-mounting over /sys/class");
  }
  return std::nullopt;
}

} // namespace ventaro::telemetry::testing
