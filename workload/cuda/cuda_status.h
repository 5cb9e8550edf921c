#pragma once

// Turns CUDA runtime and cuBLAS status codes into the messages of command-buffer errors.

#include <cublas_v2.h>
#include <cuda_runtime_api.h>
#include <optional>
#include <string>

namespace ventaro::gpu::cuda {

/// None on success, else "`what`: " and the library's description of the code, which is
/// also written to the debug log (and a runtime error is cleared).
std::optional<std::string> failure(cudaError_t status, const char* what);
std::optional<std::string> failure(cublasStatus_t status, const char* what);

} // namespace ventaro::gpu::cuda
