#include "smc/four_char_code.h"
#include "smc/grapheme_clusters.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace ventaro {
namespace {

using namespace std::string_literals;

struct TextCode {
  std::string text;
  FourCharCode code;
};

TEST(FourCharCodeFromText, TakesEveryUtf8ByteWithTheLastFourKept) {
  const TextCode cases[] = {
      {"FNum", 0x464E756D},
      {"#KEY", 0x234B4559},
      {"ui8 ", 0x75693820},       // the space is the low byte
      {"\u00C0BCD", 0x80424344},  // C3 80 42 43 44: the lead byte C3 falls off
      {"e\u0301xyz", 0x8178797A}, // 65 CC 81 78 79 7A: a combining mark joins its letter
      {"\0\0\0\0"s, 0},           // four U+0000 are four characters
      {"\U0001F1E9\U0001F1EAabc", 0xAA616263}, // a flag is one character
  };
  for (const auto& [text, code] : cases) {
    EXPECT_EQ(fourCharCodeFromText(text), code) << text;
  }
}

TEST(FourCharCodeFromText, RefusesOtherLengthsAndInvalidUtf8) {
  const std::string refused[] = {
      "",
      "FNu",
      "FNum1",
      "\r\nab",          // CR LF is one character: three in all
      "e\u0301xy",       // a letter with its combining mark is one character: four bytes, three
      "\xC3\x28xyz",     // a lead byte without its continuation
      "\xC0\x80xyz",     // overlong form of U+0000
      "\xED\xA0\x80xyz", // a UTF-16 surrogate
      "\x80xyz",         // a lone continuation byte
      "FNu\xF0\x9F",     // cut off in the middle of a character
  };
  for (const auto& text : refused) {
    EXPECT_THROW(fourCharCodeFromText(text), std::invalid_argument) << text;
  }
}

TEST(FourCharCodeToText, ReadsEachByteAsLatin1AndKeepsZeroBytes) {
  EXPECT_EQ(fourCharCodeToText(0x7B666473), "{fds");
  EXPECT_EQ(fourCharCodeToText(0x46304DE9), "F0M\u00E9");
  EXPECT_EQ(fourCharCodeToText(0xFF008000), "\u00FF\0\u0080\0"s);
  EXPECT_EQ(fourCharCodeToText(0), "\0\0\0\0"s);
  EXPECT_EQ(countGraphemeClusters(fourCharCodeToText(0)), 4u);
}

TEST(FourCharCode, RoundTripsWhenEveryByteIsAscii) {
  for (const FourCharCode code : {0x464E756Du, 0x00000000u, 0x7F7F7F7Fu, 0x2020207Eu}) {
    EXPECT_EQ(fourCharCodeFromText(fourCharCodeToText(code)), code);
  }
  // A byte from 0x80 on takes two UTF-8 bytes, and the last four bytes no longer match...
  for (const FourCharCode code : {0x46304DE9u, 0x4680414Eu, 0xC0414243u, 0xFFFFFFFFu}) {
    EXPECT_NE(fourCharCodeFromText(fourCharCodeToText(code)), code);
  }
  // ...except in the first byte from 0x80 to 0xBF, which equals its own continuation byte.
  EXPECT_EQ(fourCharCodeFromText(fourCharCodeToText(0x80414243)), 0x80414243u);
}

TEST(FourCharCode, LiteralsAndRawBytesAgreeWithTheTextRule) {
  static_assert(fourCharCodeLiteral("F0Mn") == 0x46304D6E);
  EXPECT_EQ(fourCharCodeBytes(0x46304D6E), "F0Mn");
  EXPECT_EQ(fourCharCodeFromBytes("ui8 "), 0x75693820u);
  EXPECT_EQ(fourCharCodeFromBytes("abc"), std::nullopt);
}

struct ClusterCase {
  const char* what;
  std::string text;
  std::size_t clusters;
};

TEST(GraphemeClusters, FollowTheBoundaryRules) {
  const ClusterCase cases[] = {
      {"ASCII", "abc", 3},
      {"CR LF", "a\r\nb", 3},
      {"LF CR", "\n\r", 2},
      {"controls stand alone", "a\x01\u0301", 3},
      {"combining marks", "e\u0301\u0302f", 2},
      {"spacing mark", "\u0915\u093F", 1},
      {"variation selector", "\u2764\uFE0F", 1},
      {"skin tone", "\U0001F44D\U0001F3FD", 1},
      {"joined family", "\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},
      {"joiner after a letter", "a\u200D\U0001F469", 2},
      {"flag pairs", "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},
      {"odd regional indicator", "\U0001F1E9\U0001F1EA\U0001F1EB", 2},
      {"Hangul jamo L V T", "\u1100\u1161\u11A8", 1},
      {"Hangul LV + T", "\uAC00\u11A8", 1},
      {"Hangul LVT + V", "\uAC01\u1161", 2},
      {"U+0000", "\0a"s, 2},
  };
  for (const auto& [what, text, clusters] : cases) {
    EXPECT_EQ(countGraphemeClusters(text), clusters) << what;
  }
  EXPECT_EQ(countGraphemeClusters("\xFF"), std::nullopt);
}

} // namespace
} // namespace ventaro
