#pragma once

#include "smc/applesmc/answer.h"
#include "smc/applesmc/file_access.h"
#include "smc/data_type.h"
#include "smc/four_char_code.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ventaro::applesmc {

// A fan key that the kernel's fan files serve: "FNum", or "F" + digit + "ID"/"Mn"/"Mx"/"Ac".
struct FanKey {
  enum class Kind { count, identification, minimum, maximum, actual };
  Kind kind = Kind::count;
  int index = 0; // SMC fan index; its files are numbered from 1 (fan1_* is fan 0)
};

std::optional<FanKey> fanKeyOf(FourCharCode code);

// The key's value bytes from the fan files of `fanDirectory`, which everybody may read:
//   FNum   the number of fans (fan<N>_input files from N = 1 on), one byte
//   F<i>ID the identification record: bytes 4 to 15 hold fan<i+1>_label, the rest are zero
//   F<i>Mn, F<i>Mx, F<i>Ac  fan<i+1>_min, _max, _input, whole speeds, as "fpe2"
// A fan without files answers result 132, as the SMC does for a key it does not know.
Answered<SMCBytes> readFanKey(FileAccess& files, const std::string& fanDirectory,
                              const FanKey& key);

// Writes the "fpe2" speed in the first two value bytes to fan<i+1>_min (root only).
Answer writeFanMinimum(FileAccess& files, const std::string& fanDirectory, int index,
                       std::uint64_t dataSize, const SMCBytes& value);

} // namespace ventaro::applesmc
