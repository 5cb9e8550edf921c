#include "smc/grapheme_clusters.h"

#include <algorithm>
#include <array>
#include <glib.h>
#include <initializer_list>
#include <iterator>
#include <vector>

namespace ventaro {
namespace {

enum class BreakClass {
  other,
  cr,
  lf,
  control,
  extend,
  zeroWidthJoiner,
  regionalIndicator,
  spacingMark,
  hangulL,
  hangulV,
  hangulT,
  hangulLV,
  hangulLVT,
  pictographic,
};

struct CodePointRange {
  gunichar first;
  gunichar last;
};

// Pictographs that join into emoji sequences, by block.
constexpr auto kPictographicRanges = std::to_array<CodePointRange>({
    {0x00A9, 0x00A9},   {0x00AE, 0x00AE},   {0x203C, 0x203C},   {0x2049, 0x2049},
    {0x2122, 0x2122},   {0x2139, 0x2139},   {0x2194, 0x2199},   {0x21A9, 0x21AA},
    {0x231A, 0x231B},   {0x2328, 0x2328},   {0x2388, 0x2388},   {0x23CF, 0x23CF},
    {0x23E9, 0x23F3},   {0x23F8, 0x23FA},   {0x24C2, 0x24C2},   {0x25AA, 0x25AB},
    {0x25B6, 0x25B6},   {0x25C0, 0x25C0},   {0x25FB, 0x25FE},   {0x2600, 0x27BF},
    {0x2934, 0x2935},   {0x2B05, 0x2B07},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},
    {0x2B55, 0x2B55},   {0x3030, 0x3030},   {0x303D, 0x303D},   {0x3297, 0x3297},
    {0x3299, 0x3299},   {0x1F000, 0x1F0FF}, {0x1F10D, 0x1F10F}, {0x1F12F, 0x1F12F},
    {0x1F16C, 0x1F171}, {0x1F17E, 0x1F17F}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A},
    {0x1F1AD, 0x1F1E5}, {0x1F201, 0x1F20F}, {0x1F21A, 0x1F21A}, {0x1F22F, 0x1F22F},
    {0x1F232, 0x1F23A}, {0x1F23C, 0x1F23F}, {0x1F249, 0x1F3FA}, {0x1F400, 0x1F53D},
    {0x1F546, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F774, 0x1F77F}, {0x1F7D5, 0x1F7FF},
    {0x1F80C, 0x1F80F}, {0x1F848, 0x1F84F}, {0x1F85A, 0x1F85F}, {0x1F888, 0x1F88F},
    {0x1F8AE, 0x1F8FF}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1FAFF},
    {0x1FC00, 0x1FFFD},
});

bool isPictographic(gunichar c) {
  const auto* range =
      std::upper_bound(kPictographicRanges.begin(), kPictographicRanges.end(), c,
                       [](gunichar value, const CodePointRange& r) { return value < r.first; });
  return range != kPictographicRanges.begin() && c <= std::prev(range)->last;
}

bool inRange(gunichar c, gunichar first, gunichar last) {
  return c >= first && c <= last;
}

std::optional<BreakClass> hangulClass(gunichar c) {
  if (inRange(c, 0x1100, 0x115F) || inRange(c, 0xA960, 0xA97C)) {
    return BreakClass::hangulL;
  }
  if (inRange(c, 0x1160, 0x11A7) || inRange(c, 0xD7B0, 0xD7C6)) {
    return BreakClass::hangulV;
  }
  if (inRange(c, 0x11A8, 0x11FF) || inRange(c, 0xD7CB, 0xD7FB)) {
    return BreakClass::hangulT;
  }
  if (inRange(c, 0xAC00, 0xD7A3)) {
    // Precomposed syllables: every 28th one has no trailing consonant.
    return (c - 0xAC00) % 28 == 0 ? BreakClass::hangulLV : BreakClass::hangulLVT;
  }
  return std::nullopt;
}

