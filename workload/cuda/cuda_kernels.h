#pragma once

// The backend's own device kernels: the seeded fill of a matrix and the bitwise comparison
// of two. Both are queued on `stream` and return the launch's status.

#include <cstddef>
#include <cstdint>
#include <cuda_runtime_api.h>

namespace ventaro::gpu::cuda {

/// Element (row, column) of the matrix at `data`, with `pitch` elements between rows,
/// becomes uniformValue(seed, row × columns + column).
cudaError_t launchFillUniform(float* data, std::size_t pitch, int rows, int columns,
                              std::uint64_t seed, cudaStream_t stream);

/// Adds to `*count` (device memory) the number of elements whose raw bits differ between
/// the two matrices of one layout.
cudaError_t launchCountDifferences(const float* a, const float* b, std::size_t pitch, int rows,
                                   int columns, unsigned long long* count, cudaStream_t stream);

} // namespace ventaro::gpu::cuda
