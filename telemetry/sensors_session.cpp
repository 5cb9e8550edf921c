#define G_LOG_DOMAIN "ventaro"

#include "telemetry/sensors_session.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <glib.h>
#include <sensors/error.h>
#include <sys/stat.h>

namespace ventaro::telemetry::hwmon {
namespace {

// A sysfs attribute reports one page; 64 KiB covers the largest page size Linux uses.
constexpr off_t kAttributeLimit = off_t{64} * 1024;

struct Started {
  bool ok = false;
  std::string why;
};

// Called once, with the lock held.
Started start() {
  Started started;
  // nullptr: the system's configuration file, whose labels and computations apply.
  const int result = sensors_init(nullptr);
  if (result == 0) {
    started.ok = true;
  } else {
    started.why = std::string("libsensors did not start: ") + sensors_strerror(result);
    g_debug("%s", started.why.c_str());
  }
  return started;
}

} // namespace

std::mutex& sensorsLock() {
  static std::mutex lock;
  return lock;
}

std::vector<const sensors_chip_name*>
detectedChips(const std::function<bool(const sensors_chip_name&)>& wanted, std::string& why) {
  const std::lock_guard<std::mutex> held(sensorsLock());
  static const Started started = start();
  std::vector<const sensors_chip_name*> chips;
  if (!started.ok) {
    why = started.why;
    return chips;
  }
  int next = 0;
  while (const sensors_chip_name* chip = sensors_get_detected_chips(nullptr, &next)) {
    if (wanted(*chip)) {
      chips.push_back(chip);
    }
  }
  return chips;
}

Attribute attributeAt(const std::string& directory, const std::string& name) {
  const std::string path = directory + "/" + name;
  struct stat info {};
  if (::fstatat(AT_FDCWD, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? Attribute::absent : Attribute::hostile;
  }
  return S_ISREG(info.st_mode) && info.st_size <= kAttributeLimit ? Attribute::plain
                                                                  : Attribute::hostile;
}

} // namespace ventaro::telemetry::hwmon
