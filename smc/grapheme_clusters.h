#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace ventaro {

// The number of user-perceived characters (extended grapheme clusters) of a UTF-8 text, or
// nothing when the text is not valid UTF-8. U+0000 is a valid character of its own.
//
// The segmentation follows the Unicode boundary rules for CR LF, controls, Hangul syllables,
// combining and spacing marks, zero-width joiner sequences of pictographs and regional
// indicator pairs. Two simplifications: prepended concatenation marks count as controls, and
// the pictograph property is taken from its blocks rather than code point by code point.
std::optional<std::size_t> countGraphemeClusters(std::string_view utf8);

} // namespace ventaro
