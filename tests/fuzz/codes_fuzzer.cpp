// Fuzzes the small codecs: four-character codes to and from text, and the display-name rule
// over arbitrary names and sizes. The "fpe2" codec is checked exhaustively by its unit test.

#include "smc/four_char_code.h"
#include "tests/fuzz/fuzz_support.h"
#include "workload/gpu_display_name.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <glib.h>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

using ventaro::FourCharCode;
using ventaro::fuzz::check;

// Every byte shifted in from the right: the code of a text's last four bytes.
FourCharCode lastFourBytes(std::string_view text) {
  FourCharCode code = 0;
  for (const char byte : text.substr(text.size() - std::min<std::size_t>(text.size(), 4))) {
    code = (code << 8) | static_cast<unsigned char>(byte);
  }
  return code;
}

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

void codeToTextAndBack(FourCharCode code) {
  const std::string text = ventaro::fourCharCodeToText(code);
  check(text.size() >= 4 && text.size() <= 8, "a code's text has four to eight bytes");
  // A carriage return before a line feed is one user-perceived character, so such a text has
  // three characters and is refused; every other code comes back from its text.
  if (text.find("\r\n") != std::string::npos) {
    return;
  }
  const FourCharCode back = ventaro::fourCharCodeFromText(text);
  check(back == lastFourBytes(text), "a code read back from its text keeps the last four bytes");
  if (isAscii(text)) {
    check(back == code, "a code of bytes below 0x80 survives the round trip");
  }
}

void textToCode(std::string_view text) {
  try {
    const FourCharCode code = ventaro::fourCharCodeFromText(text);
    check(code == lastFourBytes(text), "a code holds the last four bytes of its text");
    check(text.size() >= 4, "four characters take four bytes or more");
    if (isAscii(text) && text.find("\r\n") == std::string_view::npos) {
      check(text.size() == 4, "four ASCII characters are four bytes");
    }
  } catch (const std::invalid_argument&) {
    if (isAscii(text) && text.find("\r\n") == std::string_view::npos) {
      check(text.size() != 4, "four ASCII characters are accepted");
    }
    return;
  }
  // The validator refuses every NUL; elsewhere it agrees on what valid UTF-8 is.
  if (text.find('\0') == std::string_view::npos) {
    check(g_utf8_validate_len(text.data(), text.size(), nullptr),
          "text that is not UTF-8 is refused");
  }
}

void displayName(std::string_view name, std::uint64_t size) {
  const std::string shown = ventaro::displayNameFor(name, size);
  // The size's own digits are for the unit tests; here only its form is checked.
  check(shown.ends_with(" MB") || shown.ends_with(" GB"), "the name ends with MB or GB");
  const std::string_view cleaned =
      std::string_view(shown).substr(0, shown.rfind(' ', shown.size() - 4));
  check(cleaned.size() <= name.size(), "cleaning a name never lengthens it");
  const bool marked = name.find("(R)") != std::string_view::npos ||
                      name.find("(TM)") != std::string_view::npos ||
                      name.find("AMD ") != std::string_view::npos;
  if (!marked) {
    check(cleaned == name, "a name without marks is shown as it is");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  codeToTextAndBack(input.ConsumeIntegral<FourCharCode>());
  const auto gpuMemory = input.ConsumeIntegral<std::uint64_t>();
  displayName(input.ConsumeRandomLengthString(256), gpuMemory);
  textToCode(input.ConsumeRemainingBytesAsString());
  return 0;
}
