#pragma once

// A sysfs tree in memory for the applesmc driver, built from the fuzz input: layout, key cursor
// and fan file contents (counts, names, types, lengths, value bytes, speeds, labels), a failing
// path, root or not. With it, what a well-formed key cursor promises about the driver's answers.

#include "smc/applesmc/applesmc_driver.h"
#include "smc/smc_access.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/smc/in_memory_file_access.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventaro::fuzz {

using applesmc::CursorKey;
using applesmc::joinPath;

// One errno of each answer the driver maps them to.
inline constexpr int kErrnos[] = {EACCES, EIO, EBUSY, ENOENT, ENOMEM, EINVAL, EISDIR};

struct Tree {
  std::shared_ptr<applesmc::InMemoryFileAccess> files =
      std::make_shared<applesmc::InMemoryFileAccess>();
  // The keys behind an imitated key cursor; empty when none is attached.
  std::vector<CursorKey> cursorKeys;
  // Whether reads and the listing must give back exactly the cursor's keys: strictly increasing
  // codes, names and types without zero bytes (the kernel ends them there), root, nothing failing.
  bool wellFormed = false;
};

// A file that is absent, failing, or holding a number or any bytes.
inline void addFile(FuzzedDataProvider& input, Tree& tree, const std::string& path) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
  case 0:
    return;
  case 1:
    tree.files->addFile(path, "");
    tree.files->failAccess(path, input.PickValueInArray(kErrnos));
    return;
  case 2:
    tree.files->addFile(path, std::to_string(input.ConsumeBool()
                                                 ? input.ConsumeIntegralInRange(0, 20000)
                                                 : input.ConsumeIntegral<std::int64_t>()) +
                                  "\n");
    return;
  default:
    tree.files->addFile(path, input.ConsumeRandomLengthString(48));
    return;
  }
}

inline bool hasNoZeroByte(FourCharCode code) {
  return fourCharCodeBytes(code).find('\0') == std::string::npos;
}

// Either the cursor's files with any contents, or an imitated cursor over keys from the input.
inline void addCursor(FuzzedDataProvider& input, Tree& tree, const std::string& device) {
  if (input.ConsumeBool()) {
    for (const std::string_view name : applesmc::kCursorAttributes) {
      addFile(input, tree, joinPath(device, name));
    }
    return;
  }
  std::vector<CursorKey> keys(input.ConsumeIntegralInRange<std::size_t>(0, 12));
  for (CursorKey& key : keys) {
    key.code = input.ConsumeIntegral<FourCharCode>();
    key.type = input.ConsumeIntegral<FourCharCode>();
    key.data = input.ConsumeRandomLengthString(40);
  }
  const auto byCode = [](const CursorKey& a, const CursorKey& b) { return a.code < b.code; };
  if (input.ConsumeBool()) {
    std::sort(keys.begin(), keys.end(), byCode);
  }
  const auto notBefore = [](const CursorKey& a, const CursorKey& b) { return a.code >= b.code; };
  tree.wellFormed = std::adjacent_find(keys.begin(), keys.end(), notBefore) == keys.end() &&
                    std::all_of(keys.begin(), keys.end(), [](const CursorKey& key) {
                      return hasNoZeroByte(key.code) && hasNoZeroByte(key.type);
                    });
  tree.files->attachKeyCursor(device, keys);
  tree.cursorKeys = std::move(keys);
}

inline Tree buildTree(FuzzedDataProvider& input) {
  Tree tree;
  std::string device = "/sys/devices/platform/applesmc.768";
  std::string fans = device;
  if (input.ConsumeBool()) {
    device = "/sys/bus/acpi/devices/APP0001:00";
    fans = device + "/hwmon/hwmon" + std::to_string(input.ConsumeIntegralInRange(0, 9));
  }
  tree.files->addDirectory(device);
  tree.files->addDirectory(fans);
  addCursor(input, tree, device);
  const int fanCount = input.ConsumeIntegralInRange(0, 4);
  for (int fan = 1; fan <= fanCount; ++fan) {
    for (const char* attribute : {"input", "min", "max", "label"}) {
      addFile(input, tree, joinPath(fans, "fan" + std::to_string(fan) + "_" + attribute));
    }
  }
  const bool root = input.ConsumeIntegralInRange(0, 7) != 0;
  tree.files->setRoot(root);
  const bool failing = input.ConsumeIntegralInRange(0, 3) == 0;
  if (failing) {
    const std::string paths[] = {device, fans, "/sys/bus/acpi/devices",
                                 joinPath(device, "key_at_index_name")};
    tree.files->failAccess(input.PickValueInArray(paths), input.PickValueInArray(kErrnos));
  }
  tree.wellFormed = tree.wellFormed && root && !failing;
  return tree;
}

