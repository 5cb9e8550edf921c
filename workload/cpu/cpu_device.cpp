#include "workload/cpu/cpu_device.h"

#include "workload/cpu/cpu_command_buffer.h"
#include "workload/cpu/cpu_objects.h"
#include "workload/cpu/processor_info.h"

#include <cstring>
#include <new>
#include <unistd.h>

namespace ventaro::gpu::cpu {
namespace {

constexpr std::size_t blockAlignment = 64;

class CpuCommandQueue final : public CommandQueue {
public:
  explicit CpuCommandQueue(int threads) : threads_(threads) {}
  std::unique_ptr<CommandBuffer> commandBuffer() override {
    return std::make_unique<CpuCommandBuffer>(threads_);
  }

private:
  int threads_;
};

std::uint64_t physicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) {
    return UINT64_MAX;
  }
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

} // namespace

AlignedBlock::AlignedBlock(std::size_t length) {
  const std::size_t rounded = (length + blockAlignment - 1) / blockAlignment * blockAlignment;
  auto* raw = static_cast<std::byte*>(
      ::operator new (rounded, std::align_val_t{blockAlignment}, std::nothrow));
  if (raw != nullptr) {
    std::memset(raw, 0, rounded);
  }
  data_.reset(raw);
}

void AlignedBlock::Free::operator()(std::byte* pointer) const {
  ::operator delete (pointer, std::align_val_t{blockAlignment});
}

CpuBuffer::CpuBuffer(std::uint64_t length)
    : length_(length), primary_(std::make_unique<AlignedBlock>(length)) {}

bool CpuBuffer::ensureSecond() {
  if (!second_) {
    auto block = std::make_unique<AlignedBlock>(length_);
    if (block->data() == nullptr) {
      return false;
    }
    second_ = std::move(block);
  }
  return true;
}

void CpuMatrixMultiplication::encodeToCommandBuffer(CommandBuffer& commandBuffer, Matrix& left,
                                                    Matrix& right, Matrix& result) {
  const auto encoding = encodingOf<CpuCommandBuffer, CpuMatrix>(commandBuffer, left, right, result);
  if (!encoding) {
    return;
  }
  const auto [buffer, a, b, c] = *encoding;
  if (!holdsMultiplication(sizes_, a->descriptor(), b->descriptor(), c->descriptor())) {
    buffer->fail("matrix smaller than the multiplication");
    return;
  }
  buffer->encode(sizes_, *a, *b, *c);
}

CpuDevice::CpuDevice(const CpuDeviceOptions& options)
    : name_(processorModelName(options.cpuInfoPath)),
      threads_(options.threads > 0 ? options.threads : availableProcessorCount()) {}

std::uint64_t CpuDevice::recommendedMaxWorkingSetSize() const {
  return workingSetPerThread * static_cast<std::uint64_t>(threads_);
}

std::uint64_t CpuDevice::rowBytesFromColumns(std::int64_t columns, DataType dataType) const {
  return packedRowBytes(columns, dataType);
}

std::unique_ptr<CommandQueue> CpuDevice::newCommandQueue() {
  return std::make_unique<CpuCommandQueue>(threads_);
}

std::shared_ptr<Buffer> CpuDevice::newBuffer(std::uint64_t length, ResourceOptions) {
  static const std::uint64_t memory = physicalMemoryBytes();
  if (length == 0 || length > memory) {
    return nullptr;
  }
  auto buffer = std::make_shared<CpuBuffer>(length);
  return buffer->data() != nullptr ? buffer : nullptr;
}

std::unique_ptr<Matrix> CpuDevice::newMatrix(std::shared_ptr<Buffer> buffer,
                                             const MatrixDescriptor& descriptor) {
  auto cpuBuffer = std::dynamic_pointer_cast<CpuBuffer>(std::move(buffer));
  if (!cpuBuffer || !validLayout(descriptor, cpuBuffer->length())) {
    return nullptr;
  }
  return std::make_unique<CpuMatrix>(std::move(cpuBuffer), descriptor);
}

std::unique_ptr<MatrixMultiplication>
CpuDevice::newMatrixMultiplication(std::int64_t resultRows, std::int64_t resultColumns,
                                   std::int64_t interiorColumns) {
  return makeMultiplication<CpuMatrixMultiplication>(resultRows, resultColumns, interiorColumns);
}

std::vector<float> readMatrix(const Matrix& matrix) {
  const auto* cpuMatrix = dynamic_cast<const CpuMatrix*>(&matrix);
  if (cpuMatrix == nullptr) {
    return {};
  }
  const MatrixDescriptor& layout = cpuMatrix->descriptor();
  std::vector<float> elements;
  elements.reserve(static_cast<std::size_t>(layout.rows * layout.columns));
  for (std::int64_t row = 0; row < layout.rows; ++row) {
    const float* start = cpuMatrix->elements() + row * cpuMatrix->leadingDimension();
    elements.insert(elements.end(), start, start + layout.columns);
  }
  return elements;
}

bool writeMatrix(Matrix& matrix, std::span<const float> elements) {
  auto* cpuMatrix = dynamic_cast<CpuMatrix*>(&matrix);
  if (cpuMatrix == nullptr) {
    return false;
  }
  const MatrixDescriptor& layout = cpuMatrix->descriptor();
  const auto columns = static_cast<std::size_t>(layout.columns);
  if (elements.size() != static_cast<std::size_t>(layout.rows) * columns) {
    return false;
  }
  for (std::int64_t row = 0; row < layout.rows; ++row) {
    std::memcpy(cpuMatrix->elements() + row * cpuMatrix->leadingDimension(),
                elements.data() + static_cast<std::size_t>(row) * columns, columns * sizeof(float));
  }
  return true;
}

} // namespace ventaro::gpu::cpu
