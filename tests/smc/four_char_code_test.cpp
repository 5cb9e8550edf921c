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
      {"\u0600abcd", 0x61626364},              // a prepended mark joins the "a"
  };
  for (const auto& [text, code] : cases) {
    EXPECT_EQ(fourCharCodeFromText(text), code) << text;
  }
  for (const std::string refused :
       {"", "FNu", "FNum1",
        "\r\nab",                // CR LF is one character
        "e\u0301xy",             // four bytes, three characters
        "\u2713\u200D\u2713abc", // five: the joiner joins no pictographs
        "\xC3\x28xyz",           // a lead byte without its continuation
        "\xC0\x80xyz",           // overlong form of U+0000
        "\xED\xA0\x80xyz",       // a UTF-16 surrogate
        "FNu\xF0\x9F"}) {        // cut off inside a character
    EXPECT_THROW(fourCharCodeFromText(refused), std::invalid_argument) << refused;
  }
}

TEST(FourCharCodeToText, ReadsEachByteAsLatin1AndRoundTripsAscii) {
  EXPECT_EQ(fourCharCodeToText(0x7B666473), "{fds");
  EXPECT_EQ(fourCharCodeToText(0x46304DE9), "F0M\u00E9");
  EXPECT_EQ(fourCharCodeToText(0xFF008000), "\u00FF\0\u0080\0"s);
  for (const FourCharCode code : {0x464E756Du, 0u, 0x7F7F7F7Fu, 0x80414243u}) {
    EXPECT_EQ(fourCharCodeFromText(fourCharCodeToText(code)), code) << code;
  }
  EXPECT_EQ(fourCharCodeFromBytes("abc"), std::nullopt);
}

// The boundary rules, with cases from each kind of character that a simpler segmenter got wrong
// (prepended marks, spacing marks, extenders, joiners between non-pictographs).
TEST(GraphemeClusters, FollowTheUnicodeBoundaryRules) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"a\r\nb", 3},                         // CR LF is one character
      {"a\x01\u0301", 3},                    // controls stand alone
      {"\0a"s, 2},                           // U+0000 too
      {"\U0001F1E9\U0001F1EA\U0001F1EB", 2}, // a pair of regional indicators, then one
      {"\u0600 ", 1},                        // a prepended mark joins what follows, even a space
      {"\u0600\u0308", 1},                   // ... or a combining mark
      {"\u0600\r", 2},                       // ... but not a control
      {"\u0D4Ea", 1},                        // Malayalam dot reph, prepended
      {"\u0890a", 1},                        // Arabic pound mark above, prepended
      {"\u08E2a", 1},                        // Arabic disputed end of ayah, prepended
      {"\U000110BDa", 1},                    // Kaithi number sign, prepended
      {"\U000110CDa", 1},                    // Kaithi number sign above, prepended
      {"\U00011D46a", 1},                    // Masaram Gondi repha, prepended
      {"\u0E01\u0E33", 1},                   // Thai sara am is a spacing mark
      {"a\u0E33", 1},                        // ... after any base
      {"\u0E31\u0E33", 1},                   // ... and after a combining mark
      {"a\u0EB3", 1},                        // so is Lao am
      {"\uFF76\uFF9E", 1},                   // the halfwidth voiced sound mark extends its kana
      {"\u2713\u200D\u2713", 2}, // a joiner joins pictographs only, and a check mark is none
      {"\u00A9\u200D\u00A9", 1}, // the copyright sign is one
  };
  for (const auto& [text, clusters] : cases) {
    EXPECT_EQ(countGraphemeClusters(text), clusters) << text;
  }
  EXPECT_EQ(countGraphemeClusters("\xFF"), std::nullopt);
}

} // namespace
} // namespace ventaro
