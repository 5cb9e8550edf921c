#pragma once

// The plain library calls the load stands on, timed the same way: `count` out-of-place
// single-precision multiplications of the load's own matrix by itself, after one warm-up
// call; the best of `repeats` timings.

#include "workload/uniform_values.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ventaro::bench {

/// Throughput of `count` multiplications of `dimension` × `dimension` matrices (2 × dimension³
/// operations each) done in `elapsedSeconds`, in GFLOPS.
inline double multiplicationGflops(int dimension, int count, double elapsedSeconds) {
  const double perMultiplication = 2.0 * dimension * dimension * static_cast<double>(dimension);
  return perMultiplication * count / 1e9 / elapsedSeconds;
}

/// The load's matrix of `dimension` × `dimension`, row by row.
inline std::vector<float> loadOperands(int dimension) {
  std::vector<float> elements(static_cast<std::size_t>(dimension) * dimension);
  for (std::size_t i = 0; i < elements.size(); ++i) {
    elements[i] = gpu::uniformValue(gpu::loadSeed, i);
  }
  return elements;
}

/// The CBLAS GEMM with the library's own threading on `threads` threads.
double cblasGflops(int dimension, int count, int repeats, int threads);

/// cublasGemmEx (FP32 compute, default math) on the first CUDA device; none where the CUDA
/// backend is not built or no device or cuBLAS is present.
std::optional<double> cublasGflops(int dimension, int count, int repeats);

/// The first CUDA device's FP32 peak: SMs × FP32 lanes per SM × 2 × clock; none where there
/// is none, with `what` describing the device's figures.
std::optional<double> cudaPeakGflops(std::string& what);

} // namespace ventaro::bench
