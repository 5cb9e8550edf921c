#pragma once

// Text from outside (a device name, a command-line argument) made safe to show: valid UTF-8,
// and no control character that a terminal or a notification server would act on.

#include <string>
#include <string_view>

namespace ventaro {

/// `text` as valid UTF-8, each invalid byte sequence replaced by U+FFFD, and every C0 and C1
/// control character (U+0000–U+001F, U+007F–U+009F) replaced by a blank.
std::string displayText(std::string_view text);

} // namespace ventaro
