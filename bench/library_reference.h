#pragma once

// The plain library calls the load stands on, timed the same way: `count` out-of-place
// single-precision multiplications of `dimension` × `dimension` random matrices, after one
// warm-up call; the best of `repeats` timings.

#include <optional>

namespace ventaro::bench {

/// Throughput of `count` multiplications of `dimension` × `dimension` matrices (2 × dimension³
/// operations each) done in `elapsedSeconds`, in GFLOPS.
inline double multiplicationGflops(int dimension, int count, double elapsedSeconds) {
  const double perMultiplication = 2.0 * dimension * dimension * static_cast<double>(dimension);
  return perMultiplication * count / 1e9 / elapsedSeconds;
}

/// The CBLAS GEMM with the library's own threading on `threads` threads.
double cblasGflops(int dimension, int count, int repeats, int threads);

/// cuBLAS SGEMM on the first CUDA device in default (FP32) math; none where the CUDA
/// backend is not built or no device is present.
std::optional<double> cublasGflops(int dimension, int count, int repeats);

} // namespace ventaro::bench
