#include "bench/library_reference.h"
#include "workload/cuda/cublas_library.h"
#include "workload/cuda/fp32_peak.h"

#include <algorithm>
#include <chrono>
#include <cuda_runtime_api.h>

namespace ventaro::bench {
namespace {

// Device memory released on every path out of the measurement.
struct DeviceFloats {
  float* data = nullptr;
  explicit DeviceFloats(std::size_t count) {
    if (cudaMalloc(reinterpret_cast<void**>(&data), count * sizeof(float)) != cudaSuccess) {
      data = nullptr;
    }
  }
  DeviceFloats(const DeviceFloats&) = delete;
  DeviceFloats& operator=(const DeviceFloats&) = delete;
  ~DeviceFloats() { cudaFree(data); }
};

struct Handle {
  const gpu::cuda::CublasLibrary* blas = gpu::cuda::cublasLibrary();
  cublasHandle_t handle = nullptr;
  Handle() {
    if (blas == nullptr || blas->create(&handle) != CUBLAS_STATUS_SUCCESS) {
      handle = nullptr;
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle != nullptr) {
      blas->destroy(handle);
    }
  }
};

} // namespace

std::optional<double> cublasGflops(int dimension, int count, int repeats) {
  int devices = 0;
  if (cudaGetDeviceCount(&devices) != cudaSuccess || devices == 0 ||
      cudaSetDevice(0) != cudaSuccess) {
    cudaGetLastError();
    return std::nullopt;
  }
  const auto n = static_cast<std::size_t>(dimension);
  const std::vector<float> host = loadOperands(dimension);
  DeviceFloats a(n * n), c(n * n);
  Handle blas;
  if (a.data == nullptr || c.data == nullptr || blas.handle == nullptr ||
      cudaMemcpy(a.data, host.data(), n * n * sizeof(float), cudaMemcpyHostToDevice) !=
          cudaSuccess ||
      blas.blas->setMathMode(blas.handle, CUBLAS_DEFAULT_MATH) != CUBLAS_STATUS_SUCCESS) {
    return std::nullopt;
  }
  const float alpha = 1.0f, beta = 0.0f;
  auto multiply = [&] {
    return blas.blas->gemmEx(blas.handle, CUBLAS_OP_N, CUBLAS_OP_N, dimension, dimension, dimension,
                             &alpha, a.data, CUDA_R_32F, dimension, a.data, CUDA_R_32F, dimension,
                             &beta, c.data, CUDA_R_32F, dimension, CUBLAS_COMPUTE_32F,
                             CUBLAS_GEMM_DEFAULT);
  };
  if (multiply() != CUBLAS_STATUS_SUCCESS || cudaDeviceSynchronize() != cudaSuccess) {
    return std::nullopt;
  }
  double best = 0;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
      multiply();
    }
    if (cudaDeviceSynchronize() != cudaSuccess) {
      return std::nullopt;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::max(best, multiplicationGflops(dimension, count, elapsed));
  }
  return best;
}

std::optional<double> cudaPeakGflops(std::string& what) {
  const std::optional<gpu::cuda::SmFigures> figures = gpu::cuda::smFigures(0);
  if (!figures) {
    return std::nullopt;
  }
  what = gpu::cuda::describe(*figures);
  return gpu::cuda::fp32PeakGflops(*figures);
}

} // namespace ventaro::bench
