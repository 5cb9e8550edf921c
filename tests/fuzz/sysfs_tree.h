#pragma once

// A sysfs tree in memory for the applesmc driver, built from the fuzz input: layout, key cursor
// and fan file contents (counts, names, types, lengths, value bytes, speeds, labels), failing
// paths, root or not. With it, what the tree promises about the answers of the driver.

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
using applesmc::InMemoryFileAccess;

inline constexpr int kErrnos[] = {EACCES, EPERM, EIO,    ETIMEDOUT, EBUSY,  EAGAIN,  ENOENT,
                                  ENODEV, ENXIO, ENOMEM, EINVAL,    EISDIR, ENOTDIR, EROFS};
inline constexpr const char* kFanAttributes[] = {"input", "min", "max", "label", "manual"};

// What the tree holds, as far as the checks need it.
struct Tree {
  std::shared_ptr<InMemoryFileAccess> files = std::make_shared<InMemoryFileAccess>();
  std::string fanDirectory;
  // The keys behind an imitated key cursor, when one is attached.
  std::optional<std::vector<CursorKey>> cursorKeys;
  // Whether the listing must give back exactly the cursor's keys: sorted distinct codes, names
  // and types without zero bytes, root, no failing path and no other process on the cursor.
  bool wellFormed = false;
};

inline std::string anyName(FuzzedDataProvider& input) {
  std::string name = input.ConsumeRandomLengthString(16);
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

// A file that is absent, present with a number or with any bytes, or present but failing.
inline void addFile(FuzzedDataProvider& input, Tree& tree, const std::string& path) {
  switch (input.ConsumeIntegralInRange(0, 5)) {
  case 0:
    return;
  case 1:
    tree.files->addFile(path, "");
    tree.files->failAccess(path, input.PickValueInArray(kErrnos));
    return;
  case 2:
    tree.files->addFile(path, std::to_string(input.ConsumeIntegralInRange(0, 20000)) + "\n");
    return;
  case 3:
    tree.files->addFile(path, std::to_string(input.ConsumeIntegral<std::int64_t>()));
    return;
  default:
    tree.files->addFile(path, input.ConsumeRandomLengthString(48));
    return;
  }
}

inline bool hasNoZeroByte(FourCharCode code) {
  return std::string_view(fourCharCodeBytes(code)).find('\0') == std::string_view::npos;
}

inline void addCursor(FuzzedDataProvider& input, Tree& tree, const std::string& device) {
  switch (input.ConsumeIntegralInRange(0, 2)) {
  case 0:
    for (const std::string_view name : applesmc::kCursorAttributes) {
      addFile(input, tree, applesmc::joinPath(device, name));
    }
    return;
  case 1: {
    std::vector<CursorKey> keys(input.ConsumeIntegralInRange<std::size_t>(0, 12));
    for (CursorKey& key : keys) {
      key.code = input.ConsumeIntegral<FourCharCode>();
      key.type = input.ConsumeIntegral<FourCharCode>();
      key.data = input.ConsumeRandomLengthString(40);
    }
    if (input.ConsumeBool()) {
      std::sort(keys.begin(), keys.end(), [](auto& a, auto& b) { return a.code < b.code; });
      keys.erase(
          std::unique(keys.begin(), keys.end(), [](auto& a, auto& b) { return a.code == b.code; }),
          keys.end());
    }
    tree.wellFormed = std::is_sorted(keys.begin(), keys.end(),
                                     [](auto& a, auto& b) { return a.code <= b.code; }) &&
                      std::all_of(keys.begin(), keys.end(), [](const CursorKey& key) {
                        return hasNoZeroByte(key.code) && hasNoZeroByte(key.type);
                      });
    tree.files->attachKeyCursor(device, keys);
    tree.cursorKeys = std::move(keys);
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
      // Another process moves the cursor after each value read.
      const std::string cursor = applesmc::joinPath(device, "key_at_index");
      const std::string moved = std::to_string(input.ConsumeIntegralInRange(0, 3));
      tree.files->afterRead(
          applesmc::joinPath(device, "key_at_index_data"),
          [files = tree.files.get(), cursor, moved] { files->writeFile(cursor, moved); });
      tree.wellFormed = false;
    }
    return;
  }
  default:
    return;
  }
}

