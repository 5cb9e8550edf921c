#pragma once

// What the real backends of the GPU layer have in common: the FP32 layout rules of their
// matrices, the sizes of a multiplication and the checks made when one is encoded, and the
// error and commit bookkeeping of their command buffers.

#include "workload/gpu_device.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ventaro::gpu {

/// Sizes of a multiplication: result is rows × columns, the operands share `interior`.
struct GemmSizes {
  int rows = 0;
  int columns = 0;
  int interior = 0;
  bool operator==(const GemmSizes&) const = default;
};

/// Whether `value` is a positive count a BLAS int parameter can carry.
bool fitsInt(std::int64_t value);

/// Bytes of an unpadded FP32 row of `columns` elements; 0 for another type or a column count
/// that has no valid stride.
std::uint64_t packedRowBytes(std::int64_t columns, DataType dataType);

/// Whether `descriptor` describes an FP32 matrix a BLAS call can take, inside `length` bytes.
bool validLayout(const MatrixDescriptor& descriptor, std::uint64_t length);

/// The sizes of a result rows × columns multiplication over `interior`; none when any of
/// them is not a positive int.
std::optional<GemmSizes> gemmSizes(std::int64_t rows, std::int64_t columns, std::int64_t interior);

/// Whether the operands and the result are at least as large as the multiplication needs.
bool holdsMultiplication(const GemmSizes& sizes, const MatrixDescriptor& left,
                         const MatrixDescriptor& right, const MatrixDescriptor& result);

/// Whether a result of `layout` computed at `sizes` covers all `length` bytes of its buffer,
/// with no padding and nothing left outside it.
bool coversBuffer(const GemmSizes& sizes, const MatrixDescriptor& layout, std::uint64_t length);

/// A matrix of a backend over that backend's buffer.
template <class BackendBuffer> class BufferMatrix : public Matrix {
public:
  BufferMatrix(std::shared_ptr<BackendBuffer> buffer, const MatrixDescriptor& descriptor)
      : buffer_(std::move(buffer)), descriptor_(descriptor) {}
  const MatrixDescriptor& descriptor() const override { return descriptor_; }

  BackendBuffer& buffer() const { return *buffer_; }
  /// Elements between the starts of two rows.
  int leadingDimension() const { return static_cast<int>(descriptor_.rowBytes / sizeof(float)); }

private:
  std::shared_ptr<BackendBuffer> buffer_;
  MatrixDescriptor descriptor_;
};

/// The command buffer and the three matrices of one encoding, as one backend's types.
template <class BackendCommandBuffer, class BackendMatrix> struct Encoding {
  BackendCommandBuffer* buffer = nullptr;
  BackendMatrix* left = nullptr;
  BackendMatrix* right = nullptr;
  BackendMatrix* result = nullptr;
};

/// The encoding as the backend's types. None when the command buffer is of another backend
/// (left alone: there is no error channel to report it through), or when a matrix is (the
/// command buffer then fails).
template <class BackendCommandBuffer, class BackendMatrix>
std::optional<Encoding<BackendCommandBuffer, BackendMatrix>>
encodingOf(CommandBuffer& commandBuffer, Matrix& left, Matrix& right, Matrix& result) {
  auto* buffer = dynamic_cast<BackendCommandBuffer*>(&commandBuffer);
  if (buffer == nullptr) {
    return std::nullopt;
  }
  auto* a = dynamic_cast<BackendMatrix*>(&left);
  auto* b = dynamic_cast<BackendMatrix*>(&right);
  auto* c = dynamic_cast<BackendMatrix*>(&result);
  if (a == nullptr || b == nullptr || c == nullptr) {
    buffer->fail("matrix of another device encoded");
    return std::nullopt;
  }
  return Encoding<BackendCommandBuffer, BackendMatrix>{buffer, a, b, c};
}

/// Where a multiplication writes its product. BLAS never sees a result that overlaps an
/// operand: such a product goes to the result buffer's second block and is moved into the
/// result once the run of identical multiplications it belongs to has ended, so that every
/// multiplication of the run computes the same product of the same operands.
enum class Placement {
  direct, // straight into the result
  swapIn, // into the second block, which then becomes the buffer's storage
  copyIn, // into the second block, whose product rows are then copied into the result
};

