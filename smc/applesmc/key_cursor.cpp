#include "smc/applesmc/key_cursor.h"

#include <charconv>
#include <mutex>
#include <utility>

namespace ventaro::applesmc {
namespace {

std::mutex& cursorMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string_view withoutNewline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<std::uint32_t> parseDecimal(std::string_view text) {
  text = withoutNewline(text);
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

} // namespace

KeyCursor::KeyCursor(FileAccess& files, std::string deviceDirectory)
    : files_(files), deviceDirectory_(std::move(deviceDirectory)) {}

Answered<std::uint32_t> KeyCursor::keyCount() {
  const std::lock_guard lock(cursorMutex());
  return countLocked();
}

Answered<FourCharCode> KeyCursor::keyAtIndex(std::uint32_t index) {
  const std::lock_guard lock(cursorMutex());
  return nameAt(index);
}

Answered<KeyCursor::KeyData> KeyCursor::readValue(FourCharCode code) {
  return readSelected(code, Part::value);
}

Answered<KeyCursor::KeyData> KeyCursor::readInfo(FourCharCode code) {
  return readSelected(code, Part::info);
}

Answer KeyCursor::findKey(FourCharCode code) {
  const std::lock_guard lock(cursorMutex());
  return indexOf(code).answer;
}

Answered<KeyCursor::KeyData> KeyCursor::readSelected(FourCharCode code, Part part) {
  const std::lock_guard lock(cursorMutex());
  const auto index = indexOf(code);
  if (!index.answer.succeeded()) {
    return {index.answer};
  }
  if (const Answer selected = select(index.value); !selected.succeeded()) {
    return {selected};
  }
  auto data = readPart(part);
  if (!data.answer.succeeded()) {
    return data;
  }
  const auto nameAfter = readCode("key_at_index_name");
  if (!nameAfter.answer.succeeded()) {
    return {nameAfter.answer};
  }
  if (nameAfter.value != code) {
    return {failedCall(kIOReturnBusy)};
  }
  return data;
}

Answered<std::uint32_t> KeyCursor::countLocked() {
  if (count_) {
    return {kAnswerSuccess, *count_};
  }
  const ReadResult file = files_.readFile(joinPath(deviceDirectory_, "key_count"));
  if (file.error != 0) {
    return {answerForErrno(file.error)};
  }
  const auto count = parseDecimal(file.data);
  if (!count) {
    return {failedCall(kIOReturnError)};
  }
  count_ = *count;
  return {kAnswerSuccess, *count};
}

Answered<std::uint32_t> KeyCursor::indexOf(FourCharCode code) {
  const auto count = countLocked();
  if (!count.answer.succeeded()) {
    return count;
  }
  // The first index whose code is not below `code`.
  std::uint32_t low = 0;
  std::uint32_t high = count.value;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    const auto name = nameAt(middle);
    if (!name.answer.succeeded()) {
      return {name.answer};
    }
    if (name.value < code) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == count.value) {
    return {kAnswerKeyNotFound};
  }
  const auto name = nameAt(low);
  if (!name.answer.succeeded()) {
    return {name.answer};
  }
  return name.value == code ? Answered<std::uint32_t>{kAnswerSuccess, low}
                            : Answered<std::uint32_t>{kAnswerKeyNotFound};
}

Answered<FourCharCode> KeyCursor::nameAt(std::uint32_t index) {
  if (const auto known = names_.find(index); known != names_.end()) {
    return {kAnswerSuccess, known->second};
  }
  if (const Answer selected = select(index); !selected.succeeded()) {
    return {selected};
  }
  const auto name = readCode("key_at_index_name");
  if (name.answer.succeeded()) {
    names_[index] = name.value;
  }
  return name;
}

Answer KeyCursor::select(std::uint32_t index) {
  return answerForErrno(
      files_.writeFile(joinPath(deviceDirectory_, "key_at_index"), std::to_string(index)));
}

// A name or type: the kernel prints the four characters up to the first zero byte.
Answered<FourCharCode> KeyCursor::readCode(std::string_view attribute) {
  const ReadResult file = files_.readFile(joinPath(deviceDirectory_, attribute));
  if (file.error != 0) {
    return {answerForErrno(file.error)};
  }
  std::string bytes(withoutNewline(file.data));
  if (bytes.size() > 4) {
    return {failedCall(kIOReturnError)};
  }
  bytes.resize(4, '\0');
  return {kAnswerSuccess, *fourCharCodeFromBytes(bytes)};
}

Answered<KeyCursor::KeyData> KeyCursor::readPart(Part part) {
  Answered<KeyData> result{kAnswerSuccess};
  if (part == Part::value) {
    const ReadResult file = files_.readFile(joinPath(deviceDirectory_, "key_at_index_data"));
    result.answer = answerForErrno(file.error);
    result.value.bytes = file.data;
    return result;
  }
  const auto type = readCode("key_at_index_type");
  if (!type.answer.succeeded()) {
    return {type.answer};
  }
  const ReadResult length = files_.readFile(joinPath(deviceDirectory_, "key_at_index_data_length"));
  if (length.error != 0) {
    return {answerForErrno(length.error)};
  }
  const auto parsed = parseDecimal(length.data);
  if (!parsed) {
    return {failedCall(kIOReturnError)};
  }
  result.value.type = type.value;
  result.value.length = *parsed;
  return result;
}

} // namespace ventaro::applesmc
