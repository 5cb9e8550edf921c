#pragma once

// The object templates every backend of the registry builds on: a buffer of two blocks (the
// CPU and CUDA backends), the encoded form of a multiplication, and a device base that does
// what does not depend on where the memory is.

#include "workload/backend_support.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace ventaro::gpu {

/// Device memory of a backend: its own storage and, made on demand, a second block of the
/// same length that a multiplication whose result aliases an operand writes into (see
/// Placement). `Block` has data() (bytes); the backend makes blocks with makeBlock().
template <class Block> class TwoBlockBuffer : public Buffer {
public:
  TwoBlockBuffer(std::uint64_t length, std::unique_ptr<Block> storage)
      : length_(length), storage_(std::move(storage)) {}
  std::uint64_t length() const override { return length_; }

  std::byte* data() const { return storage_->data(); }
  std::byte* second() const { return second_ ? second_->data() : nullptr; }
  /// Makes the second block if there is none yet; why not when it cannot be made.
  std::optional<std::string> ensureSecond() {
    if (!second_) {
      second_ = makeBlock();
    }
    if (!second_) {
      return "no memory for " + std::to_string(length_) + " bytes";
    }
    return std::nullopt;
  }
  /// Exchanges the storage and the second block.
  void swapWithSecond() { std::swap(storage_, second_); }

protected:
  /// A new block of length() bytes, or null.
  virtual std::unique_ptr<Block> makeBlock() const = 0;

private:
  std::uint64_t length_;
  std::unique_ptr<Block> storage_;
  std::unique_ptr<Block> second_;
};

/// One encoded multiplication: sizes, matrices and where its product goes.
template <class BackendMatrix> struct EncodedMultiplication {
  GemmSizes sizes;
  BackendMatrix* left = nullptr;
  BackendMatrix* right = nullptr;
  BackendMatrix* result = nullptr;
  Placement placement = Placement::direct;
  bool operator==(const EncodedMultiplication&) const = default;

  /// The multiplication with its placement; none, with `commandBuffer` failed, when the
  /// second block an aliased product needs cannot be made.
  static std::optional<EncodedMultiplication> make(RecordingCommandBuffer& commandBuffer,
                                                   const GemmSizes& sizes, BackendMatrix& left,
                                                   BackendMatrix& right, BackendMatrix& result) {
    auto& target = result.buffer();
    const Placement placement =
        placementOf(sizes, &target == &left.buffer() || &target == &right.buffer(),
                    result.descriptor(), target.length());
    if (placement != Placement::direct) {
      if (const std::optional<std::string> failed = target.ensureSecond()) {
        commandBuffer.fail("cannot allocate the second block of an aliased multiplication: " +
                           *failed);
        return std::nullopt;
      }
    }
    return EncodedMultiplication{sizes, &left, &right, &result, placement};
  }
};

/// The part of a backend's device that only knows its types: FP32 rows without padding,
/// matrices over its own buffers, its multiplication kernel, and the reason of the last
/// failure. `accepts(buffer)` lets a backend refuse buffers of its own kind it cannot use.
template <class BackendCommandBuffer, class BackendMatrix, class BackendBuffer>
class BackendDevice : public Device {
public:
  std::uint64_t rowBytesFromColumns(std::int64_t columns, DataType dataType) const override {
    return packedRowBytes(columns, dataType);
  }
  std::unique_ptr<Matrix> newMatrix(std::shared_ptr<Buffer> buffer,
                                    const MatrixDescriptor& descriptor) override {
    auto own = std::dynamic_pointer_cast<BackendBuffer>(std::move(buffer));
    if (!own || !accepts(*own) || !validLayout(descriptor, own->length())) {
      return nullptr;
    }
    return std::make_unique<BackendMatrix>(std::move(own), descriptor);
  }
  std::unique_ptr<MatrixMultiplication>
  newMatrixMultiplication(std::int64_t resultRows, std::int64_t resultColumns,
                          std::int64_t interiorColumns) override {
    return BackendMultiplication<BackendCommandBuffer, BackendMatrix>::make(
        resultRows, resultColumns, interiorColumns);
  }
  std::string lastFailure() const override { return lastFailure_; }

protected:
  virtual bool accepts(const BackendBuffer&) const { return true; }

  /// Two matrices of this device with one layout, or none (with the failure noted).
  std::optional<std::pair<const BackendMatrix*, const BackendMatrix*>> comparable(const Matrix& a,
                                                                                  const Matrix& b) {
    const auto* left = dynamic_cast<const BackendMatrix*>(&a);
    const auto* right = dynamic_cast<const BackendMatrix*>(&b);
    if (left == nullptr || right == nullptr || left->descriptor() != right->descriptor() ||
        !accepts(left->buffer()) || !accepts(right->buffer())) {
      lastFailure_ = "matrices of another device or of different layouts";
      return std::nullopt;
    }
    return std::pair{left, right};
  }

  std::string lastFailure_;
};

} // namespace ventaro::gpu
