#define G_LOG_DOMAIN "ventaro"

#include "workload/pci_gpus.h"

#include "platform/untrusted_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fcntl.h>
#include <filesystem>
#include <glib.h>
#include <optional>
#include <system_error>

namespace ventaro::gpu {
namespace {

// A sysfs attribute reports a size of one page whatever it holds.
constexpr std::size_t kAttributeLimit = 4096;

// "0x030000\n" and the like: the number, or nothing when the file holds anything else.
std::optional<std::uint32_t> hexAttribute(const std::string& path) {
  const std::optional<std::string> text =
      readUntrustedFile(AT_FDCWD, path, kAttributeLimit, /*followLink=*/false);
  if (!text || !text->starts_with("0x")) {
    return std::nullopt;
  }
  std::string_view digits(*text);
  digits.remove_prefix(2);
  while (!digits.empty() && (digits.back() == '\n' || digits.back() == ' ')) {
    digits.remove_suffix(1);
  }
  std::uint32_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

} // namespace

bool isGpu(std::uint32_t classCode, std::uint32_t vendorId) {
  const std::uint32_t classAndSubclass = classCode >> 8;
  const bool display =
      classAndSubclass == 0x0300 || classAndSubclass == 0x0302 || classAndSubclass == 0x0380;
  // Only the makers of GPUs: every other display controller is a management chip's or a
  // virtual machine's adapter, which no compute backend drives.
  const bool gpuMaker = vendorId == pci_vendor::kAmd || vendorId == pci_vendor::kNvidia ||
                        vendorId == pci_vendor::kIntel;
  return display && gpuMaker;
}

std::vector<PciIdentity> pciGpus(const std::string& root) {
  std::vector<PciIdentity> gpus;
  std::error_code error;
  std::filesystem::directory_iterator entries(root, error);
  if (error) {
    g_debug("no PCI devices listed at %s: %s", root.c_str(), error.message().c_str());
    return gpus;
  }
  // Advanced with an error code: a listing that fails half-way ends it, it never throws.
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    const std::filesystem::directory_entry& entry = *entries;
    const std::string device = entry.path().string();
    const std::optional<std::uint32_t> classCode = hexAttribute(device + "/class");
    const std::optional<std::uint32_t> vendor = hexAttribute(device + "/vendor");
    if (!classCode || !vendor || !isGpu(*classCode, *vendor)) {
      continue;
    }
    const std::optional<std::uint32_t> deviceId = hexAttribute(device + "/device");
    gpus.push_back({entry.path().filename().string(), *vendor, deviceId.value_or(0)});
  }
  std::sort(gpus.begin(), gpus.end(),
            [](const PciIdentity& a, const PciIdentity& b) { return a.address < b.address; });
  return gpus;
}

} // namespace ventaro::gpu
