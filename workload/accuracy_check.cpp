#include "workload/accuracy_check.h"

#include "workload/uniform_values.h"

#include <cmath>

namespace ventaro {

std::vector<gpu::ElementPosition> accuracyPositions(std::uint64_t seed, std::int64_t dimension,
                                                    int count) {
  std::vector<gpu::ElementPosition> positions;
  if (dimension < 1 || count < 1) {
    return positions;
  }
  positions.reserve(static_cast<std::size_t>(count));
  // SplitMix64 over a stream of its own, apart from the matrix's values.
  std::uint64_t state = seed ^ 0xACC0'2AC7'C4EC'0001ULL;
  const auto next = [&state] {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  };
  const auto n = static_cast<std::uint64_t>(dimension);
  for (int i = 0; i < count; ++i) {
    const auto row = static_cast<std::int64_t>(next() % n);
    const auto column = static_cast<std::int64_t>(next() % n);
    positions.emplace_back(row, column);
  }
  return positions;
}

ExactElement exactSquareElement(std::uint64_t seed, std::int64_t dimension, std::int64_t row,
                                std::int64_t column) {
  const auto n = static_cast<std::uint64_t>(dimension);
  const auto r = static_cast<std::uint64_t>(row);
  const auto c = static_cast<std::uint64_t>(column);
  double sum = 0.0;
  double magnitudes = 0.0;
  for (std::uint64_t k = 0; k < n; ++k) {
    // Two 24-bit significands: the product is exact in double.
    const double product = static_cast<double>(gpu::uniformValue(seed, r * n + k)) *
                           static_cast<double>(gpu::uniformValue(seed, k * n + c));
    sum += product;
    magnitudes += std::fabs(product);
  }
  return {sum, static_cast<double>(dimension) * std::ldexp(magnitudes, -24)};
}

std::int64_t valuesOutsideBound(std::uint64_t seed, std::int64_t dimension,
                                std::span<const gpu::ElementPosition> positions,
                                std::span<const float> values) {
  std::int64_t outside = 0;
  for (std::size_t i = 0; i < positions.size() && i < values.size(); ++i) {
    const ExactElement exact =
        exactSquareElement(seed, dimension, positions[i].first, positions[i].second);
    const double error = std::fabs(static_cast<double>(values[i]) - exact.value);
    // Written so that a NaN fails: every comparison with it is false.
    if (!(std::isfinite(values[i]) && error <= exact.bound)) {
      ++outside;
    }
  }
  return outside;
}

} // namespace ventaro