inline Tree buildTree(FuzzedDataProvider& input) {
  Tree tree;
  std::string device;
  switch (input.ConsumeIntegralInRange(0, 3)) {
  case 0:
    device = "/sys/devices/platform/applesmc.768";
    tree.fanDirectory = device;
    break;
  case 1:
    device = "/sys/bus/acpi/devices/APP0001:00";
    tree.fanDirectory =
        device + "/hwmon/hwmon" + std::to_string(input.ConsumeIntegralInRange(0, 9));
    break;
  case 2:
    device = "/sys/bus/acpi/devices/" + anyName(input);
    tree.fanDirectory = device + "/" + anyName(input) + "/" + anyName(input);
    break;
  default: // no device: only unrelated files
    tree.files->addDirectory("/sys/bus/acpi/devices/PNP0C0A:00");
    tree.fanDirectory = "/sys/class/hwmon/hwmon0";
    break;
  }
  if (!device.empty()) {
    tree.files->addDirectory(device);
    addCursor(input, tree, device);
  }
  tree.files->addDirectory(tree.fanDirectory);
  const int fans = input.ConsumeIntegralInRange(0, 4);
  for (int fan = 1; fan <= fans; ++fan) {
    for (const char* attribute : kFanAttributes) {
      addFile(input, tree,
              applesmc::joinPath(tree.fanDirectory, "fan" + std::to_string(fan) + "_" + attribute));
    }
  }
  addFile(input, tree, applesmc::joinPath(device, "name"));

  const bool root = input.ConsumeIntegralInRange(0, 7) != 0;
  tree.files->setRoot(root);
  const int failures = input.ConsumeIntegralInRange(0, 3) == 0 ? 1 : 0;
  for (int i = 0; i < failures; ++i) {
    const std::string paths[] = {device, tree.fanDirectory, "/sys/bus/acpi/devices",
                                 applesmc::joinPath(device, "key_at_index_name")};
    tree.files->failAccess(input.PickValueInArray(paths), input.PickValueInArray(kErrnos));
  }
  tree.wellFormed = tree.wellFormed && root && failures == 0;
  return tree;
}

inline FourCharCode anyKey(FuzzedDataProvider& input, const Tree& tree) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
  case 0: {
    // A fan key, with a digit or any byte for the index.
    constexpr const char* kSuffixes[] = {"ID", "Mn", "Mx", "Ac"};
    const char* suffix = input.PickValueInArray(kSuffixes);
    const char index = input.ConsumeBool()
                           ? static_cast<char>('0' + input.ConsumeIntegralInRange(0, 9))
                           : input.ConsumeIntegral<char>();
    return *fourCharCodeFromBytes(std::string{'F', index, suffix[0], suffix[1]});
  }
  case 1:
    return input.ConsumeBool() ? fourCharCodeLiteral("FNum") : fourCharCodeLiteral("#KEY");
  case 2:
    if (tree.cursorKeys && !tree.cursorKeys->empty()) {
      const auto at = input.ConsumeIntegralInRange<std::size_t>(0, tree.cursorKeys->size() - 1);
      return (*tree.cursorKeys)[at].code;
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

// A key of a well-formed cursor reads as its first 32 data bytes, the rest zero.
inline void checkCursorValue(const Tree& tree, FourCharCode code,
                             const std::optional<SMCBytes>& bytes) {
  const std::vector<CursorKey>& keys = *tree.cursorKeys;
  const auto key = std::find_if(keys.begin(), keys.end(),
                                [code](const CursorKey& each) { return each.code == code; });
  if (key == keys.end() || isServedByFiles(code)) {
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
  const std::vector<SMCKey>& listed = *listing;
  const std::vector<CursorKey>& keys = *tree.cursorKeys;
  check(listed.size() == keys.size(), "the listing has every key of the cursor");
  for (std::size_t i = 0; i < keys.size(); ++i) {
    check(listed[i] ==
              SMCKey{keys[i].code, {keys[i].type, static_cast<std::uint32_t>(keys[i].data.size())}},
          "a listed key has the cursor's code, type and data length");
  }
}

// One exchange straight to the driver, with any connection, method index, sizes and record.
inline void rawExchange(FuzzedDataProvider& input, applesmc::ApplesmcDriver& driver) {
  const std::uint32_t methodIndex = input.ConsumeBool()
                                        ? rawValue(SMCParamStruct::Selector::kSMCHandleYPCEvent)
                                        : input.ConsumeIntegral<std::uint32_t>();
  const SMCDriver::Connection connection =
      input.ConsumeBool() ? SMCAccess::connection : input.ConsumeIntegral<std::uint32_t>();
  constexpr std::size_t kRecord = sizeof(SMCParamStruct);
  const std::size_t inputSize =
      input.ConsumeBool() ? kRecord : input.ConsumeIntegralInRange<std::size_t>(0, kRecord + 8);
  std::size_t outputSize =
      input.ConsumeBool() ? kRecord : input.ConsumeIntegralInRange<std::size_t>(0, kRecord + 8);
  std::vector<std::uint8_t> request = input.ConsumeBytes<std::uint8_t>(inputSize);
  request.resize(inputSize);
  std::vector<std::uint8_t> reply(kRecord + 8, 0xA5);
  const std::vector<std::uint8_t> untouched = reply;

  const KernReturn status = driver.callStructMethod(connection, methodIndex, request.data(),
                                                    inputSize, reply.data(), &outputSize);
  if (methodIndex != 2 || inputSize != kRecord || outputSize < kRecord) {
    check(status == kIOReturnBadArgument && reply == untouched,
          "a malformed exchange is refused without a reply");
  }
  check(std::equal(reply.begin() + kRecord, reply.end(), untouched.begin() + kRecord),
        "a reply stays within its record");
}

} // namespace ventaro::fuzz