// A fan key (with a digit or any byte for the index), a key of the cursor, or any code.
inline FourCharCode anyKey(FuzzedDataProvider& input, const std::vector<CursorKey>& cursorKeys) {
  switch (input.ConsumeIntegralInRange(0, 2)) {
  case 0: {
    const char* suffix = input.PickValueInArray({"ID", "Mn", "Mx", "Ac", "um"});
    const char index = input.ConsumeBool()
                           ? static_cast<char>('0' + input.ConsumeIntegralInRange(0, 9))
                           : input.ConsumeIntegral<char>();
    return *fourCharCodeFromBytes(std::string{'F', index, suffix[0], suffix[1]});
  }
  case 1:
    if (!cursorKeys.empty()) {
      return cursorKeys[input.ConsumeIntegralInRange<std::size_t>(0, cursorKeys.size() - 1)].code;
    }
    [[fallthrough]];
  default:
    return input.ConsumeIntegral<FourCharCode>();
  }
}

// Keys that the fan files and key_count answer for; the key cursor answers for all others.
inline bool isServedByFiles(FourCharCode code) {
  const std::string text = fourCharCodeBytes(code);
  const std::string suffix = text.substr(2);
  return code == fourCharCodeLiteral("FNum") || code == fourCharCodeLiteral("#KEY") ||
         (text[0] == 'F' && text[1] >= '0' && text[1] <= '9' &&
          (suffix == "Mn" || suffix == "Mx" || suffix == "Ac" || suffix == "ID"));
}

// Through a well-formed cursor of any codes, a key reads as its first 32 data bytes, the rest
// zero: the driver's search finds every key whatever its bytes.
inline void checkCursorValue(const Tree& tree, FourCharCode code,
                             const std::optional<SMCBytes>& bytes) {
  const auto key = std::find_if(tree.cursorKeys.begin(), tree.cursorKeys.end(),
                                [code](const CursorKey& each) { return each.code == code; });
  if (key == tree.cursorKeys.end() || isServedByFiles(code)) {
    return;
  }
  check(bytes.has_value(), "a key of a well-formed cursor can be read");
  SMCBytes expected{};
  std::copy_n(key->data.begin(), std::min(key->data.size(), expected.size()), expected.begin());
  check(*bytes == expected, "a key's value is its data bytes");
}

// The listing of a well-formed cursor: its keys, each with its type and data length.
inline void checkCursorListing(const Tree& tree,
                               const std::optional<std::vector<SMCKey>>& listing) {
  check(listing.has_value(), "a well-formed cursor can be listed");
  std::vector<SMCKey> expected;
  for (const CursorKey& key : tree.cursorKeys) {
    expected.push_back({key.code, {key.type, static_cast<std::uint32_t>(key.data.size())}});
  }
  check(*listing == expected, "the listing has the cursor's codes, types and data lengths");
}

// One exchange straight to the driver, with any connection, method index, sizes and record. One
// it cannot take is refused without a reply; the reply buffer is exactly the size offered, so
// that AddressSanitizer reports a reply written past it.
inline void rawExchange(FuzzedDataProvider& input, applesmc::ApplesmcDriver& driver) {
  constexpr std::size_t kRecord = sizeof(SMCParamStruct);
  const std::uint32_t methodIndex = input.ConsumeBool()
                                        ? rawValue(SMCParamStruct::Selector::kSMCHandleYPCEvent)
                                        : input.ConsumeIntegral<std::uint32_t>();
  const SMCDriver::Connection connection =
      input.ConsumeBool() ? SMCAccess::connection : input.ConsumeIntegral<std::uint32_t>();
  const auto anySize = [&] {
    return input.ConsumeBool() ? kRecord
                               : input.ConsumeIntegralInRange<std::size_t>(0, kRecord + 8);
  };
  const std::size_t inputSize = anySize();
  std::vector<std::uint8_t> request = input.ConsumeBytes<std::uint8_t>(inputSize);
  request.resize(inputSize);
  std::size_t outputSize = anySize();
  std::vector<std::uint8_t> reply(outputSize, 0xA5);
  const std::vector<std::uint8_t> untouched = reply;

  const KernReturn status = driver.callStructMethod(connection, methodIndex, request.data(),
                                                    inputSize, reply.data(), &outputSize);
  if (methodIndex != 2 || inputSize != kRecord || reply.size() < kRecord) {
    check(status == kIOReturnBadArgument && reply == untouched,
          "a malformed exchange is refused without a reply");
  }
}

} // namespace ventaro::fuzz
