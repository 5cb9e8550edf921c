#include "platform/display_text.h"

#include <algorithm>
#include <glib.h>

namespace ventaro {

std::string displayText(std::string_view text) {
  // A NUL is a control character like the others; GLib would otherwise end the text there.
  std::string withoutNul(text);
  std::replace(withoutNul.begin(), withoutNul.end(), '\0', ' ');
  gchar* valid = g_utf8_make_valid(withoutNul.data(), static_cast<gssize>(withoutNul.size()));
  std::string shown;
  const gchar* p = valid;
  while (*p != '\0') {
    const gchar* next = g_utf8_next_char(p);
    const gunichar c = g_utf8_get_char(p);
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      shown += ' ';
    } else {
      shown.append(p, next);
    }
    p = next;
  }
  g_free(valid);
  return shown;
}

} // namespace ventaro
