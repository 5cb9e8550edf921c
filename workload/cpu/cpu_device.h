#pragma once

// The CPU backend of the GPU layer: matrices in ordinary memory, multiplied by the CBLAS
// single-precision GEMM on worker threads, one per processor, with denormals flushed to zero.

#include "workload/cpu/cpu_command_buffer.h"
#include "workload/gpu_device.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ventaro::gpu::cpu {

struct CpuDeviceOptions {
  /// Where the processor model name is read from.
  std::string cpuInfoPath = "/proc/cpuinfo";
  /// Worker threads of a command buffer; 0 means one per processor this process may use.
  int threads = 0;
};

/// How long the CPU device measures its peak for: short enough for a listing of the devices,
/// long enough for a figure within a few percent of a longer run's.
inline constexpr double kListedPeakSeconds = 0.2;

/// Working set the CPU device recommends per worker thread: one 4096 × 4096 FP32 matrix.
inline constexpr std::uint64_t workingSetPerThread = std::uint64_t{64} << 20;

class CpuDevice final : public BackendDevice<CpuCommandBuffer, CpuMatrix, CpuBuffer> {
public:
  explicit CpuDevice(const CpuDeviceOptions& options = {});

  /// The processor model name.
  std::string name() const override { return name_; }
  std::string backend() const override { return "cpu"; }
  /// 64 MiB per worker thread.
  std::uint64_t recommendedMaxWorkingSetSize() const override;
  /// Worker threads of its command buffers.
  int threads() const { return threads_; }
  std::unique_ptr<CommandQueue> newCommandQueue() override;
  /// Zero-filled memory; null for a length of 0, more than the machine's memory, or when
  /// the allocation fails.
  std::shared_ptr<Buffer> newBuffer(std::uint64_t length, ResourceOptions options) override;
  /// The seeded fill and the bitwise comparison, on the calling thread.
  bool fillUniform(Matrix& matrix, std::uint64_t seed) override;
  std::optional<std::int64_t> countDifferences(const Matrix& a, const Matrix& b) override;
  std::optional<std::vector<float>>
  readElements(const Matrix& matrix, std::span<const ElementPosition> positions) override;
  bool isProcessor() const override { return true; }
  /// The FMA peak of its worker threads (measureFmaPeak in fma_peak.h, for
  /// kListedPeakSeconds), measured on the first call; the same figure afterwards.
  std::optional<double> peakGflops() const override;

private:
  static std::int64_t differingElements(const CpuMatrix& left, const CpuMatrix& right);

  std::string name_;
  int threads_;
  mutable std::once_flag peakOnce_;
  mutable std::optional<double> peak_;
};

/// For tests and tools: the elements of a CPU-backend matrix, row by row without padding.
/// Empty when `matrix` is not a matrix of this backend.
std::vector<float> readMatrix(const Matrix& matrix);

/// For tests and tools: overwrites a CPU-backend matrix with `elements` given row by row
/// without padding. False (and nothing written) when `matrix` is not of this backend or the
/// count is not rows × columns.
bool writeMatrix(Matrix& matrix, std::span<const float> elements);

} // namespace ventaro::gpu::cpu
