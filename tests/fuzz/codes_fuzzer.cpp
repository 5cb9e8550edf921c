// Fuzzes the small codecs: four-character codes to and from text, and the display-name rule,
// over arbitrary codes, names and sizes. Their unit tests hold the exact cases; here every input
// meets two references that no list of cases spans: GLib's UTF-8 validator for which texts are
// refused, and the text's last four bytes for the code it reads as. The "fpe2" codec is checked
// exhaustively by its unit test.

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

void textToCode(std::string_view text) {
  FourCharCode code = 0;
  try {
    code = ventaro::fourCharCodeFromText(text);
  } catch (const std::invalid_argument&) {
    return; // not four characters of UTF-8
  }
  check(code == lastFourBytes(text), "a code holds the last four bytes of its text");
  // The validator refuses every NUL; elsewhere it agrees on what valid UTF-8 is.
  if (text.find('\0') == std::string_view::npos) {
    check(g_utf8_validate_len(text.data(), text.size(), nullptr),
          "text that is not UTF-8 is refused");
  }
}

void codeToTextAndBack(FourCharCode code) {
  const std::string text = ventaro::fourCharCodeToText(code);
  // A carriage return before a line feed is one character, so such a text has three and is
  // refused; every other code's text reads back (as its last four bytes).
  if (text.find("\r\n") == std::string::npos) {
    const FourCharCode back = ventaro::fourCharCodeFromText(text);
    check(back == lastFourBytes(text), "a code read back from its text keeps the last four bytes");
    const bool ascii = std::all_of(text.begin(), text.end(), [](char byte) {
      return static_cast<unsigned char>(byte) < 0x80;
    });
    check(!ascii || back == code, "a code of bytes below 0x80 survives the round trip");
  }
}

void displayName(std::string_view name, std::uint64_t size) {
  const std::string shown = ventaro::displayNameFor(name, size);
  check(shown.ends_with(" MB") || shown.ends_with(" GB"), "the name ends with MB or GB");
  // What the marks become is for the unit tests; any other name is shown as it is.
  const bool marked = name.find("(R)") != std::string_view::npos ||
                      name.find("(TM)") != std::string_view::npos ||
                      name.find("AMD ") != std::string_view::npos;
  check(marked || shown.starts_with(std::string(name) + ' '),
        "a name without marks is shown as it is");
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
