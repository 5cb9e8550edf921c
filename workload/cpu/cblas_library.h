#pragma once

// The CBLAS library, opened with dlopen the first time a load runs on the processor. The
// library starts its thread pool while it loads, and under an address-space limit those threads
// retry a refused allocation for ever and hold up the exit; a start that runs no such load
// never loads it, and this one loads it with a pool of one (the workers split the rows
// themselves, so a larger pool would only idle).

#include <cblas.h>
#include <string>

namespace ventaro::gpu::cpu {

/// The entry points the backend calls.
struct CblasLibrary {
  void (*setThreadCount)(int) = nullptr;
  decltype(&cblas_sgemm) sgemm = nullptr;
};

/// The library, opened once per process; null when it cannot be opened or lacks an entry
/// point, the reason then in `why` (when given) and in the debug log.
const CblasLibrary* cblasLibrary(std::string* why = nullptr);

} // namespace ventaro::gpu::cpu
