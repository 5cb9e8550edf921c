#pragma once

// The operands of the load: pseudo-random values spread evenly over [-1, 1], each computed
// from a seed and its position alone (a counter-based generator), so that the host and a
// device kernel produce the same matrix without copying it.

#include <cstdint>

#if defined(__CUDACC__)
#define VENTARO_HOST_DEVICE __host__ __device__
#else
#define VENTARO_HOST_DEVICE
#endif

namespace ventaro::gpu {

/// The seed every load fills its matrix with, so that figures are comparable between runs.
inline constexpr std::uint64_t loadSeed = 0x5EED'0F'10AD;

/// The value of element `index` (row-major position, without padding) for `seed`: one of the
/// 2^24 numbers k / 2^23 − 1, k in [0, 2^24), each equally likely; every one is a float
/// exactly, none is denormal, and the mean is close to 0, so repeated products stay bounded.
inline VENTARO_HOST_DEVICE float uniformValue(std::uint64_t seed, std::uint64_t index) {
  // SplitMix64's finaliser over the seeded counter.
  std::uint64_t z = seed + (index + 1) * 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  const auto k = static_cast<std::int32_t>(z >> 40); // 24 bits
  return static_cast<float>(k) * (1.0f / 8388608.0f) - 1.0f;
}

} // namespace ventaro::gpu
