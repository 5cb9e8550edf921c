#pragma once

#include "smc/smc_param_struct.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace ventaro::emulated {

// Where the fields that requests set and replies return lie in the exchange record, written
// down as plain numbers rather than taken from SMCParamStruct, so that the emulated SMC reads
// and writes the bytes the driver would and a misplaced field in the record shows. Multi-byte
// fields are little-endian on both processors.
struct WireLayout {
  std::size_t size;
  std::size_t key;
  std::size_t dataSize;
  std::size_t dataSizeWidth;
  std::size_t dataType;
  std::size_t result;
  std::size_t data8;
  std::size_t data32;
  std::size_t bytes;
};

inline constexpr WireLayout kArm64WireLayout{88, 0, 32, 8, 40, 48, 50, 52, 56};
inline constexpr WireLayout kX86_64WireLayout{80, 0, 28, 4, 32, 40, 42, 44, 48};
inline constexpr WireLayout kNativeWireLayout =
    sizeof(SMCParamStruct) == kArm64WireLayout.size ? kArm64WireLayout : kX86_64WireLayout;

inline std::uint64_t loadLittleEndian(std::span<const std::uint8_t> record, std::size_t offset,
                                      std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = (value << 8) | record[offset + i];
  }
  return value;
}

inline void storeLittleEndian(std::span<std::uint8_t> record, std::size_t offset, std::size_t width,
                              std::uint64_t value) {
  for (std::size_t i = 0; i < width; ++i) {
    record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

} // namespace ventaro::emulated
