#include "smc/fans.h"

#include "smc/data_type.h"
#include "smc/fpe2.h"
#include "smc/smc_access.h"

#include <stdexcept>
#include <utility>

namespace ventaro::SMCAccess {
namespace {

constexpr FourCharCode kFanCountKey = fourCharCodeLiteral("FNum");
constexpr std::int64_t kLastFanIndex = 9;
// Where the name lies in the identification record.
constexpr std::size_t kNameFirst = 4;
constexpr std::size_t kNameEnd = 16;

FourCharCode fanKey(std::int64_t index, std::string_view suffix) {
  if (index < 0 || index > kLastFanIndex) {
    throw SMCError::unknown(kIOReturnBadArgument, 0);
  }
  std::string text{'F', static_cast<char>('0' + index)};
  text.append(suffix);
  try {
    return fourCharCodeFromText(text);
  } catch (const std::invalid_argument&) {
    throw SMCError::unknown(kIOReturnBadArgument, 0);
  }
}

// The white space that names are trimmed of: tab and the space separators of the byte range.
bool isNameSpace(std::uint8_t byte) {
  return byte == 0x09 || byte == 0x20 || byte == 0xA0;
}

std::string latin1ToUtf8(const std::uint8_t* first, const std::uint8_t* last) {
  std::string text;
  for (; first != last; ++first) {
    if (*first < 0x80) {
      text.push_back(static_cast<char>(*first));
    } else {
      text.push_back(static_cast<char>(0xC0 | (*first >> 6)));
      text.push_back(static_cast<char>(0x80 | (*first & 0x3F)));
    }
  }
  return text;
}

} // namespace

std::int64_t readFanCount() {
  return readKey(kFanCountKey, DataTypes::UInt8.size)[0];
}

std::string readFanName(std::int64_t index) {
  const SMCBytes bytes = readKey(fanKey(index, "ID"), DataTypes::FDS.size);
  const std::uint8_t* first = bytes.data() + kNameFirst;
  const std::uint8_t* last = bytes.data() + kNameEnd;
  while (first != last && isNameSpace(*first)) {
    ++first;
  }
  while (last != first && isNameSpace(*(last - 1))) {
    --last;
  }
  return latin1ToUtf8(first, last);
}

std::int64_t readFanSpeed(std::int64_t index, std::string_view suffix) {
  const SMCBytes bytes = readKey(fanKey(index, suffix), DataTypes::FPE2.size);
  return decodeFPE2(bytes[0], bytes[1]);
}

std::int64_t readFanMinimum(std::int64_t index) {
  return readFanSpeed(index, "Mn");
}

std::int64_t readFanMaximum(std::int64_t index) {
  return readFanSpeed(index, "Mx");
}

std::int64_t readFanActual(std::int64_t index) {
  return readFanSpeed(index, "Ac");
}

Fan readFan(std::int64_t index) {
  std::string name = readFanName(index);
  const std::int64_t minimum = readFanMinimum(index);
  const std::int64_t maximum = readFanMaximum(index);
  return Fan{index, std::move(name), minimum, maximum};
}

std::vector<Fan> readAllFans() {
  const std::int64_t count = readFanCount();
  std::vector<Fan> fans;
  fans.reserve(static_cast<std::size_t>(count));
  for (std::int64_t index = 0; index < count; ++index) {
    fans.push_back(readFan(index));
  }
  return fans;
}

void writeFanMinimum(std::int64_t index, std::int64_t speed) {
  const FourCharCode key = fanKey(index, "Mn");
  const std::int64_t maximum = readFanMaximum(index);
  if (speed < 1 || speed > maximum) {
    throw SMCError::unsafeFanSpeed();
  }
  SMCBytes value{};
  const auto encoded = encodeFPE2(speed);
  value[0] = encoded[0];
  value[1] = encoded[1];
  writeKey(key, DataTypes::FPE2.size, value);
}

} // namespace ventaro::SMCAccess
