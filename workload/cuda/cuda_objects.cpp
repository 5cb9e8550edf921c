#include "workload/cuda/cuda_objects.h"

#include "workload/cuda/cuda_command_buffer.h"
#include "workload/cuda/cuda_status.h"

namespace ventaro::gpu::cuda {
namespace {

// What cuBLAS asks for on the newest GPUs; smaller ones use less of it.
constexpr std::size_t workspaceBytes = std::size_t{32} << 20;

} // namespace

std::unique_ptr<DeviceMemory> DeviceMemory::allocate(int device, std::size_t length,
                                                     std::string* why) {
  void* data = nullptr;
  std::optional<std::string> failed = failure(cudaSetDevice(device), "cudaSetDevice");
  if (!failed) {
    failed = failure(cudaMalloc(&data, length), "cudaMalloc");
  }
  if (failed) {
    if (why != nullptr) {
      *why = *failed;
    }
    return nullptr;
  }
  return std::unique_ptr<DeviceMemory>(new DeviceMemory(device, static_cast<std::byte*>(data)));
}

DeviceMemory::~DeviceMemory() {
  if (cudaSetDevice(device_) == cudaSuccess) {
    cudaFree(data_);
  }
}

std::shared_ptr<QueueResources> QueueResources::make(int device, std::string& why) {
  const CublasLibrary* blas = cublasLibrary(&why);
  if (blas == nullptr) {
    return nullptr;
  }
  std::shared_ptr<QueueResources> queue(new QueueResources(device, blas));
  std::optional<std::string> failed = failure(cudaSetDevice(device), "cudaSetDevice");
  if (!failed) {
    // Nothing of the legacy default stream is ever waited for or waits for this one.
    failed = failure(cudaStreamCreateWithFlags(&queue->stream_, cudaStreamNonBlocking),
                     "cudaStreamCreateWithFlags");
  }
  if (!failed) {
    failed = failure(blas->create(&queue->handle_), "cublasCreate");
  }
  if (!failed) {
    failed = failure(blas->setStream(queue->handle_, queue->stream_), "cublasSetStream");
  }
  if (!failed) {
    // Default math with FP32 compute: no TF32 or other reduced-precision path.
    failed = failure(blas->setMathMode(queue->handle_, CUBLAS_DEFAULT_MATH), "cublasSetMathMode");
  }
  if (!failed) {
    std::string refused;
    queue->workspace_ = DeviceMemory::allocate(device, workspaceBytes, &refused);
    if (!queue->workspace_) {
      failed = "cuBLAS workspace: " + refused;
    }
  }
  if (!failed) {
    failed = failure(blas->setWorkspace(queue->handle_, queue->workspace_->data(), workspaceBytes),
                     "cublasSetWorkspace");
  }
  if (!failed) {
    // The handle's own set-up on the device has finished before any clock starts.
    failed = failure(cudaStreamSynchronize(queue->stream_), "cudaStreamSynchronize");
  }
  if (failed) {
    why = *failed;
    return nullptr;
  }
  return queue;
}

QueueResources::~QueueResources() {
  if (cudaSetDevice(device_) != cudaSuccess) {
    return;
  }
  if (stream_ != nullptr) {
    cudaStreamSynchronize(stream_);
  }
  if (handle_ != nullptr) {
    blas_->destroy(handle_);
  }
  workspace_.reset();
  if (stream_ != nullptr) {
    cudaStreamDestroy(stream_);
  }
}

} // namespace ventaro::gpu::cuda
