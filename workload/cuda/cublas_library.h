#pragma once

// cuBLAS, opened with dlopen the first time a load runs on a CUDA device, so that the
// executable starts on machines without it and a start that runs no load never maps it.

#include <cublas_v2.h>
#include <string>

namespace ventaro::gpu::cuda {

/// The entry points the backend and the bench call.
struct CublasLibrary {
  decltype(&cublasCreate_v2) create = nullptr;
  decltype(&cublasDestroy_v2) destroy = nullptr;
  decltype(&cublasSetStream_v2) setStream = nullptr;
  decltype(&cublasSetMathMode) setMathMode = nullptr;
  decltype(&cublasSetWorkspace_v2) setWorkspace = nullptr;
  // Spelt out: the header overloads this name in C++.
  cublasStatus_t (*gemmEx)(cublasHandle_t, cublasOperation_t, cublasOperation_t, int, int, int,
                           const void*, const void*, cudaDataType, int, const void*, cudaDataType,
                           int, const void*, void*, cudaDataType, int, cublasComputeType_t,
                           cublasGemmAlgo_t) = nullptr;
  decltype(&cublasGetStatusString) statusString = nullptr;
};

/// The library of the major version the build was made against (else the unversioned
/// name), opened once per process; null when it cannot be opened or lacks an entry point,
/// the reason then in `why` (when given) and in the debug log.
const CublasLibrary* cublasLibrary(std::string* why = nullptr);

} // namespace ventaro::gpu::cuda
