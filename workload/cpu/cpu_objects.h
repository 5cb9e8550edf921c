#pragma once

// The objects of the CPU backend, shared by its device and its command buffer.

#include "workload/backend_objects.h"
#include "workload/gpu_device.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ventaro::gpu::cpu {

/// A zero-filled, cache-line aligned block of bytes.
class AlignedBlock {
public:
  /// Null data when the allocation fails.
  explicit AlignedBlock(std::size_t length);
  std::byte* data() const { return data_.get(); }

private:
  struct Free {
    void operator()(std::byte* pointer) const;
  };
  // A run of bytes whose length is known at run time only, which std::array cannot hold.
  std::unique_ptr<std::byte[], Free> data_; // NOLINT(modernize-avoid-c-arrays)
};

/// Device memory of the CPU backend: blocks in the process's own memory.
class CpuBuffer final : public TwoBlockBuffer<AlignedBlock> {
public:
  /// Check `data()` for null: the allocation may fail.
  explicit CpuBuffer(std::uint64_t length)
      : TwoBlockBuffer(length, std::make_unique<AlignedBlock>(length)) {}

protected:
  std::unique_ptr<AlignedBlock> makeBlock() const override;
};

class CpuMatrix final : public BufferMatrix<CpuBuffer> {
public:
  using BufferMatrix::BufferMatrix;
  float* elements() const { return reinterpret_cast<float*>(buffer().data()); }
};

} // namespace ventaro::gpu::cpu
