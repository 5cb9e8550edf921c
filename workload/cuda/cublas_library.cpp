#include "workload/cuda/cublas_library.h"

#include "platform/runtime_library.h"

namespace ventaro::gpu::cuda {
namespace {

OpenedLibrary<CublasLibrary> open() {
  OpenedLibrary<CublasLibrary> opened;
  const std::string versioned = "libcublas.so." + std::to_string(CUBLAS_VER_MAJOR);
  void* library = openFirstOf({versioned.c_str(), "libcublas.so"}, "cuBLAS", opened.why);
  if (library == nullptr) {
    return opened;
  }
  CublasLibrary entries;
  const bool complete = bindEntry(library, "cublasCreate_v2", entries.create) &&
                        bindEntry(library, "cublasDestroy_v2", entries.destroy) &&
                        bindEntry(library, "cublasSetStream_v2", entries.setStream) &&
                        bindEntry(library, "cublasSetMathMode", entries.setMathMode) &&
                        bindEntry(library, "cublasSetWorkspace_v2", entries.setWorkspace) &&
                        bindEntry(library, "cublasGemmEx", entries.gemmEx) &&
                        bindEntry(library, "cublasGetStatusString", entries.statusString);
  if (!complete) {
    refuseIncomplete(library, "cuBLAS", opened.why);
    return opened;
  }
  // Kept open for the rest of the process: its handles may live until exit.
  opened.entries = entries;
  return opened;
}

} // namespace

const CublasLibrary* cublasLibrary(std::string* why) {
  return openOnce(&open, why);
}

} // namespace ventaro::gpu::cuda
