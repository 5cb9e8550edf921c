#include "platform/display_text.h"

#include <gtest/gtest.h>
#include <string>

namespace ventaro {
namespace {

TEST(DisplayText, KeepsValidTextAndBlanksEveryControlCharacter) {
  EXPECT_EQ(displayText("Vendor GPU \xC3\xA9 \xE2\x9C\x93"), "Vendor GPU \xC3\xA9 \xE2\x9C\x93");
  // C0 (tab, escape, NUL inside the text), DEL and C1 (U+009B, the single-character CSI).
  EXPECT_EQ(displayText(std::string("a\tb\x1B[31mc\x7F"
                                    "d\xC2\x9B"
                                    "e\0f",
                                    16)),
            "a b [31mc d e f");
}

TEST(DisplayText, ReplacesInvalidUtf8WithTheReplacementCharacter) {
  EXPECT_EQ(displayText("CPU \xFF\xFE x"), "CPU \xEF\xBF\xBD\xEF\xBF\xBD x");
  // Each byte of a cut sequence is replaced on its own.
  EXPECT_EQ(displayText("cut \xE2\x9C"), "cut \xEF\xBF\xBD\xEF\xBF\xBD");
}

} // namespace
} // namespace ventaro
