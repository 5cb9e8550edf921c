#pragma once

// The objects of the CPU backend, shared by its device and its command buffer.

#include "workload/backend_support.h"
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

/// Device memory of the CPU backend. Besides its own storage it may hold a second block of
/// the same length, made on demand, which a multiplication whose result aliases an operand
/// writes into (see Placement).
class CpuBuffer final : public Buffer {
public:
  /// Check `data()` for null: the allocation may fail.
  explicit CpuBuffer(std::uint64_t length);
  std::uint64_t length() const override { return length_; }

  std::byte* data() const { return primary_->data(); }
  std::byte* second() const { return second_ ? second_->data() : nullptr; }
  /// Makes the second block if there is none yet. False when it cannot be allocated.
  bool ensureSecond();
  /// Exchanges the storage and the second block.
  void swapWithSecond() { std::swap(primary_, second_); }

private:
  std::uint64_t length_;
  std::unique_ptr<AlignedBlock> primary_;
  std::unique_ptr<AlignedBlock> second_;
};

class CpuMatrix final : public BufferMatrix<CpuBuffer> {
public:
  using BufferMatrix::BufferMatrix;
  float* elements() const { return reinterpret_cast<float*>(buffer().data()); }
};

} // namespace ventaro::gpu::cpu
