#pragma once

// The short text that titles a benchmark's result: the default device's name with three
// marks removed, then its recommended working set in megabytes or gigabytes.

#include "workload/gpu_device.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ventaro {

/// The display name of `platform`'s default device. Where the platform has no default
/// device, the rule is applied to an empty name and a size of 0 (" 0 GB").
std::string gpuDisplayName(gpu::GpuPlatform& platform);

/// The display name of the system's default device.
std::string gpuDisplayName();

/// The rule itself: "(R)", then "(TM)", then "AMD " removed from `name` (each pass once over
/// the output of the one before, every non-overlapping occurrence, literally), followed by
/// a blank and the size in whole MiB with " MB" when the whole-MiB count is not a multiple
/// of 1024, else in whole GiB with " GB".
std::string displayNameFor(std::string_view name, std::uint64_t size);

} // namespace ventaro
