#include "workload/cuda/cuda_objects.h"

#include "workload/cuda/cuda_command_buffer.h"
#include "workload/cuda/cuda_status.h"

namespace ventaro::gpu::cuda {
namespace {

// What cuBLAS asks for on the newest GPUs; smaller ones use less of it.
constexpr std::size_t workspaceBytes = std::size_t{32} << 20;

} // namespace

std::unique_ptr<DeviceMemory> DeviceMemory::allocate(int device, std::size_t length) {
  void* data = nullptr;
  if (cudaSetDevice(device) != cudaSuccess || cudaMalloc(&data, length) != cudaSuccess) {
    cudaGetLastError(); // Leave no error behind for the next call.
    return nullptr;
  }
  return std::unique_ptr<DeviceMemory>(new DeviceMemory(device, static_cast<std::byte*>(data)));
}

DeviceMemory::~DeviceMemory() {
  if (cudaSetDevice(device_) == cudaSuccess) {
    cudaFree(data_);
  }
}

bool CudaBuffer::ensureSecond() {
  if (!second_) {
    second_ = DeviceMemory::allocate(device_, length_);
  }
  return second_ != nullptr;
}

std::shared_ptr<QueueResources> QueueResources::make(int device, std::string& why) {
  std::shared_ptr<QueueResources> queue(new QueueResources(device));
  std::optional<std::string> failed = failure(cudaSetDevice(device), "cudaSetDevice");
  if (!failed) {
    // A blocking stream: copies and fills on the default stream are ordered with its work.
    failed = failure(cudaStreamCreateWithFlags(&queue->stream_, cudaStreamDefault),
                     "cudaStreamCreateWithFlags");
  }
  if (!failed) {
    failed = failure(cublasCreate(&queue->handle_), "cublasCreate");
  }
  if (!failed) {
    failed = failure(cublasSetStream(queue->handle_, queue->stream_), "cublasSetStream");
  }
  if (!failed) {
    // Default math with FP32 compute: no TF32 or other reduced-precision path.
    failed = failure(cublasSetMathMode(queue->handle_, CUBLAS_DEFAULT_MATH), "cublasSetMathMode");
  }
  if (!failed) {
    queue->workspace_ = DeviceMemory::allocate(device, workspaceBytes);
    if (!queue->workspace_) {
      failed = "cannot allocate the cuBLAS workspace";
    }
  }
  if (!failed) {
    failed = failure(cublasSetWorkspace(queue->handle_, queue->workspace_->data(), workspaceBytes),
                     "cublasSetWorkspace");
  }
  if (failed) {
    cudaGetLastError();
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
    cublasDestroy(handle_);
  }
  workspace_.reset();
  if (stream_ != nullptr) {
    cudaStreamDestroy(stream_);
  }
}

void CudaMatrixMultiplication::encodeToCommandBuffer(CommandBuffer& commandBuffer, Matrix& left,
                                                     Matrix& right, Matrix& result) {
  const auto encoding =
      encodingOf<CudaCommandBuffer, CudaMatrix>(commandBuffer, left, right, result);
  if (!encoding) {
    return;
  }
  const auto [buffer, a, b, c] = *encoding;
  const int device = buffer->device();
  if (a->buffer().device() != device || b->buffer().device() != device ||
      c->buffer().device() != device) {
    buffer->fail("matrix on another CUDA device encoded");
    return;
  }
  if (!holdsMultiplication(sizes_, a->descriptor(), b->descriptor(), c->descriptor())) {
    buffer->fail("matrix smaller than the multiplication");
    return;
  }
  buffer->encode(sizes_, *a, *b, *c);
}

} // namespace ventaro::gpu::cuda
