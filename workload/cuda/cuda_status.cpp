#include "workload/cuda/cuda_status.h"

namespace ventaro::gpu::cuda {

std::optional<std::string> failure(cudaError_t status, const char* what) {
  if (status == cudaSuccess) {
    return std::nullopt;
  }
  return std::string(what) + ": " + cudaGetErrorString(status);
}

std::optional<std::string> failure(cublasStatus_t status, const char* what) {
  if (status == CUBLAS_STATUS_SUCCESS) {
    return std::nullopt;
  }
  return std::string(what) + ": " + cublasGetStatusString(status);
}

} // namespace ventaro::gpu::cuda
