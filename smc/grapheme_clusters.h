#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace ventaro {

// The number of user-perceived characters (extended grapheme clusters, as ICU's character break
// iterator finds them) of a UTF-8 text, or nothing when the text is not valid UTF-8. U+0000 is a
// valid character of its own. Throws std::runtime_error only when ICU cannot build its iterator
// (its data missing, or out of memory).
std::optional<std::size_t> countGraphemeClusters(std::string_view utf8);

} // namespace ventaro
