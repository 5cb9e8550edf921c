#pragma once

#include "smc/four_char_code.h"

#include <array>
#include <cstdint>

namespace ventaro {

// The 32 value bytes of a key, in the SMC's own byte order (multi-byte types most significant
// byte first). Only the first `size` bytes of the key's data type carry the value.
using SMCBytes = std::array<std::uint8_t, 32>;

// A key's data type: its type code and the number of value bytes.
struct DataType {
  FourCharCode type = 0;
  std::uint32_t size = 0;

  friend bool operator==(const DataType&, const DataType&) = default;
};

// A key with its data type, as the key listing reports it.
struct SMCKey {
  FourCharCode code = 0;
  DataType info;

  friend bool operator==(const SMCKey&, const SMCKey&) = default;
};

// The data types that the SMC layer reads and writes.
namespace DataTypes {
inline constexpr DataType FDS{fourCharCodeLiteral("{fds"), 16};
inline constexpr DataType Flag{fourCharCodeLiteral("flag"), 1};
inline constexpr DataType FPE2{fourCharCodeLiteral("fpe2"), 2};
inline constexpr DataType SP78{fourCharCodeLiteral("sp78"), 2};
inline constexpr DataType UInt8{fourCharCodeLiteral("ui8 "), 1};
inline constexpr DataType UInt32{fourCharCodeLiteral("ui32"), 4};
} // namespace DataTypes

} // namespace ventaro
