#pragma once

// Facts about the processor that the CPU backend reports or sizes itself by.

#include <istream>
#include <string>

namespace ventaro::gpu::cpu {

/// The first "model name" entry of a /proc/cpuinfo text, without surrounding blanks, or
/// the empty text when there is none.
std::string modelNameFromCpuInfo(std::istream& cpuInfo);

/// The model name read from the cpuinfo file at `path`; "CPU" when the file cannot be read
/// or names no model.
std::string processorModelName(const std::string& path);

/// The number of processors this process may run on (at least 1).
int availableProcessorCount();

} // namespace ventaro::gpu::cpu