BreakClass breakClassOf(gunichar c) {
  switch (c) {
  case '\r':
    return BreakClass::cr;
  case '\n':
    return BreakClass::lf;
  case 0x200D:
    return BreakClass::zeroWidthJoiner;
  case 0x200C:
    return BreakClass::extend;
  default:
    break;
  }
  if (inRange(c, 0x1F1E6, 0x1F1FF)) {
    return BreakClass::regionalIndicator;
  }
  // Skin-tone modifiers and emoji tag characters extend what precedes them.
  if (inRange(c, 0x1F3FB, 0x1F3FF) || inRange(c, 0xE0020, 0xE007F)) {
    return BreakClass::extend;
  }
  if (const auto hangul = hangulClass(c)) {
    return *hangul;
  }
  if (isPictographic(c)) {
    return BreakClass::pictographic;
  }
  switch (g_unichar_type(c)) {
  case G_UNICODE_NON_SPACING_MARK:
  case G_UNICODE_ENCLOSING_MARK:
    return BreakClass::extend;
  case G_UNICODE_SPACING_MARK:
    return BreakClass::spacingMark;
  case G_UNICODE_CONTROL:
  case G_UNICODE_FORMAT:
  case G_UNICODE_LINE_SEPARATOR:
  case G_UNICODE_PARAGRAPH_SEPARATOR:
    return BreakClass::control;
  default:
    return BreakClass::other;
  }
}

bool isAnyOf(BreakClass value, std::initializer_list<BreakClass> classes) {
  return std::find(classes.begin(), classes.end(), value) != classes.end();
}

// What the characters before a candidate boundary say about it, beyond the one just before.
struct Context {
  bool oddRegionalIndicatorRun = false; // an unpaired regional indicator is just before
  bool pictographJoined = false;        // pictograph, extenders, then a joiner just before
};

bool isBoundary(BreakClass before, BreakClass after, const Context& context) {
  using enum BreakClass;
  if (before == cr && after == lf) {
    return false;
  }
  if (isAnyOf(before, {control, cr, lf}) || isAnyOf(after, {control, cr, lf})) {
    return true;
  }
  if (before == hangulL && isAnyOf(after, {hangulL, hangulV, hangulLV, hangulLVT})) {
    return false;
  }
  if (isAnyOf(before, {hangulLV, hangulV}) && isAnyOf(after, {hangulV, hangulT})) {
    return false;
  }
  if (isAnyOf(before, {hangulLVT, hangulT}) && after == hangulT) {
    return false;
  }
  if (isAnyOf(after, {extend, zeroWidthJoiner, spacingMark})) {
    return false;
  }
  if (before == zeroWidthJoiner && after == pictographic && context.pictographJoined) {
    return false;
  }
  if (before == regionalIndicator && after == regionalIndicator) {
    return !context.oddRegionalIndicatorRun;
  }
  return true;
}

// GLib refuses U+0000 inside a validated span, so the text is validated between zero bytes.
bool isValidUtf8(std::string_view text) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\0', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    if (!g_utf8_validate_len(text.data() + start, end - start, nullptr)) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

std::vector<gunichar> decode(std::string_view text) {
  std::vector<gunichar> codePoints;
  const char* position = text.data();
  const char* const end = text.data() + text.size();
  while (position < end) {
    codePoints.push_back(g_utf8_get_char(position));
    position = g_utf8_next_char(position);
  }
  return codePoints;
}

} // namespace

std::optional<std::size_t> countGraphemeClusters(std::string_view utf8) {
  if (!isValidUtf8(utf8)) {
    return std::nullopt;
  }
  std::size_t clusters = 0;
  std::optional<BreakClass> previous;
  std::size_t regionalIndicatorRun = 0;
  bool pictographRun = false; // a pictograph followed only by extenders ends just before
  Context context;
  for (const gunichar c : decode(utf8)) {
    const BreakClass current = breakClassOf(c);
    if (!previous || isBoundary(*previous, current, context)) {
      ++clusters;
    }
    regionalIndicatorRun = current == BreakClass::regionalIndicator ? regionalIndicatorRun + 1 : 0;
    context.oddRegionalIndicatorRun = regionalIndicatorRun % 2 == 1;
    context.pictographJoined = current == BreakClass::zeroWidthJoiner && pictographRun;
    pictographRun =
        current == BreakClass::pictographic || (pictographRun && current == BreakClass::extend);
    previous = current;
  }
  return clusters;
}

} // namespace ventaro
