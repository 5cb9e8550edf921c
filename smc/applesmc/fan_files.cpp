#include "smc/applesmc/fan_files.h"

#include "smc/fpe2.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <set>

namespace ventaro::applesmc {
namespace {

constexpr std::size_t kLabelOffset = 4;
constexpr std::size_t kLabelLength = 12;
constexpr std::size_t kMaxFanCount = 255; // "FNum" is one byte

std::string fanFile(const std::string& fanDirectory, int index, std::string_view attribute) {
  return joinPath(fanDirectory, "fan" + std::to_string(index + 1) + "_" + std::string(attribute));
}

// A fan file that does not exist stands for a fan key that does not exist.
Answer answerForFanErrno(int error) {
  return error == ENOENT ? kAnswerKeyNotFound : answerForErrno(error);
}

std::string_view withoutNewline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  return text;
}

Answered<SMCBytes> fanCount(FileAccess& files, const std::string& fanDirectory) {
  const ListResult listing = files.listDirectory(fanDirectory);
  if (listing.error != 0) {
    return {answerForErrno(listing.error)};
  }
  const std::set<std::string> names(listing.names.begin(), listing.names.end());
  std::size_t count = 0;
  while (count < kMaxFanCount && names.contains("fan" + std::to_string(count + 1) + "_input")) {
    ++count;
  }
  Answered<SMCBytes> answered{kAnswerSuccess};
  answered.value[0] = static_cast<std::uint8_t>(count);
  return answered;
}

Answered<SMCBytes> fanLabel(FileAccess& files, const std::string& fanDirectory, int index) {
  const ReadResult label = files.readFile(fanFile(fanDirectory, index, "label"));
  if (label.error != 0) {
    return {answerForFanErrno(label.error)};
  }
  // The kernel prints bytes 4 to 15 up to the first zero byte, then a newline. The rest is
  // padded with blanks, as the SMC pads its own names, so that the name decodes as printed.
  std::string_view text = withoutNewline(label.data);
  text = text.substr(0, std::min(text.size(), kLabelLength));
  Answered<SMCBytes> answered{kAnswerSuccess};
  const auto name = answered.value.begin() + kLabelOffset;
  std::fill(name, name + kLabelLength, ' ');
  std::copy(text.begin(), text.end(), name);
  return answered;
}

Answered<SMCBytes> fanSpeed(FileAccess& files, const std::string& fanDirectory, int index,
                            std::string_view attribute) {
  const ReadResult speedFile = files.readFile(fanFile(fanDirectory, index, attribute));
  if (speedFile.error != 0) {
    return {answerForFanErrno(speedFile.error)};
  }
  const std::string_view text = withoutNewline(speedFile.data);
  std::int64_t speed = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), speed);
  if (error != std::errc{} || end != text.data() + text.size() || speed < 0 || speed > kFPE2Max) {
    return {failedCall(kIOReturnError)};
  }
  const auto encoded = encodeFPE2(speed);
  Answered<SMCBytes> answered{kAnswerSuccess};
  std::copy(encoded.begin(), encoded.end(), answered.value.begin());
  return answered;
}

} // namespace

std::optional<FanKey> fanKeyOf(FourCharCode code) {
  if (code == fourCharCodeLiteral("FNum")) {
    return FanKey{FanKey::Kind::count, 0};
  }
  const std::string text = fourCharCodeBytes(code);
  if (text[0] != 'F' || text[1] < '0' || text[1] > '9') {
    return std::nullopt;
  }
  const int index = text[1] - '0';
  const std::string_view suffix = std::string_view(text).substr(2);
  if (suffix == "ID") {
    return FanKey{FanKey::Kind::identification, index};
  }
  if (suffix == "Mn") {
    return FanKey{FanKey::Kind::minimum, index};
  }
  if (suffix == "Mx") {
    return FanKey{FanKey::Kind::maximum, index};
  }
  if (suffix == "Ac") {
    return FanKey{FanKey::Kind::actual, index};
  }
  return std::nullopt;
}

Answered<SMCBytes> readFanKey(FileAccess& files, const std::string& fanDirectory,
                              const FanKey& key) {
  switch (key.kind) {
  case FanKey::Kind::count:
    return fanCount(files, fanDirectory);
  case FanKey::Kind::identification:
    return fanLabel(files, fanDirectory, key.index);
  case FanKey::Kind::minimum:
    return fanSpeed(files, fanDirectory, key.index, "min");
  case FanKey::Kind::maximum:
    return fanSpeed(files, fanDirectory, key.index, "max");
  case FanKey::Kind::actual:
    return fanSpeed(files, fanDirectory, key.index, "input");
  }
  return {failedCall(kIOReturnBadArgument)};
}

Answer writeFanMinimum(FileAccess& files, const std::string& fanDirectory, int index,
                       std::uint64_t dataSize, const SMCBytes& value) {
  if (dataSize != DataTypes::FPE2.size) {
    return failedCall(kIOReturnBadArgument);
  }
  const std::int64_t speed = decodeFPE2(value[0], value[1]);
  const int error = files.writeFile(fanFile(fanDirectory, index, "min"), std::to_string(speed));
  // The kernel refuses a speed it cannot take with EINVAL; the key itself exists.
  return error == EINVAL ? failedCall(kIOReturnBadArgument) : answerForFanErrno(error);
}

} // namespace ventaro::applesmc