/// The placement of result = left × right at `sizes`, given whether the result's buffer is
/// the buffer of either operand.
Placement placementOf(const GemmSizes& sizes, bool resultSharesAnOperand,
                      const MatrixDescriptor& result, std::uint64_t resultLength);

/// Copies `rows` rows of `width` bytes between two pitched places (one of them the backend's
/// memory, the other the host's). False when the copy fails.
using PitchedCopy = bool (*)(void* to, std::size_t toPitch, const void* from, std::size_t fromPitch,
                             std::size_t width, std::size_t rows);

/// The elements of a matrix of `layout` at `storage`, row by row without padding; empty
/// when the copy fails.
std::vector<float> readElements(const std::byte* storage, const MatrixDescriptor& layout,
                                PitchedCopy copy);

/// Writes `elements` (row by row without padding) into a matrix of `layout` at `storage`.
/// False, with nothing written, when the count is not rows × columns, or when the copy fails.
bool writeElements(std::byte* storage, const MatrixDescriptor& layout,
                   std::span<const float> elements, PitchedCopy copy);

/// readElements for a matrix of one backend; empty for a matrix of another.
template <class BackendMatrix>
std::vector<float> readMatrixOf(const Matrix& matrix, PitchedCopy copy) {
  const auto* own = dynamic_cast<const BackendMatrix*>(&matrix);
  return own != nullptr ? readElements(own->buffer().data(), own->descriptor(), copy)
                        : std::vector<float>{};
}

/// writeElements for a matrix of one backend; false for a matrix of another.
template <class BackendMatrix>
bool writeMatrixOf(Matrix& matrix, std::span<const float> elements, PitchedCopy copy) {
  auto* own = dynamic_cast<BackendMatrix*>(&matrix);
  return own != nullptr && writeElements(own->buffer().data(), own->descriptor(), elements, copy);
}

/// The elements of a matrix of `layout` at `storage` at `positions`, in their order; none
/// when a position lies outside the matrix or a copy fails.
std::optional<std::vector<float>> readElementsAt(const std::byte* storage,
                                                 const MatrixDescriptor& layout,
                                                 std::span<const ElementPosition> positions,
                                                 PitchedCopy copy);

/// readElementsAt for a matrix of one backend; none for a matrix of another.
template <class BackendMatrix>
std::optional<std::vector<float>>
readElementsOf(const Matrix& matrix, std::span<const ElementPosition> positions, PitchedCopy copy) {
  const auto* own = dynamic_cast<const BackendMatrix*>(&matrix);
  return own != nullptr ? readElementsAt(own->buffer().data(), own->descriptor(), positions, copy)
                        : std::nullopt;
}

/// A command buffer that keeps its first error and is committed at most once.
class RecordingCommandBuffer : public CommandBuffer {
public:
  std::optional<CommandError> error() const override { return error_; }
  /// Ends the buffer with `message` as its error (the first error is kept).
  void fail(std::string message);

protected:
  bool hasError() const { return error_.has_value(); }
  bool committed() const { return committed_; }
  /// For encoding: false, with the buffer failed, once it has been committed.
  bool openForEncoding();
  /// For commit: marks the buffer committed; false, with the buffer failed, when it was
  /// committed before.
  bool markCommitted();

private:
  std::optional<CommandError> error_;
  bool committed_ = false;
};

/// The multiplication kernel of a backend: checks that the command buffer and the matrices
/// are the backend's and large enough, then hands the multiplication to the command buffer,
/// whose `encode(sizes, left, right, result)` makes any further check of its own.
template <class BackendCommandBuffer, class BackendMatrix>
class BackendMultiplication final : public MatrixMultiplication {
public:
  explicit BackendMultiplication(GemmSizes sizes) : sizes_(sizes) {}

  /// A kernel of these sizes; null when any of them is not a positive int.
  static std::unique_ptr<MatrixMultiplication> make(std::int64_t rows, std::int64_t columns,
                                                    std::int64_t interior) {
    const std::optional<GemmSizes> sizes = gemmSizes(rows, columns, interior);
    return sizes ? std::make_unique<BackendMultiplication>(*sizes) : nullptr;
  }

  void encodeToCommandBuffer(CommandBuffer& commandBuffer, Matrix& left, Matrix& right,
                             Matrix& result) override {
    const auto encoding =
        encodingOf<BackendCommandBuffer, BackendMatrix>(commandBuffer, left, right, result);
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

private:
  GemmSizes sizes_;
};

} // namespace ventaro::gpu
