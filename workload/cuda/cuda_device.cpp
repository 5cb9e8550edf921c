#include "workload/cuda/cuda_device.h"

#include "workload/cuda/cuda_command_buffer.h"
#include "workload/cuda/cuda_objects.h"

#include <mutex>

namespace ventaro::gpu::cuda {
namespace {

class CudaCommandQueue final : public CommandQueue {
public:
  explicit CudaCommandQueue(std::shared_ptr<QueueResources> resources)
      : resources_(std::move(resources)) {}
  std::unique_ptr<CommandBuffer> commandBuffer() override {
    return std::make_unique<CudaCommandBuffer>(resources_);
  }

private:
  std::shared_ptr<QueueResources> resources_;
};

std::vector<std::shared_ptr<Device>> enumerate() {
  std::vector<std::shared_ptr<Device>> devices;
  int count = 0;
  if (cudaGetDeviceCount(&count) != cudaSuccess) {
    cudaGetLastError(); // No driver or no device: an empty list.
    return devices;
  }
  for (int ordinal = 0; ordinal < count; ++ordinal) {
    cudaDeviceProp properties{};
    if (cudaGetDeviceProperties(&properties, ordinal) != cudaSuccess) {
      cudaGetLastError();
      continue;
    }
    devices.push_back(
        std::make_shared<CudaDevice>(ordinal, properties.name, properties.totalGlobalMem));
  }
  return devices;
}

} // namespace

std::vector<std::shared_ptr<Device>> cudaDevices() {
  static std::once_flag once;
  static std::vector<std::shared_ptr<Device>> devices;
  std::call_once(once, [] { devices = enumerate(); });
  return devices;
}

CudaDevice::CudaDevice(int ordinal, std::string name, std::uint64_t totalMemory)
    : ordinal_(ordinal), name_(std::move(name)), totalMemory_(totalMemory) {}

std::uint64_t CudaDevice::rowBytesFromColumns(std::int64_t columns, DataType dataType) const {
  return packedRowBytes(columns, dataType);
}

std::unique_ptr<CommandQueue> CudaDevice::newCommandQueue() {
  std::string why;
  std::shared_ptr<QueueResources> resources = QueueResources::make(ordinal_, why);
  if (!resources) {
    return nullptr;
  }
  return std::make_unique<CudaCommandQueue>(std::move(resources));
}

std::shared_ptr<Buffer> CudaDevice::newBuffer(std::uint64_t length, ResourceOptions) {
  if (length == 0 || length > totalMemory_) {
    return nullptr;
  }
  std::unique_ptr<DeviceMemory> storage = DeviceMemory::allocate(ordinal_, length);
  // Zeroed once, outside any timed work, so that a load never starts from stale data.
  if (!storage || cudaMemset(storage->data(), 0, length) != cudaSuccess) {
    cudaGetLastError();
    return nullptr;
  }
  return std::make_shared<CudaBuffer>(ordinal_, length, std::move(storage));
}

std::unique_ptr<Matrix> CudaDevice::newMatrix(std::shared_ptr<Buffer> buffer,
                                              const MatrixDescriptor& descriptor) {
  auto cudaBuffer = std::dynamic_pointer_cast<CudaBuffer>(std::move(buffer));
  if (!cudaBuffer || cudaBuffer->device() != ordinal_ ||
      !validLayout(descriptor, cudaBuffer->length())) {
    return nullptr;
  }
  return std::make_unique<CudaMatrix>(std::move(cudaBuffer), descriptor);
}

std::unique_ptr<MatrixMultiplication>
CudaDevice::newMatrixMultiplication(std::int64_t resultRows, std::int64_t resultColumns,
                                    std::int64_t interiorColumns) {
  return makeMultiplication<CudaMatrixMultiplication>(resultRows, resultColumns, interiorColumns);
}

std::vector<float> readMatrix(const Matrix& matrix) {
  const auto* cudaMatrix = dynamic_cast<const CudaMatrix*>(&matrix);
  if (cudaMatrix == nullptr) {
    return {};
  }
  const MatrixDescriptor& layout = cudaMatrix->descriptor();
  const auto columns = static_cast<std::size_t>(layout.columns);
  std::vector<float> elements(static_cast<std::size_t>(layout.rows) * columns);
  if (cudaSetDevice(cudaMatrix->buffer().device()) != cudaSuccess ||
      cudaMemcpy2D(elements.data(), columns * sizeof(float), cudaMatrix->buffer().data(),
                   layout.rowBytes, columns * sizeof(float), static_cast<std::size_t>(layout.rows),
                   cudaMemcpyDeviceToHost) != cudaSuccess) {
    cudaGetLastError();
    return {};
  }
  return elements;
}

bool writeMatrix(Matrix& matrix, std::span<const float> elements) {
  auto* cudaMatrix = dynamic_cast<CudaMatrix*>(&matrix);
  if (cudaMatrix == nullptr) {
    return false;
  }
  const MatrixDescriptor& layout = cudaMatrix->descriptor();
  const auto columns = static_cast<std::size_t>(layout.columns);
  if (elements.size() != static_cast<std::size_t>(layout.rows) * columns) {
    return false;
  }
  if (cudaSetDevice(cudaMatrix->buffer().device()) != cudaSuccess ||
      cudaMemcpy2D(cudaMatrix->buffer().data(), layout.rowBytes, elements.data(),
                   columns * sizeof(float), columns * sizeof(float),
                   static_cast<std::size_t>(layout.rows), cudaMemcpyHostToDevice) != cudaSuccess) {
    cudaGetLastError();
    return false;
  }
  return true;
}

} // namespace ventaro::gpu::cuda
