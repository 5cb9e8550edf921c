#include "bench/library_reference.h"

#include <algorithm>
#include <chrono>
#include <cublas_v2.h>
#include <cuda_runtime_api.h>
#include <random>
#include <vector>

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
  cublasHandle_t handle = nullptr;
  Handle() {
    if (cublasCreate(&handle) != CUBLAS_STATUS_SUCCESS) {
      handle = nullptr;
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle != nullptr) {
      cublasDestroy(handle);
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
  std::vector<float> host(n * n);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::generate(host.begin(), host.end(), [&] { return uniform(random); });

  DeviceFloats a(n * n), b(n * n), c(n * n);
  Handle blas;
  if (a.data == nullptr || b.data == nullptr || c.data == nullptr || blas.handle == nullptr ||
      cudaMemcpy(a.data, host.data(), n * n * sizeof(float), cudaMemcpyHostToDevice) !=
          cudaSuccess ||
      cudaMemcpy(b.data, host.data(), n * n * sizeof(float), cudaMemcpyHostToDevice) !=
          cudaSuccess ||
      cublasSetMathMode(blas.handle, CUBLAS_DEFAULT_MATH) != CUBLAS_STATUS_SUCCESS) {
    return std::nullopt;
  }
  const float alpha = 1.0f, beta = 0.0f;
  auto multiply = [&] {
    return cublasSgemm(blas.handle, CUBLAS_OP_N, CUBLAS_OP_N, dimension, dimension, dimension,
                       &alpha, a.data, dimension, b.data, dimension, &beta, c.data, dimension);
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

} // namespace ventaro::bench
