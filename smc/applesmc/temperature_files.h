#pragma once

#include "smc/applesmc/answer.h"
#include "smc/applesmc/file_access.h"
#include "smc/four_char_code.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventaro::applesmc {

// The temperature keys the kernel offers to everybody: temp<N>_label holds a key (four
// characters and a newline), temp<N>_input its value in millidegrees Celsius. The kernel numbers
// them from 1 in the SMC's key order and lists every "sp78" key that begins with 'T', no other.
struct TemperatureFile {
  FourCharCode code = 0;
  std::string inputPath;
};

// Whether the key begins with upper-case 'T', as every key of the temperature files does.
bool isTemperatureKey(FourCharCode code);

// Most pairs taken from one directory; a real machine has a few dozen.
inline constexpr std::size_t kMostTemperatureFiles = 1024;

// The pairs in `directory`, in the kernel's order. A label that is not a regular file, does not
// hold exactly four characters (and an optional newline) or has no temp<N>_input beside it is
// left out, and so is a label of a key not beginning with 'T' or one naming a key already listed.
std::vector<TemperatureFile> listTemperatureFiles(FileAccess& files, const std::string& directory);

// The two "sp78" value bytes that the kernel's millidegrees stand for. The kernel takes the
// key's bytes as a signed 16-bit number (8 fraction bits, two's complement) and keeps quarter
// degrees, so the bytes rebuilt are those the SMC holds, less the bits under a quarter degree;
// any other figure in range rounds down the same way. Nothing for text that is not a whole
// number or lies outside -128000 to 127999.
std::optional<std::array<std::uint8_t, 2>> sp78FromMillidegrees(std::string_view text);

// The key's value from its temp<N>_input: the two "sp78" bytes, the rest zero. A file that is
// gone answers result 132; contents no kernel writes answer kIOReturnError.
Answered<SMCBytes> readTemperatureFile(FileAccess& files, const TemperatureFile& file);

} // namespace ventaro::applesmc
