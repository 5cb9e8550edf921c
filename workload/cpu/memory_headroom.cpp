#include "workload/cpu/memory_headroom.h"

#include <sys/mman.h>
#include <sys/resource.h>

namespace ventaro::gpu::cpu {

std::optional<std::string> addressSpaceShortfall(int threads) {
  return addressSpaceShortfall(headroomPerThread * static_cast<std::uint64_t>(threads),
                               std::to_string(threads) + " computing threads");
}

std::optional<std::string> addressSpaceShortfall(std::uint64_t bytes, const std::string& needed) {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return std::nullopt; // Nothing limits the address space; memory pressure is the kernel's.
  }
  // A reservation without access counts against the limit like any other mapping. An anonymous
  // mapping takes the file descriptor -1, as mmap(2) asks for portability.
  // cppcheck-suppress invalidFunctionArg
  void* probe = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (probe == MAP_FAILED) {
    return "the address-space limit (" + std::to_string(limit.rlim_cur >> 20) +
           " MiB) leaves less than the " + std::to_string(bytes >> 20) + " MiB that " + needed +
           " need";
  }
  munmap(probe, bytes);
  return std::nullopt;
}

} // namespace ventaro::gpu::cpu
