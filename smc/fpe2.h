#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>

namespace ventaro {

// "fpe2" is an unsigned 14.2 fixed-point number in two bytes, most significant first. Speeds
// are whole numbers: decoding drops the two fraction bits, encoding writes them as zero.

inline constexpr std::int64_t kFPE2Max = 16383;

constexpr std::int64_t decodeFPE2(std::uint8_t first, std::uint8_t second) {
  return std::int64_t{first} * 64 + (second >> 2);
}

// Throws std::out_of_range for a value outside 0 to 16383, which has no "fpe2" form.
constexpr std::array<std::uint8_t, 2> encodeFPE2(std::int64_t value) {
  if (value < 0 || value > kFPE2Max) {
    throw std::out_of_range("fpe2: value outside 0 to 16383");
  }
  return {static_cast<std::uint8_t>(value >> 6), static_cast<std::uint8_t>((value & 63) << 2)};
}

} // namespace ventaro
