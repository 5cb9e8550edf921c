#define G_LOG_DOMAIN "ventaro"

#include "workload/cuda/cuda_device.h"

#include "workload/cuda/cuda_command_buffer.h"
#include "workload/cuda/cuda_kernels.h"
#include "workload/cuda/cuda_objects.h"
#include "workload/cuda/cuda_status.h"

#include <array>
#include <cstdio>
#include <glib.h>
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
  // No driver, or one older than this runtime needs: logged, and an empty list.
  if (failure(cudaGetDeviceCount(&count), "cudaGetDeviceCount")) {
    return devices;
  }
  for (int ordinal = 0; ordinal < count; ++ordinal) {
    cudaDeviceProp properties{};
    if (failure(cudaGetDeviceProperties(&properties, ordinal), "cudaGetDeviceProperties")) {
      continue;
    }
    std::array<char, 32> address{};
    std::snprintf(address.data(), address.size(), "%04x:%02x:%02x.0",
                  static_cast<unsigned>(properties.pciDomainID),
                  static_cast<unsigned>(properties.pciBusID),
                  static_cast<unsigned>(properties.pciDeviceID));
    devices.push_back(
        std::make_shared<CudaDevice>(ordinal, properties.name, properties.totalGlobalMem,
                                     PciIdentity{address.data(), 0x10de, 0}, smFigures(ordinal)));
  }
  return devices;
}

bool deviceCopy(void* to, std::size_t toPitch, const void* from, std::size_t fromPitch,
                std::size_t width, std::size_t rows) {
  return !failure(cudaMemcpy2D(to, toPitch, from, fromPitch, width, rows, cudaMemcpyDefault),
                  "cudaMemcpy2D");
}

// A non-blocking stream for one piece of set-up or checking work, waited for and destroyed.
class OneShotStream {
public:
  explicit OneShotStream(std::optional<std::string>& failed) {
    failed = failure(cudaStreamCreateWithFlags(&stream_, cudaStreamNonBlocking),
                     "cudaStreamCreateWithFlags");
  }
  OneShotStream(const OneShotStream&) = delete;
  OneShotStream& operator=(const OneShotStream&) = delete;
  ~OneShotStream() {
    if (stream_ != nullptr) {
      cudaStreamSynchronize(stream_);
      cudaStreamDestroy(stream_);
    }
  }
  cudaStream_t get() const { return stream_; }

private:
  cudaStream_t stream_ = nullptr;
};

} // namespace

std::vector<std::shared_ptr<Device>> cudaDevices() {
  static std::once_flag once;
  static std::vector<std::shared_ptr<Device>> devices;
  std::call_once(once, [] { devices = enumerate(); });
  return devices;
}

std::vector<std::shared_ptr<Device>> usableCudaDevices() {
  std::vector<std::shared_ptr<Device>> devices = cudaDevices();
  if (!devices.empty() && cublasLibrary() == nullptr) {
    g_debug("CUDA devices left unused: cuBLAS cannot be opened");
    devices.clear();
  }
  return devices;
}

CudaDevice::CudaDevice(int ordinal, std::string name, std::uint64_t totalMemory, PciIdentity pci,
                       std::optional<SmFigures> figures)
    : ordinal_(ordinal), name_(std::move(name)), totalMemory_(totalMemory), pci_(std::move(pci)),
      figures_(figures) {}

std::unique_ptr<CommandQueue> CudaDevice::newCommandQueue() {
  std::shared_ptr<QueueResources> resources = QueueResources::make(ordinal_, lastFailure_);
  if (!resources) {
    return nullptr;
  }
  return std::make_unique<CudaCommandQueue>(std::move(resources));
}

std::shared_ptr<Buffer> CudaDevice::newBuffer(std::uint64_t length, ResourceOptions) {
  if (length == 0 || length > totalMemory_) {
    lastFailure_ = "length beyond the device's memory";
    return nullptr;
  }
  std::unique_ptr<DeviceMemory> storage = DeviceMemory::allocate(ordinal_, length, &lastFailure_);
  if (!storage) {
    return nullptr;
  }
  return std::make_shared<CudaBuffer>(ordinal_, length, std::move(storage));
}

