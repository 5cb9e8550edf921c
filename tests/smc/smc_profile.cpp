#include "tests/smc/smc_profile.h"

#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

namespace ventaro::emulated {
namespace {

constexpr FourCharCode kKeyCountKey = fourCharCodeLiteral("#KEY");

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::vector<std::string> tokenize(std::string_view line, std::size_t lineNumber) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    if (isBlank(line[i])) {
      ++i;
    } else if (line[i] == '#') {
      break;
    } else if (line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) {
        throw SMCProfileError(lineNumber, "unterminated quote");
      }
      tokens.emplace_back(line.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      const std::size_t start = i;
      while (i < line.size() && !isBlank(line[i]) && line[i] != '"') {
        ++i;
      }
      tokens.emplace_back(line.substr(start, i - start));
    }
  }
  return tokens;
}

FourCharCode codeOf(const std::string& text, std::size_t lineNumber) {
  try {
    return fourCharCodeFromText(text);
  } catch (const std::invalid_argument&) {
    throw SMCProfileError(lineNumber, "\"" + text + "\" is not a four-character code");
  }
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

std::vector<std::uint8_t> bytesOf(const std::vector<std::string>& tokens, std::size_t first,
                                  std::size_t lineNumber) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t t = first; t < tokens.size(); ++t) {
    const std::string& token = tokens[t];
    if (token.size() % 2 != 0) {
      throw SMCProfileError(lineNumber, "odd number of hex digits in \"" + token + "\"");
    }
    for (std::size_t i = 0; i < token.size(); i += 2) {
      const int high = hexDigit(token[i]);
      const int low = hexDigit(token[i + 1]);
      if (high < 0 || low < 0) {
        throw SMCProfileError(lineNumber, "\"" + token + "\" is not hex");
      }
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
  }
  return bytes;
}

EmulatedKey keyOf(const std::vector<std::string>& tokens, std::size_t lineNumber) {
  if (tokens.size() < 3) {
    throw SMCProfileError(lineNumber, "expected: code type size bytes");
  }
  EmulatedKey key;
  key.code = codeOf(tokens[0], lineNumber);
  key.info.type = codeOf(tokens[1], lineNumber);
  const std::string& size = tokens[2];
  const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), key.info.size);
  if (error != std::errc{} || end != size.data() + size.size() || key.info.size > 32) {
    throw SMCProfileError(lineNumber, "size \"" + size + "\" is not a number from 0 to 32");
  }
  key.value = bytesOf(tokens, 3, lineNumber);
  if (key.value.size() != key.info.size) {
    throw SMCProfileError(lineNumber, "size " + size + " but " + std::to_string(key.value.size()) +
                                          " value bytes");
  }
  return key;
}

void checkKeyCount(const std::vector<EmulatedKey>& keys, std::size_t keyCountLine) {
  for (const EmulatedKey& key : keys) {
    if (key.code != kKeyCountKey) {
      continue;
    }
    std::uint64_t count = 0;
    for (const std::uint8_t byte : key.value) {
      count = (count << 8) | byte;
    }
    if (key.value.size() != 4 || count != keys.size()) {
      throw SMCProfileError(keyCountLine, "#KEY must be 4 bytes holding the number of keys, " +
                                              std::to_string(keys.size()));
    }
  }
}

} // namespace

SMCProfileError::SMCProfileError(std::size_t line, const std::string& message)
    : std::runtime_error("SMC profile line " + std::to_string(line) + ": " + message), line_(line) {
}

std::vector<EmulatedKey> parseSMCProfile(std::string_view text) {
  std::vector<EmulatedKey> keys;
  std::set<FourCharCode> seen;
  std::size_t keyCountLine = 0;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    ++lineNumber;
    const auto tokens = tokenize(text.substr(start, end - start), lineNumber);
    start = end + 1;
    if (tokens.empty()) {
      continue;
    }
    EmulatedKey key = keyOf(tokens, lineNumber);
    if (!seen.insert(key.code).second) {
      throw SMCProfileError(lineNumber, "key " + tokens[0] + " listed twice");
    }
    if (key.code == kKeyCountKey) {
      keyCountLine = lineNumber;
    }
    keys.push_back(std::move(key));
  }
  checkKeyCount(keys, keyCountLine);
  return keys;
}

std::vector<EmulatedKey> loadSMCProfile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) {
    throw SMCProfileError(0, "cannot read " + file.string());
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parseSMCProfile(text.str());
}

} // namespace ventaro::emulated
