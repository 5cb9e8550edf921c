#pragma once

// A tree that stands in for /sys/class in a test: hwmon class directories with their attribute
// files, and device directories their `device` links point to, built in a fresh temporary
// directory. A forked child mounts it over /sys/class in a private mount namespace, where
// libsensors (which reads /sys by a fixed path) finds it.

#include <filesystem>
#include <optional>
#include <string>

namespace ventaro::telemetry::testing {

class HwmonTree {
public:
  HwmonTree();
  ~HwmonTree();
  HwmonTree(const HwmonTree&) = delete;
  HwmonTree& operator=(const HwmonTree&) = delete;
  HwmonTree(HwmonTree&&) = delete;
  HwmonTree& operator=(HwmonTree&&) = delete;

  /// Adds class/hwmon/<hwmon> with `name`, its device on the bus `subsystem` ("pci",
  /// "platform") as `device` ("0000:03:00.0", "coretemp.0").
  void addChip(const std::string& hwmon, const std::string& name, const std::string& subsystem,
               const std::string& device);
  /// Writes the attribute `file` of the chip, replacing whatever is there.
  void write(const std::string& hwmon, const std::string& file, const std::string& contents);
  /// Replaces the attribute with a FIFO, a link to a file outside the tree holding `contents`,
  /// or nothing.
  void makeFifo(const std::string& hwmon, const std::string& file);
  void makeLink(const std::string& hwmon, const std::string& file, const std::string& contents);
  void remove(const std::string& hwmon, const std::string& file);

  /// What to mount over /sys/class.
  std::filesystem::path classDirectory() const { return root_ / "class"; }

private:
  std::filesystem::path attribute(const std::string& hwmon, const std::string& file) const;

  std::filesystem::path root_;
  int links_ = 0;
};

/// In a forked child: a private mount namespace with `classDirectory` over /sys/class. The
/// reason when it cannot be made (not root, no namespaces, no sysfs at /sys).
std::optional<std::string> mountOverSysClass(const std::filesystem::path& classDirectory);

} // namespace ventaro::telemetry::testing
