#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ventaro {

// A key or type code of the SMC: four 8-bit characters, the first in the most significant byte.
using FourCharCode = std::uint32_t;

// The code of a four-byte literal ("FNum" is 0x464E756D); the array type admits no other length.
// NOLINTNEXTLINE(modernize-avoid-c-arrays): the array reference is what rejects other lengths.
constexpr FourCharCode fourCharCodeLiteral(const char (&text)[5]) {
  FourCharCode code = 0;
  for (int i = 0; i < 4; ++i) {
    code = (code << 8) | static_cast<unsigned char>(text[i]);
  }
  return code;
}

// The code of a text of exactly four user-perceived characters (extended grapheme clusters).
// Every byte of the UTF-8 form is shifted in from the right, so a text longer than four bytes
// keeps its last four. Throws std::invalid_argument for a text that is not valid UTF-8 or not
// four characters long.
FourCharCode fourCharCodeFromText(std::string_view utf8);

// The four characters of a code as UTF-8, each byte read as ISO 8859-1 (0x80 to 0xFF become
// U+0080 to U+00FF). Zero bytes stay as U+0000, so the text always has four characters.
std::string fourCharCodeToText(FourCharCode code);

// The code's four raw bytes, most significant first (a sysfs key name is written this way).
inline std::string fourCharCodeBytes(FourCharCode code) {
  std::string bytes(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[i] = static_cast<char>((code >> (8 * (3 - i))) & 0xFFu);
  }
  return bytes;
}

// The code of exactly four raw bytes, the first most significant; nothing for any other length.
inline std::optional<FourCharCode> fourCharCodeFromBytes(std::string_view bytes) {
  if (bytes.size() != 4) {
    return std::nullopt;
  }
  FourCharCode code = 0;
  for (const char byte : bytes) {
    code = (code << 8) | static_cast<unsigned char>(byte);
  }
  return code;
}

} // namespace ventaro
