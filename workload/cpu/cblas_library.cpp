#include "workload/cpu/cblas_library.h"

#include "platform/runtime_library.h"

#include <cstdlib>

namespace ventaro::gpu::cpu {
namespace {

OpenedLibrary<CblasLibrary> open() {
  OpenedLibrary<CblasLibrary> opened;
  // The library sizes its pool from this while it loads. Set before it is first opened, once;
  // the name is new to the environment, so a reader on another thread sees the old array or
  // the new one, never a freed one.
  setenv("OPENBLAS_NUM_THREADS", "1", 1); // NOLINT(concurrency-mt-unsafe)
  void* library = openFirstOf({"libopenblas.so.0", "libopenblas.so"},
                              "the CBLAS library (OpenBLAS)", opened.why);
  if (library == nullptr) {
    return opened;
  }
  CblasLibrary entries;
  if (!bindEntry(library, "openblas_set_num_threads", entries.setThreadCount) ||
      !bindEntry(library, "cblas_sgemm", entries.sgemm)) {
    refuseIncomplete(library, "the CBLAS library", opened.why);
    return opened;
  }
  opened.entries = entries;
  return opened;
}

} // namespace

const CblasLibrary* cblasLibrary(std::string* why) {
  return openOnce(&open, why);
}

} // namespace ventaro::gpu::cpu
