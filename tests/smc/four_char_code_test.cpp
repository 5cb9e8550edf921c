#include "smc/four_char_code.h"
#include "smc/grapheme_clusters.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace ventaro {
namespace {

using namespace std::string_literals;

TEST(FourCharCodeFromText, TakesTheLastFourUtf8BytesOfFourCharacters) {
  const std::pair<std::string, FourCharCode> cases[] = {
      {"FNum", 0x464E756D},
      {"ui8 ", 0x75693820},                    // the space is the low byte
      {"\u00C0BCD", 0x80424344},               // C3 80 42 43 44: the lead byte C3 falls off
      {"e\u0301xyz", 0x8178797A},              // a combining mark joins its letter
      {"\0\0\0\0"s, 0},                        // four U+0000 are four characters
      {"\U0001F1E9\U0001F1EAabc", 0xAA616263}, // a flag is one character
  };
  for (const auto& [text, code] : cases) {
    EXPECT_EQ(fourCharCodeFromText(text), code) << text;
  }
  for (const std::string refused : {"", "FNu", "FNum1",
                                    "\r\nab",          // CR LF is one character
                                    "e\u0301xy",       // four bytes, three characters
                                    "\xC3\x28xyz",     // a lead byte without its continuation
                                    "\xC0\x80xyz",     // overlong form of U+0000
                                    "\xED\xA0\x80xyz", // a UTF-16 surrogate
                                    "FNu\xF0\x9F"}) {  // cut off inside a character
    EXPECT_THROW(fourCharCodeFromText(refused), std::invalid_argument) << refused;
  }
}

TEST(FourCharCodeToText, ReadsEachByteAsLatin1AndRoundTripsAsciiOnly) {
  EXPECT_EQ(fourCharCodeToText(0x7B666473), "{fds");
  EXPECT_EQ(fourCharCodeToText(0x46304DE9), "F0M\u00E9");
  EXPECT_EQ(fourCharCodeToText(0xFF008000), "\u00FF\0\u0080\0"s);
  for (const FourCharCode code : {0x464E756Du, 0u, 0x7F7F7F7Fu, 0x80414243u}) {
    EXPECT_EQ(fourCharCodeFromText(fourCharCodeToText(code)), code) << code;
  }
  // From 0x80 on a byte takes two UTF-8 bytes, and the last four bytes no longer match
  // (except a first byte up to 0xBF, which equals its own continuation byte, as above).
  for (const FourCharCode code : {0x46304DE9u, 0xC0414243u, 0xFFFFFFFFu}) {
    EXPECT_NE(fourCharCodeFromText(fourCharCodeToText(code)), code) << code;
  }
  EXPECT_EQ(fourCharCodeFromBytes("abc"), std::nullopt);
}

TEST(GraphemeClusters, FollowTheBoundaryRules) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"a\r\nb", 3},
      {"a\x01\u0301", 3}, // controls stand alone
      {"e\u0301\u0302f", 2},
      {"\u0915\u093F", 1}, // spacing mark
      {"\U0001F44D\U0001F3FD", 1},
      {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1}, // joined family
      {"\U0001F1E9\U0001F1EA\U0001F1EB", 2},             // a pair of regional indicators, then one
      {"\u1100\u1161\u11A8", 1},                         // Hangul L V T
      {"\uAC01\u1161", 2},                               // Hangul LVT + V
      {"\0a"s, 2},
  };
  for (const auto& [text, clusters] : cases) {
    EXPECT_EQ(countGraphemeClusters(text), clusters) << text;
  }
  EXPECT_EQ(countGraphemeClusters("\xFF"), std::nullopt);
}

} // namespace
} // namespace ventaro
