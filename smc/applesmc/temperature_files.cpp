#include "smc/applesmc/temperature_files.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <set>

namespace ventaro::applesmc {
namespace {

constexpr std::string_view kPrefix = "temp";
constexpr std::string_view kLabelSuffix = "_label";
constexpr std::string_view kInputSuffix = "_input";

// The kernel's range: a signed 16-bit value of 1/256 degrees is -128 to just under +128 degrees.
constexpr std::int64_t kLowestMillidegrees = -128000;
constexpr std::int64_t kHighestMillidegrees = 127999;

std::string_view withoutNewline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  return text;
}

// N of "temp<N>_label", N a decimal number from 1 without leading zeros.
std::optional<unsigned> labelNumber(std::string_view name) {
  if (!name.starts_with(kPrefix) || !name.ends_with(kLabelSuffix)) {
    return std::nullopt;
  }
  const std::string_view digits =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kLabelSuffix.size());
  unsigned number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (digits.empty() || digits.front() == '0' || error != std::errc{} ||
      end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return number;
}

} // namespace

bool isTemperatureKey(FourCharCode code) {
  return (code >> 24) == 'T';
}

std::vector<TemperatureFile> listTemperatureFiles(FileAccess& files, const std::string& directory) {
  const ListResult listing = files.listDirectory(directory);
  const std::set<std::string> names(listing.names.begin(), listing.names.end());
  std::map<unsigned, std::string> numbered; // the listing is sorted as text, the kernel by N
  for (const std::string& name : listing.names) {
    if (const auto number = labelNumber(name)) {
      numbered.emplace(*number, name);
    }
  }
  std::vector<TemperatureFile> found;
  std::set<FourCharCode> seen;
  for (const auto& [number, label] : numbered) {
    if (found.size() == kMostTemperatureFiles) {
      break;
    }
    const std::string input =
        std::string(kPrefix) + std::to_string(number) + std::string(kInputSuffix);
    if (!names.contains(input)) {
      continue;
    }
    const ReadResult text = files.readFile(joinPath(directory, label));
    const auto code = fourCharCodeFromBytes(withoutNewline(text.data));
    if (text.error != 0 || !code || !isTemperatureKey(*code) || !seen.insert(*code).second) {
      continue;
    }
    found.push_back({*code, joinPath(directory, input)});
  }
  return found;
}

std::optional<std::array<std::uint8_t, 2>> sp78FromMillidegrees(std::string_view text) {
  text = withoutNewline(text);
  std::int64_t millidegrees = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), millidegrees);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
      millidegrees < kLowestMillidegrees || millidegrees > kHighestMillidegrees) {
    return std::nullopt;
  }
  // 256/1000 of a millidegree is 32/125; rounded down, as the kernel's shift rounds.
  const std::int64_t scaled = millidegrees * 32;
  std::int64_t raw = scaled / 125;
  if (scaled % 125 != 0 && scaled < 0) {
    --raw;
  }
  const auto bits = static_cast<std::uint16_t>(raw);
  return std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(bits >> 8),
                                     static_cast<std::uint8_t>(bits & 0xFF)};
}

Answered<SMCBytes> readTemperatureFile(FileAccess& files, const TemperatureFile& file) {
  const ReadResult input = files.readFile(file.inputPath);
  if (input.error != 0) {
    return {input.error == ENOENT ? kAnswerKeyNotFound : answerForErrno(input.error)};
  }
  const auto bytes = sp78FromMillidegrees(input.data);
  if (!bytes) {
    return {failedCall(kIOReturnError)};
  }
  Answered<SMCBytes> answered{kAnswerSuccess};
  std::copy(bytes->begin(), bytes->end(), answered.value.begin());
  return answered;
}

} // namespace ventaro::applesmc
