#include "smc/grapheme_clusters.h"

#include <climits>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unicode/ubrk.h>
#include <unicode/ustring.h>
#include <vector>

namespace ventaro {
namespace {

struct BreakIteratorCloser {
  void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};

// The text as UTF-16, or nothing for ill-formed UTF-8 (stray or missing continuation bytes,
// overlong forms, surrogates, values beyond U+10FFFF).
std::optional<std::vector<UChar>> toUtf16(std::string_view utf8) {
  if (utf8.size() > static_cast<std::size_t>(INT32_MAX / 2)) {
    return std::nullopt;
  }
  const auto length = static_cast<std::int32_t>(utf8.size());
  std::vector<UChar> utf16(utf8.size() + 1);
  std::int32_t written = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(utf16.data(), static_cast<std::int32_t>(utf16.size()), &written, utf8.data(),
                length, &status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  utf16.resize(static_cast<std::size_t>(written));
  return utf16;
}

} // namespace

std::optional<std::size_t> countGraphemeClusters(std::string_view utf8) {
  const auto utf16 = toUtf16(utf8);
  if (!utf16) {
    return std::nullopt;
  }
  if (utf16->empty()) {
    return 0;
  }
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator(ubrk_open(
      UBRK_CHARACTER, "", utf16->data(), static_cast<std::int32_t>(utf16->size()), &status));
  if (U_FAILURE(status) || !iterator) {
    // Only missing ICU data or memory can fail here; neither is a fact about the text.
    throw std::runtime_error(std::string("grapheme clusters: ") + u_errorName(status));
  }
  std::size_t clusters = 0;
  while (ubrk_next(iterator.get()) != UBRK_DONE) {
    ++clusters;
  }
  return clusters;
}

} // namespace ventaro
