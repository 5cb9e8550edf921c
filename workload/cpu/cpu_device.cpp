#include "workload/cpu/cpu_device.h"

#include "workload/cpu/cpu_command_buffer.h"
#include "workload/cpu/cpu_objects.h"
#include "workload/cpu/fma_peak.h"
#include "workload/cpu/processor_info.h"
#include "workload/uniform_values.h"

#include <bit>
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

bool hostCopy(void* to, std::size_t toPitch, const void* from, std::size_t fromPitch,
              std::size_t width, std::size_t rows) {
  for (std::size_t row = 0; row < rows; ++row) {
    std::memcpy(static_cast<std::byte*>(to) + row * toPitch,
                static_cast<const std::byte*>(from) + row * fromPitch, width);
  }
  return true;
}

std::uint64_t physicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) {
    return UINT64_MAX;
  }
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

} // namespace

std::optional<double> CpuDevice::peakGflops() const {
  std::call_once(peakOnce_, [this] {
    if (const std::optional<FmaPeak> measured = measureFmaPeak(threads_, kListedPeakSeconds)) {
      peak_ = measured->gflops;
    }
  });
  return peak_;
}

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

std::unique_ptr<AlignedBlock> CpuBuffer::makeBlock() const {
  auto block = std::make_unique<AlignedBlock>(length());
  return block->data() != nullptr ? std::move(block) : nullptr;
}

CpuDevice::CpuDevice(const CpuDeviceOptions& options)
    : name_(processorModelName(options.cpuInfoPath)),
      threads_(options.threads > 0 ? options.threads : availableProcessorCount()) {}

std::uint64_t CpuDevice::recommendedMaxWorkingSetSize() const {
  return workingSetPerThread * static_cast<std::uint64_t>(threads_);
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

bool CpuDevice::fillUniform(Matrix& matrix, std::uint64_t seed) {
  auto* own = dynamic_cast<CpuMatrix*>(&matrix);
  if (own == nullptr) {
    lastFailure_ = "matrix of another device";
    return false;
  }
  const MatrixDescriptor& layout = own->descriptor();
  for (std::int64_t row = 0; row < layout.rows; ++row) {
    float* out = own->elements() + row * own->leadingDimension();
    const auto first = static_cast<std::uint64_t>(row * layout.columns);
    for (std::int64_t column = 0; column < layout.columns; ++column) {
      out[column] = uniformValue(seed, first + static_cast<std::uint64_t>(column));
    }
  }
  return true;
}

std::optional<std::int64_t> CpuDevice::countDifferences(const Matrix& a, const Matrix& b) {
  if (const auto matrices = comparable(a, b)) {
    return differingElements(*matrices->first, *matrices->second);
  }
  return std::nullopt;
}

std::optional<std::vector<float>>
CpuDevice::readElements(const Matrix& matrix, std::span<const ElementPosition> positions) {
  std::optional<std::vector<float>> values = readElementsOf<CpuMatrix>(matrix, positions, hostCopy);
  if (!values) {
    lastFailure_ = "matrix of another device, or a position outside it";
  }
  return values;
}

std::int64_t CpuDevice::differingElements(const CpuMatrix& left, const CpuMatrix& right) {
  const MatrixDescriptor& layout = left.descriptor();
  std::int64_t differences = 0;
  for (std::int64_t row = 0; row < layout.rows; ++row) {
    const float* x = left.elements() + row * left.leadingDimension();
    const float* y = right.elements() + row * right.leadingDimension();
    for (std::int64_t column = 0; column < layout.columns; ++column) {
      // Bits, not values: a NaN must equal itself, and +0 must differ from -0.
      differences +=
          std::bit_cast<std::uint32_t>(x[column]) != std::bit_cast<std::uint32_t>(y[column]) ? 1
                                                                                             : 0;
    }
  }
  return differences;
}

std::vector<float> readMatrix(const Matrix& matrix) {
  return readMatrixOf<CpuMatrix>(matrix, hostCopy);
}

bool writeMatrix(Matrix& matrix, std::span<const float> elements) {
  return writeMatrixOf<CpuMatrix>(matrix, elements, hostCopy);
}

} // namespace ventaro::gpu::cpu
