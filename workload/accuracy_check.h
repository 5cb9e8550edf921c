#pragma once

// The second check of a load's product: a few hundred of its values, at positions drawn from
// the seed, against the same dot products computed in double precision on the host from the
// generator. The host needs no copy of the matrix: every operand is a function of the seed and
// its position. A value must lie within the standard error bound of an FP32 dot product of
// length n, n · 2^-24 · Σ|a_ik|·|a_kj|, which any summation order meets, and which a tiling or
// indexing fault misses.

#include "workload/gpu_device.h"

#include <cstdint>
#include <span>
#include <vector>

namespace ventaro {

/// How many values of the product the check reads back.
inline constexpr int kAccuracySamples = 256;

/// `count` positions in a `dimension` × `dimension` matrix, the same for the same seed.
std::vector<gpu::ElementPosition> accuracyPositions(std::uint64_t seed, std::int64_t dimension,
                                                    int count = kAccuracySamples);

/// Element (row, column) of start × start, where start holds uniformValue(seed, ·) in row
/// order, computed in double (each product is exact), and its FP32 error bound.
struct ExactElement {
  double value = 0.0;
  double bound = 0.0;
};
ExactElement exactSquareElement(std::uint64_t seed, std::int64_t dimension, std::int64_t row,
                                std::int64_t column);

/// How many of `values` (read at `positions` from start × start) lie outside their bound; a
/// value that is not a finite number always does. `values` and `positions` have one size.
std::int64_t valuesOutsideBound(std::uint64_t seed, std::int64_t dimension,
                                std::span<const gpu::ElementPosition> positions,
                                std::span<const float> values);

} // namespace ventaro
