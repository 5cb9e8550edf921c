#include "smc/four_char_code.h"

#include "smc/grapheme_clusters.h"

#include <stdexcept>

namespace ventaro {

FourCharCode fourCharCodeFromText(std::string_view utf8) {
  const auto characters = countGraphemeClusters(utf8);
  if (!characters) {
    throw std::invalid_argument("four-character code: text is not valid UTF-8");
  }
  if (*characters != 4) {
    throw std::invalid_argument("four-character code: text is not four characters long");
  }
  FourCharCode code = 0;
  for (const char byte : utf8) {
    code = (code << 8) | static_cast<unsigned char>(byte);
  }
  return code;
}

std::string fourCharCodeToText(FourCharCode code) {
  std::string text;
  text.reserve(8);
  for (const char raw : fourCharCodeBytes(code)) {
    const auto byte = static_cast<unsigned char>(raw);
    if (byte < 0x80) {
      text.push_back(static_cast<char>(byte));
    } else {
      // U+0080 to U+00FF take two bytes in UTF-8.
      text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return text;
}

} // namespace ventaro
