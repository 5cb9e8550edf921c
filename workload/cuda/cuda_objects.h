#pragma once

// The objects of the CUDA backend, shared by its device and its command buffer.

#include "workload/backend_objects.h"
#include "workload/cuda/cublas_library.h"
#include "workload/gpu_device.h"

#include <cstddef>
#include <cstdint>
#include <cublas_v2.h>
#include <cuda_runtime_api.h>
#include <memory>
#include <optional>
#include <string>

namespace ventaro::gpu::cuda {

/// Memory on one device, freed there.
class DeviceMemory {
public:
  /// Null, with the reason in `why` and the debug log, when the device cannot be selected
  /// or the allocation fails.
  static std::unique_ptr<DeviceMemory> allocate(int device, std::size_t length,
                                                std::string* why = nullptr);
  DeviceMemory(const DeviceMemory&) = delete;
  DeviceMemory& operator=(const DeviceMemory&) = delete;
  ~DeviceMemory();
  std::byte* data() const { return data_; }

private:
  DeviceMemory(int device, std::byte* data) : device_(device), data_(data) {}
  int device_;
  std::byte* data_;
};

/// Device memory of the CUDA backend. Besides its own storage it may hold a second block of
/// the same length, made when a multiplication whose result aliases an operand is encoded
/// (see Placement). Between command buffers the contents are always in its own storage.
class CudaBuffer final : public TwoBlockBuffer<DeviceMemory> {
public:
  CudaBuffer(int device, std::uint64_t length, std::unique_ptr<DeviceMemory> storage)
      : TwoBlockBuffer(length, std::move(storage)), device_(device) {}
  int device() const { return device_; }

protected:
  std::unique_ptr<DeviceMemory> makeBlock() const override {
    return DeviceMemory::allocate(device_, length());
  }

private:
  int device_;
};

class CudaMatrix final : public BufferMatrix<CudaBuffer> {
public:
  using BufferMatrix::BufferMatrix;
};

/// What a command queue stands on: a non-blocking stream of its own, a cuBLAS handle bound
/// to it in FP32 default math, and the handle's workspace (so that nothing is allocated
/// while work is captured).
class QueueResources {
public:
  /// Null with `why` set when any part cannot be made.
  static std::shared_ptr<QueueResources> make(int device, std::string& why);
  QueueResources(const QueueResources&) = delete;
  QueueResources& operator=(const QueueResources&) = delete;
  ~QueueResources();

  int device() const { return device_; }
  cudaStream_t stream() const { return stream_; }
  cublasHandle_t handle() const { return handle_; }
  const CublasLibrary& blas() const { return *blas_; }

private:
  QueueResources(int device, const CublasLibrary* blas) : device_(device), blas_(blas) {}
  int device_;
  const CublasLibrary* blas_;
  cudaStream_t stream_ = nullptr;
  cublasHandle_t handle_ = nullptr;
  std::unique_ptr<DeviceMemory> workspace_;
};

} // namespace ventaro::gpu::cuda
