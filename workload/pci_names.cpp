#include "workload/pci_names.h"

#include "platform/display_text.h"
#include "platform/untrusted_file.h"

#include <charconv>
#include <fcntl.h>
#include <optional>

namespace ventaro::gpu {
namespace {

// The database is about 1.3 MB; anything far larger is not it.
constexpr std::size_t kDatabaseLimit = std::size_t{8} << 20;

// A line "<4 hex digits>  <name>" after `indent` tabs: the id and the name, or nothing.
std::optional<std::pair<std::uint32_t, std::string_view>> entry(std::string_view line,
                                                                std::size_t indent) {
  for (std::size_t i = 0; i < indent; ++i) {
    if (line.empty() || line.front() != '\t') {
      return std::nullopt;
    }
    line.remove_prefix(1);
  }
  std::uint32_t id = 0;
  if (line.size() < 7 || line.substr(4, 2) != "  ") {
    return std::nullopt;
  }
  const auto [end, error] = std::from_chars(line.data(), line.data() + 4, id, 16);
  if (error != std::errc() || end != line.data() + 4) {
    return std::nullopt;
  }
  return std::pair{id, line.substr(6)};
}

} // namespace

std::string pciName(std::string_view database, std::uint32_t vendorId, std::uint32_t deviceId) {
  std::string vendor;
  std::size_t from = 0;
  while (from < database.size()) {
    std::size_t end = database.find('\n', from);
    if (end == std::string_view::npos) {
      end = database.size();
    }
    const std::string_view line = database.substr(from, end - from);
    from = end + 1;
    if (line.starts_with("C ")) {
      break; // the device classes follow the vendors
    }
    if (!line.empty() && line.front() != '\t' && line.front() != '#') {
      if (!vendor.empty()) {
        break; // past the vendor's devices
      }
      if (const auto found = entry(line, 0); found && found->first == vendorId) {
        vendor = displayText(found->second);
      }
    } else if (!vendor.empty()) {
      if (const auto found = entry(line, 1); found && found->first == deviceId) {
        return vendor + " " + displayText(found->second);
      }
    }
  }
  return vendor;
}

std::string pciNameFromFile(const std::string& path, std::uint32_t vendorId,
                            std::uint32_t deviceId) {
  const std::optional<std::string> database =
      readUntrustedFile(AT_FDCWD, path, kDatabaseLimit, /*followLink=*/true);
  return database ? pciName(*database, vendorId, deviceId) : std::string();
}

} // namespace ventaro::gpu
