#pragma once

// Whether the process's address space still has room for the library's working memory.
// Under an address-space limit the CBLAS library does not report a refused allocation: it
// retries it for ever, or hangs when its threads are shut down. The command buffer asks
// first and fails cleanly instead.

#include <cstdint>
#include <optional>
#include <string>

namespace ventaro::gpu::cpu {

/// Address space each computing thread needs besides the matrices: the library's packing
/// buffer, the thread's stack and the allocator arena it may open.
inline constexpr std::uint64_t headroomPerThread = std::uint64_t{160} << 20;

/// None when `threads` computing threads can have their headroom (probed by reserving it
/// once, untouched, and handing it back), else why not.
std::optional<std::string> addressSpaceShortfall(int threads);

/// None when `bytes` of address space can still be reserved under the process's limit (or
/// no limit is set), else why not, naming `needed` as what needs them.
std::optional<std::string> addressSpaceShortfall(std::uint64_t bytes, const std::string& needed);

} // namespace ventaro::gpu::cpu