bool CudaDevice::fillUniform(Matrix& matrix, std::uint64_t seed) {
  auto* own = dynamic_cast<CudaMatrix*>(&matrix);
  if (own == nullptr || own->buffer().device() != ordinal_) {
    lastFailure_ = "matrix of another device";
    return false;
  }
  const MatrixDescriptor& layout = own->descriptor();
  std::optional<std::string> failed = failure(cudaSetDevice(ordinal_), "cudaSetDevice");
  if (!failed) {
    const OneShotStream stream(failed);
    if (!failed) {
      failed = failure(launchFillUniform(reinterpret_cast<float*>(own->buffer().data()),
                                         static_cast<std::size_t>(own->leadingDimension()),
                                         static_cast<int>(layout.rows),
                                         static_cast<int>(layout.columns), seed, stream.get()),
                       "fill kernel");
    }
    if (!failed) {
      failed = failure(cudaStreamSynchronize(stream.get()), "cudaStreamSynchronize");
    }
  }
  if (failed) {
    lastFailure_ = *failed;
  }
  return !failed;
}

std::optional<std::int64_t> CudaDevice::countDifferences(const Matrix& a, const Matrix& b) {
  const auto matrices = comparable(a, b);
  if (!matrices) {
    return std::nullopt;
  }
  const auto [left, right] = *matrices;
  const MatrixDescriptor& layout = left->descriptor();
  unsigned long long differences = 0;
  std::unique_ptr<DeviceMemory> counter =
      DeviceMemory::allocate(ordinal_, sizeof(differences), &lastFailure_);
  if (!counter) {
    return std::nullopt;
  }
  std::optional<std::string> failed;
  {
    const OneShotStream stream(failed);
    if (!failed) {
      failed = failure(cudaMemsetAsync(counter->data(), 0, sizeof(differences), stream.get()),
                       "cudaMemsetAsync");
    }
    if (!failed) {
      failed = failure(launchCountDifferences(
                           reinterpret_cast<const float*>(left->buffer().data()),
                           reinterpret_cast<const float*>(right->buffer().data()),
                           static_cast<std::size_t>(left->leadingDimension()),
                           static_cast<int>(layout.rows), static_cast<int>(layout.columns),
                           reinterpret_cast<unsigned long long*>(counter->data()), stream.get()),
                       "comparison kernel");
    }
    if (!failed) {
      failed = failure(cudaMemcpyAsync(&differences, counter->data(), sizeof(differences),
                                       cudaMemcpyDeviceToHost, stream.get()),
                       "cudaMemcpyAsync");
    }
    if (!failed) {
      failed = failure(cudaStreamSynchronize(stream.get()), "cudaStreamSynchronize");
    }
  }
  if (failed) {
    lastFailure_ = *failed;
    return std::nullopt;
  }
  return static_cast<std::int64_t>(differences);
}

std::optional<std::vector<float>>
CudaDevice::readElements(const Matrix& matrix, std::span<const ElementPosition> positions) {
  const auto* own = dynamic_cast<const CudaMatrix*>(&matrix);
  if (own == nullptr || !accepts(own->buffer())) {
    lastFailure_ = "matrix of another device";
    return std::nullopt;
  }
  // The copies below wait for the legacy stream only; the load's streams are non-blocking.
  std::optional<std::string> failed = failure(cudaSetDevice(ordinal_), "cudaSetDevice");
  if (!failed) {
    failed = failure(cudaDeviceSynchronize(), "cudaDeviceSynchronize");
  }
  if (failed) {
    lastFailure_ = *failed;
    return std::nullopt;
  }
  std::optional<std::vector<float>> values =
      readElementsOf<CudaMatrix>(matrix, positions, deviceCopy);
  if (!values) {
    lastFailure_ = "a position outside the matrix, or a copy failed";
  }
  return values;
}

std::vector<float> readMatrix(const Matrix& matrix) {
  return readMatrixOf<CudaMatrix>(matrix, deviceCopy);
}

bool writeMatrix(Matrix& matrix, std::span<const float> elements) {
  return writeMatrixOf<CudaMatrix>(matrix, elements, deviceCopy);
}

} // namespace ventaro::gpu::cuda
