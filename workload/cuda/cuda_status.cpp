#define G_LOG_DOMAIN "ventaro"

#include "workload/cuda/cuda_status.h"

#include "workload/cuda/cublas_library.h"

#include <glib.h>

namespace ventaro::gpu::cuda {
namespace {

std::string logged(std::string message) {
  g_debug("%s", message.c_str());
  return message;
}

} // namespace

std::optional<std::string> failure(cudaError_t status, const char* what) {
  if (status == cudaSuccess) {
    return std::nullopt;
  }
  cudaGetLastError(); // Leave no error behind for the next call.
  return logged(std::string(what) + ": " + cudaGetErrorString(status));
}

std::optional<std::string> failure(cublasStatus_t status, const char* what) {
  if (status == CUBLAS_STATUS_SUCCESS) {
    return std::nullopt;
  }
  const CublasLibrary* library = cublasLibrary();
  const std::string text =
      library != nullptr ? library->statusString(status) : "status " + std::to_string(status);
  return logged(std::string(what) + ": " + text);
}

} // namespace ventaro::gpu::cuda
