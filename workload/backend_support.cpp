#include "workload/backend_support.h"

#include <climits>
#include <cstddef>

namespace ventaro::gpu {

bool fitsInt(std::int64_t value) {
  return value >= 1 && value <= INT_MAX;
}

std::uint64_t packedRowBytes(std::int64_t columns, DataType dataType) {
  if (dataType != DataType::float32 || !fitsInt(columns)) {
    return 0;
  }
  return sizeof(float) * static_cast<std::uint64_t>(columns);
}

bool validLayout(const MatrixDescriptor& descriptor, std::uint64_t length) {
  if (descriptor.dataType != DataType::float32 || !fitsInt(descriptor.rows) ||
      !fitsInt(descriptor.columns) || descriptor.rowBytes % sizeof(float) != 0 ||
      descriptor.rowBytes / sizeof(float) < static_cast<std::uint64_t>(descriptor.columns) ||
      descriptor.rowBytes / sizeof(float) > INT_MAX) {
    return false;
  }
  return descriptor.rowBytes <= length / static_cast<std::uint64_t>(descriptor.rows);
}

std::optional<GemmSizes> gemmSizes(std::int64_t rows, std::int64_t columns, std::int64_t interior) {
  if (!fitsInt(rows) || !fitsInt(columns) || !fitsInt(interior)) {
    return std::nullopt;
  }
  return GemmSizes{static_cast<int>(rows), static_cast<int>(columns), static_cast<int>(interior)};
}

bool holdsMultiplication(const GemmSizes& sizes, const MatrixDescriptor& left,
                         const MatrixDescriptor& right, const MatrixDescriptor& result) {
  return left.rows >= sizes.rows && left.columns >= sizes.interior &&
         right.rows >= sizes.interior && right.columns >= sizes.columns &&
         result.rows >= sizes.rows && result.columns >= sizes.columns;
}

bool coversBuffer(const GemmSizes& sizes, const MatrixDescriptor& layout, std::uint64_t length) {
  return sizes.rows == layout.rows && sizes.columns == layout.columns &&
         layout.rowBytes == sizeof(float) * static_cast<std::uint64_t>(layout.columns) &&
         static_cast<std::uint64_t>(layout.rows) * layout.rowBytes == length;
}

Placement placementOf(const GemmSizes& sizes, bool resultSharesAnOperand,
                      const MatrixDescriptor& result, std::uint64_t resultLength) {
  if (!resultSharesAnOperand) {
    return Placement::direct;
  }
  return coversBuffer(sizes, result, resultLength) ? Placement::swapIn : Placement::copyIn;
}

std::vector<float> readElements(const std::byte* storage, const MatrixDescriptor& layout,
                                PitchedCopy copy) {
  const auto columns = static_cast<std::size_t>(layout.columns);
  std::vector<float> elements(static_cast<std::size_t>(layout.rows) * columns);
  if (!copy(elements.data(), columns * sizeof(float), storage, layout.rowBytes,
            columns * sizeof(float), static_cast<std::size_t>(layout.rows))) {
    return {};
  }
  return elements;
}

bool writeElements(std::byte* storage, const MatrixDescriptor& layout,
                   std::span<const float> elements, PitchedCopy copy) {
  const auto columns = static_cast<std::size_t>(layout.columns);
  if (elements.size() != static_cast<std::size_t>(layout.rows) * columns) {
    return false;
  }
  return copy(storage, layout.rowBytes, elements.data(), columns * sizeof(float),
              columns * sizeof(float), static_cast<std::size_t>(layout.rows));
}

std::optional<std::vector<float>> readElementsAt(const std::byte* storage,
                                                 const MatrixDescriptor& layout,
                                                 std::span<const ElementPosition> positions,
                                                 PitchedCopy copy) {
  std::vector<float> values(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const auto [row, column] = positions[i];
    if (row < 0 || row >= layout.rows || column < 0 || column >= layout.columns) {
      return std::nullopt;
    }
    const std::byte* at = storage + static_cast<std::uint64_t>(row) * layout.rowBytes +
                          static_cast<std::uint64_t>(column) * sizeof(float);
    if (!copy(&values[i], sizeof(float), at, sizeof(float), sizeof(float), 1)) {
      return std::nullopt;
    }
  }
  return values;
}

void RecordingCommandBuffer::fail(std::string message) {
  if (!error_) {
    error_ = CommandError{std::move(message)};
  }
}

bool RecordingCommandBuffer::openForEncoding() {
  if (committed_) {
    fail("multiplication encoded after commit");
    return false;
  }
  return true;
}

bool RecordingCommandBuffer::markCommitted() {
  if (committed_) {
    fail("command buffer committed twice");
    return false;
  }
  committed_ = true;
  return true;
}

} // namespace ventaro::gpu
