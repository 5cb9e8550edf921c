#pragma once

// The CUDA backend of the GPU layer: matrices in device memory, multiplied by cuBLAS in true
// FP32, a command buffer's work replayed from prebuilt CUDA graphs.

#include "workload/cuda/cuda_command_buffer.h"
#include "workload/cuda/fp32_peak.h"
#include "workload/gpu_device.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ventaro::gpu::cuda {

/// The machine's CUDA devices, found once per process; the same objects every call. Empty
/// when there is no driver, a driver older than the runtime needs, or no device (the reason
/// in the debug log). Opens no library beyond the driver.
std::vector<std::shared_ptr<Device>> cudaDevices();

/// cudaDevices(), or none when cuBLAS cannot be opened (which this call tries).
std::vector<std::shared_ptr<Device>> usableCudaDevices();

class CudaDevice final : public BackendDevice<CudaCommandBuffer, CudaMatrix, CudaBuffer> {
public:
  CudaDevice(int ordinal, std::string name, std::uint64_t totalMemory, PciIdentity pci = {},
             std::optional<SmFigures> figures = std::nullopt);

  std::string name() const override { return name_; }
  std::string backend() const override { return "cuda"; }
  /// The device's total memory.
  std::uint64_t recommendedMaxWorkingSetSize() const override { return totalMemory_; }
  /// A stream with its own cuBLAS handle and workspace; null when they cannot be made.
  std::unique_ptr<CommandQueue> newCommandQueue() override;
  /// Device memory (contents undefined until filled), or null.
  std::shared_ptr<Buffer> newBuffer(std::uint64_t length, ResourceOptions options) override;

  /// The seeded fill, by a kernel on the device.
  bool fillUniform(Matrix& matrix, std::uint64_t seed) override;
  /// The bitwise comparison, by a kernel on the device.
  std::optional<std::int64_t> countDifferences(const Matrix& a, const Matrix& b) override;
  /// The values at `positions`, copied one by one (a few hundred) after the device is idle.
  std::optional<std::vector<float>>
  readElements(const Matrix& matrix, std::span<const ElementPosition> positions) override;
  /// The address the runtime reports; NVIDIA's vendor id (the device id is not known).
  std::optional<PciIdentity> pciIdentity() const override { return pci_; }
  /// From its multiprocessors, compute capability and clock (see fp32_peak.h).
  std::optional<double> peakGflops() const override {
    return figures_ ? fp32PeakGflops(*figures_) : std::nullopt;
  }
  int ordinal() const { return ordinal_; }

protected:
  bool accepts(const CudaBuffer& buffer) const override { return buffer.device() == ordinal_; }

private:
  int ordinal_;
  std::string name_;
  std::uint64_t totalMemory_;
  PciIdentity pci_;
  std::optional<SmFigures> figures_;
};

/// For tests and tools: the elements of a CUDA-backend matrix, row by row without padding.
/// Empty when `matrix` is not of this backend or the copy fails.
std::vector<float> readMatrix(const Matrix& matrix);

/// For tests and tools: overwrites a CUDA-backend matrix with `elements` given row by row
/// without padding. False when `matrix` is not of this backend, the count is not
/// rows × columns, or the copy fails.
bool writeMatrix(Matrix& matrix, std::span<const float> elements);

} // namespace ventaro::gpu::cuda
