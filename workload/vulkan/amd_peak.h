#pragma once

// An AMD GPU's FP32 peak from what its drivers report: the active compute units (from the
// Vulkan driver), the highest shader clock (from the kernel driver's list of clock levels in
// sysfs), and whether its lanes issue two FP32 operations per clock.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ventaro::gpu::vulkan {

/// The kernel driver's file of shader clock levels, under the device's PCI folder.
inline constexpr const char* kShaderClockLevelsFile = "pp_dpm_sclk";

/// The highest clock, in MHz, among the levels of a shader clock list: lines "N: <MHz>Mhz",
/// the current one marked with " *". Lines of another form (a sleep level "S: 19Mhz", text
/// that is no level) and clocks beyond any GPU's (over 10 GHz) are passed over; none where
/// no line is a level.
std::optional<std::uint32_t> highestShaderClockMhz(std::string_view levels);

/// highestShaderClockMhz of `<pciRoot>/<address>/pp_dpm_sclk`, read as an untrusted file of a
/// sysfs attribute's size at most; none where the address is empty or the file is missing,
/// not a regular file (a FIFO is never waited on), too long or holds no level.
std::optional<std::uint32_t> readHighestShaderClockMhz(const std::string& pciRoot,
                                                       const std::string& address);

/// Compute units × FP32 operations per clock of one compute unit × clock, in GFLOPS. A compute
/// unit has 64 FP32 lanes doing one fused multiply-add per clock (128 operations; GCN,
/// RDNA 1 and 2); with `dualIssue` (RDNA 3 on), twice that. None without compute units or a
/// clock.
std::optional<double> amdPeakGflops(std::uint32_t activeComputeUnits, bool dualIssue,
                                    std::optional<std::uint32_t> clockMhz);

} // namespace ventaro::gpu::vulkan
