#pragma once

// The GPU layer: the compute operations the load, the sizing and the display name need,
// shaped as a device that makes queues, command buffers, GPU-only buffers, matrices and
// multiplication kernels. The backends of the registry (CPU + CBLAS, CUDA + cuBLAS, Vulkan
// with the project's own shaders) and test fakes implement it.

#include "platform/pci_identity.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ventaro::gpu {

/// Element type of a matrix.
enum class DataType { float32 };

/// Where a new buffer lives. Private storage is memory only the device computes on.
enum class ResourceOptions { storageModePrivate };

/// The error a command buffer ended with.
struct CommandError {
  std::string message;
};

/// Memory owned by a device. Never read or written by the processor in the load.
class Buffer {
public:
  virtual ~Buffer() = default;
  virtual std::uint64_t length() const = 0;
};

/// Layout of a matrix inside a buffer: rows, columns, bytes per row, element type.
struct MatrixDescriptor {
  std::int64_t rows = 0;
  std::int64_t columns = 0;
  std::uint64_t rowBytes = 0;
  DataType dataType = DataType::float32;
  bool operator==(const MatrixDescriptor&) const = default;
};

/// A matrix over a buffer with a descriptor. Keeps its buffer alive.
class Matrix {
public:
  virtual ~Matrix() = default;
  virtual const MatrixDescriptor& descriptor() const = 0;
};

/// A batch of work for the device. Work encoded into it runs in encoding order, after commit.
/// Matrices encoded into it must outlive its completion.
class CommandBuffer {
public:
  virtual ~CommandBuffer() = default;
  /// Submits everything encoded so far, as one submission. Called at most once.
  virtual void commit() = 0;
  /// Returns when all committed work has finished (at once when nothing was committed).
  virtual void waitUntilCompleted() = 0;
  /// The error the buffer ended with, or none. Meaningful after waitUntilCompleted.
  virtual std::optional<CommandError> error() const = 0;
};

/// Makes command buffers for one device.
class CommandQueue {
public:
  virtual ~CommandQueue() = default;
  /// A new command buffer, or null when none can be made.
  virtual std::unique_ptr<CommandBuffer> commandBuffer() = 0;
};

/// A kernel computing result = left × right (no transposition), FP32.
class MatrixMultiplication {
public:
  virtual ~MatrixMultiplication() = default;
  /// Appends one multiplication to the command buffer, to run after the work encoded before
  /// it. The three matrices may be one and the same. A failure to encode is reported by the
  /// command buffer's error, never by an exception.
  virtual void encodeToCommandBuffer(CommandBuffer& commandBuffer, Matrix& left, Matrix& right,
                                     Matrix& result) = 0;
};

/// Where a device sits on the PCI bus (see platform/pci_identity.h).
using PciIdentity = ventaro::PciIdentity;

/// A position in a matrix: row, then column.
using ElementPosition = std::pair<std::int64_t, std::int64_t>;

/// One compute device.
class Device {
public:
  virtual ~Device() = default;
  virtual std::string name() const = 0;
  /// The backend the device belongs to, in lower case: its registration's id ("cuda",
  /// "vulkan"), or "cpu" (tests: their own).
  virtual std::string backend() const = 0;
  /// Bytes of memory the device recommends a workload to use at most.
  virtual std::uint64_t recommendedMaxWorkingSetSize() const = 0;
  /// Bytes per row for a matrix of `columns` elements of `dataType`; at least 4 × columns.
  virtual std::uint64_t rowBytesFromColumns(std::int64_t columns, DataType dataType) const = 0;
  /// A new command queue, or null when none can be made.
  virtual std::unique_ptr<CommandQueue> newCommandQueue() = 0;
  /// A new buffer of `length` bytes, or null when it cannot be allocated.
  virtual std::shared_ptr<Buffer> newBuffer(std::uint64_t length, ResourceOptions options) = 0;
  /// A matrix over `buffer`, or null when the buffer is too small for the descriptor.
  virtual std::unique_ptr<Matrix> newMatrix(std::shared_ptr<Buffer> buffer,
                                            const MatrixDescriptor& descriptor) = 0;
  /// A multiplication kernel of the given sizes, or null when it cannot be made.
  virtual std::unique_ptr<MatrixMultiplication>
  newMatrixMultiplication(std::int64_t resultRows, std::int64_t resultColumns,
                          std::int64_t interiorColumns) = 0;
  /// Fills `matrix` with the pseudo-random values of `seed` (uniformValue in
  /// workload/uniform_values.h, element by element in row order), finished on the device when
  /// it returns. False when it fails; lastFailure() says why.
  virtual bool fillUniform(Matrix& matrix, std::uint64_t seed) = 0;
  /// The number of elements of two matrices of one layout whose raw bits differ; none when
  /// they cannot be compared (lastFailure() says why).
  virtual std::optional<std::int64_t> countDifferences(const Matrix& a, const Matrix& b) = 0;
  /// The values of `matrix` at `positions`, in their order, read after all submitted work has
  /// finished; none when they cannot be read (lastFailure() says why).
  virtual std::optional<std::vector<float>>
  readElements(const Matrix& /*matrix*/, std::span<const ElementPosition> /*positions*/) {
    return std::nullopt;
  }
  /// True for a device that computes on the processor (the CPU backend, a software Vulkan
  /// driver): it is never counted as a GPU and never the default where a GPU is usable.
  virtual bool isProcessor() const { return false; }
  /// The device's place on the PCI bus, where the backend knows it.
  virtual std::optional<PciIdentity> pciIdentity() const { return std::nullopt; }
  /// The device's FP32 peak in GFLOPS, where the backend can work it out from what the device
  /// reports of itself (or, for the processor, measure it); none where it cannot.
  virtual std::optional<double> peakGflops() const { return std::nullopt; }
  /// Why the last call that failed on this device failed, in the words of the library below
  /// where there is one; empty when nothing failed or there is nothing to say.
  virtual std::string lastFailure() const = 0;
};

/// The machine's devices. The process-wide instance comes from systemGpuPlatform(); tests
/// hand their own to the code under test.
class GpuPlatform {
public:
  virtual ~GpuPlatform() = default;
  /// Every device the backends list, processor-type ones included, in the order of the
  /// backends (the CPU device is never listed). Empty without a driver or device.
  virtual std::vector<std::shared_ptr<Device>> copyAllDevices() = 0;
  /// The number of GPUs of the machine, for the guard that refuses a start on several. The
  /// system platform counts them on the PCI bus without asking any backend.
  virtual std::size_t gpuCount() { return copyAllDevices().size(); }
  /// The default device: the machine's GPU through the best backend that can drive it, else
  /// the CPU device. The same object every time. Null only where a platform has no device at
  /// all (never the system platform).
  virtual std::shared_ptr<Device> createSystemDefaultDevice() = 0;
};

/// The platform of the real backends that CMake built.
GpuPlatform& systemGpuPlatform();

} // namespace ventaro::gpu
