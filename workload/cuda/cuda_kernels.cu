#include "workload/cuda/cuda_kernels.h"
#include "workload/uniform_values.h"

namespace ventaro::gpu::cuda {
namespace {

constexpr int threadsPerBlock = 256;
constexpr int maxBlocks = 4096;

__global__ void fillUniform(float* data, std::size_t pitch, int rows, int columns,
                            std::uint64_t seed) {
  const std::uint64_t total = static_cast<std::uint64_t>(rows) * columns;
  for (std::uint64_t i = blockIdx.x * static_cast<std::uint64_t>(blockDim.x) + threadIdx.x;
       i < total; i += static_cast<std::uint64_t>(gridDim.x) * blockDim.x) {
    const std::uint64_t row = i / columns;
    data[row * pitch + (i - row * columns)] = uniformValue(seed, i);
  }
}

__global__ void countDifferences(const float* a, const float* b, std::size_t pitch, int rows,
                                 int columns, unsigned long long* count) {
  const std::uint64_t total = static_cast<std::uint64_t>(rows) * columns;
  unsigned long long differing = 0;
  for (std::uint64_t i = blockIdx.x * static_cast<std::uint64_t>(blockDim.x) + threadIdx.x;
       i < total; i += static_cast<std::uint64_t>(gridDim.x) * blockDim.x) {
    const std::uint64_t at = (i / columns) * pitch + i % columns;
    differing += __float_as_uint(a[at]) != __float_as_uint(b[at]) ? 1 : 0;
  }
  if (differing != 0) {
    atomicAdd(count, differing);
  }
}

int blocksFor(int rows, int columns) {
  const std::uint64_t total = static_cast<std::uint64_t>(rows) * columns;
  const std::uint64_t blocks = (total + threadsPerBlock - 1) / threadsPerBlock;
  return static_cast<int>(blocks < maxBlocks ? blocks : maxBlocks);
}

} // namespace

cudaError_t launchFillUniform(float* data, std::size_t pitch, int rows, int columns,
                              std::uint64_t seed, cudaStream_t stream) {
  fillUniform<<<blocksFor(rows, columns), threadsPerBlock, 0, stream>>>(data, pitch, rows, columns,
                                                                        seed);
  return cudaGetLastError();
}

cudaError_t launchCountDifferences(const float* a, const float* b, std::size_t pitch, int rows,
                                   int columns, unsigned long long* count, cudaStream_t stream) {
  countDifferences<<<blocksFor(rows, columns), threadsPerBlock, 0, stream>>>(a, b, pitch, rows,
                                                                             columns, count);
  return cudaGetLastError();
}

} // namespace ventaro::gpu::cuda
