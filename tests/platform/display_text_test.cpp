#include "platform/display_text.h"

#include <gtest/gtest.h>
#include <string>

namespace ventaro {
namespace {

TEST(DisplayText, KeepsValidTextBlanksControlCharactersAndReplacesInvalidUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"Vendor GPU \xC3\xA9 \xE2\x9C\x93", "Vendor GPU \xC3\xA9 \xE2\x9C\x93"},
      // C0 (tab, escape, NUL inside the text), DEL and C1 (U+009B, the single-character CSI).
      {std::string("a\tb\x1B[31mc\x7F"
                   "d\xC2\x9B"
                   "e\0f",
                   16),
       "a b [31mc d e f"},
      {"CPU \xFF\xFE x", "CPU \xEF\xBF\xBD\xEF\xBF\xBD x"},
      // Each byte of a cut sequence is replaced on its own.
      {"cut \xE2\x9C", "cut \xEF\xBF\xBD\xEF\xBF\xBD"}};
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(displayText(text), shown);
  }
}

} // namespace
} // namespace ventaro
