#pragma once

#include "tests/smc/emulated_smc.h"

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ventaro::emulated {

// A machine profile for the emulated SMC, one key per line:
//
//   <code> <type> <size> <value bytes in hex>
//   "#KEY" ui32 4 00 00 00 15
//   FNum  "ui8 " 1 03
//   F0Mn  fpe2   2 0C80        # hex digits may be grouped; a comment runs to the line's end
//
// Codes and types are four-character texts. A text holding spaces, or beginning with '#' or
// '"', is written in double quotes (no escapes); outside quotes '#' at the start of a word
// begins a comment. The number of value bytes must equal the size (at most 32). When the
// profile has "#KEY", its value must be the number of keys, "#KEY" included.
class SMCProfileError : public std::runtime_error {
public:
  SMCProfileError(std::size_t line, const std::string& message);
  std::size_t line() const { return line_; }

private:
  std::size_t line_;
};

std::vector<EmulatedKey> parseSMCProfile(std::string_view text);

// Throws SMCProfileError (line 0) when the file cannot be read.
std::vector<EmulatedKey> loadSMCProfile(const std::filesystem::path& file);

} // namespace ventaro::emulated
