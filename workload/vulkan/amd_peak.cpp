#include "workload/vulkan/amd_peak.h"

#include "platform/untrusted_file.h"

#include <algorithm>
#include <charconv>
#include <fcntl.h>

namespace ventaro::gpu::vulkan {
namespace {

// A sysfs attribute holds one page at most.
constexpr std::size_t kAttributeLimit = 4096;
// No GPU's shader clock comes near this: a figure beyond it is not a clock.
constexpr std::uint32_t kHighestPlausibleMhz = 10'000;

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// The leading decimal number of `text`, removed from it; none where it does not start with
// one or the number does not fit.
std::optional<std::uint32_t> leadingNumber(std::string_view& text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) {
    return std::nullopt;
  }
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return value;
}

// The clock of one level line "N: <MHz>Mhz[ *]"; none for any other line.
std::optional<std::uint32_t> levelClock(std::string_view line) {
  line = trimmed(line);
  if (line.ends_with('*')) {
    line = trimmed(line.substr(0, line.size() - 1));
  }
  if (!leadingNumber(line) || !line.starts_with(':')) {
    return std::nullopt;
  }
  line = trimmed(line.substr(1));
  const std::optional<std::uint32_t> mhz = leadingNumber(line);
  if (!mhz || (line != "Mhz" && line != "MHz") || *mhz == 0 || *mhz > kHighestPlausibleMhz) {
    return std::nullopt;
  }
  return mhz;
}

} // namespace

std::optional<std::uint32_t> highestShaderClockMhz(std::string_view levels) {
  std::optional<std::uint32_t> highest;
  while (!levels.empty()) {
    const std::size_t end = std::min(levels.find('\n'), levels.size());
    if (const std::optional<std::uint32_t> mhz = levelClock(levels.substr(0, end))) {
      highest = std::max(highest.value_or(0), *mhz);
    }
    levels.remove_prefix(std::min(end + 1, levels.size()));
  }
  return highest;
}

std::optional<std::uint32_t> readHighestShaderClockMhz(const std::string& pciRoot,
                                                       const std::string& address) {
  if (address.empty() || address.find('/') != std::string::npos || address.starts_with('.')) {
    return std::nullopt;
  }
  const std::optional<std::string> levels =
      readUntrustedFile(AT_FDCWD, pciRoot + "/" + address + "/" + kShaderClockLevelsFile,
                        kAttributeLimit, /*followLink=*/false);
  return levels ? highestShaderClockMhz(*levels) : std::nullopt;
}

std::optional<double> amdPeakGflops(std::uint32_t activeComputeUnits, bool dualIssue,
                                    std::optional<std::uint32_t> clockMhz) {
  if (activeComputeUnits == 0 || !clockMhz || *clockMhz == 0) {
    return std::nullopt;
  }
  // 64 lanes × 2 operations of a fused multiply-add per clock.
  constexpr double operationsPerClock = 128.0;
  return activeComputeUnits * operationsPerClock * (dualIssue ? 2.0 : 1.0) * *clockMhz / 1e3;
}

} // namespace ventaro::gpu::vulkan
