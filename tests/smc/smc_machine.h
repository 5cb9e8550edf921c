#pragma once

// Machines for the SMC tests: the stuck-fan machine with keys changed or removed, the keys an
// emulated SMC was asked about, and a fixture that installs a fresh driver for each test.

#include "smc/smc_access.h"
#include "tests/smc/emulated_smc.h"
#include "tests/smc/in_memory_file_access.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

namespace ventaro::SMCAccess {
inline void PrintTo(const SMCError& error, std::ostream* out) {
  *out << error.what() << "(\"" << error.code() << "\", 0x" << std::hex
       << static_cast<std::uint32_t>(error.kIOReturn()) << ", " << std::dec
       << int{error.smcResult()} << ")";
}
} // namespace ventaro::SMCAccess

namespace ventaro::testing {

using emulated::EmulatedFailure;
using emulated::EmulatedKey;
using emulated::EmulatedSMC;
using SMCAccess::SMCError;
using Keys = std::vector<EmulatedKey>;

constexpr FourCharCode code(const char (&text)[5]) {
  return fourCharCodeLiteral(text);
}

inline std::filesystem::path fixturePath(const std::string& relative) {
  const char* root = std::getenv("VENTARO_SOURCE_DIR");
  return std::filesystem::path(root != nullptr ? root : ".") / "tests" / "fixtures" / relative;
}

/// A fan identification record: type, the fan's index, `name` in bytes 4 to 15 padded with
/// `fill`.
inline std::vector<std::uint8_t> fanIdentification(const std::string& name, std::uint8_t fill = ' ',
                                                   std::uint8_t type = 2, std::uint8_t index = 0) {
  std::vector<std::uint8_t> record(16, fill);
  record[0] = record[3] = 0;
  record[1] = type;
  record[2] = index;
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 12), record.begin() + 4);
  return record;
}

/// A tower whose fans are stuck high: fan 0 "PCI Fan" at 800/4500 running at 1850, fan 1
/// "PS Fan" at 600/2800, fan 2 "CPU Fan" (its name followed by zero bytes); temperature keys
/// TA0P, TC0P and TG0D (in the sensor table) and TC1C (not in it); battery keys. The fixture
/// trees in tests/fixtures/sysfs/*-stuck hold the same fans and temperatures.
inline Keys stuckFanMachine() {
  using namespace DataTypes;
  return {
      {code("#KEY"), UInt32, {0, 0, 0, 22}},
      {code("FNum"), UInt8, {3}},
      {code("F0ID"), FDS, fanIdentification("PCI Fan")},
      {code("F0Mn"), FPE2, {0x0C, 0x80}}, // 800
      {code("F0Mx"), FPE2, {0x46, 0x50}}, // 4500
      {code("F0Ac"), FPE2, {0x1C, 0xE8}}, // 1850
      {code("F1ID"), FDS, fanIdentification("PS Fan", ' ', 2, 1)},
      {code("F1Mn"), FPE2, {0x09, 0x60}}, // 600
      {code("F1Mx"), FPE2, {0x2B, 0xC0}}, // 2800
      {code("F1Ac"), FPE2, {0x12, 0xC0}}, // 1200
      {code("F2ID"), FDS, fanIdentification("CPU Fan", 0, 1, 2)},
      {code("F2Mn"), FPE2, {0x0F, 0xA0}}, // 1000
      {code("F2Mx"), FPE2, {0x32, 0x00}}, // 3200
      {code("F2Ac"), FPE2, {0x11, 0x30}}, // 1100
      {code("TA0P"), SP78, {0xFA, 0x40}}, // -5.75 °C
      {code("TC0P"), SP78, {0x2D, 0x40}}, // 45.25 °C
      {code("TG0D"), SP78, {0x3A, 0x80}}, // 58.5 °C
      {code("TC1C"), SP78, {0x30, 0x00}}, // 48 °C
      {code("BNum"), UInt8, {1}},
      {code("BATP"), Flag, {0}},
      {code("BSIn"), UInt8, {0x43}},
      {code("MSDI"), Flag, {1}},
  };
}

/// Replaces the value of a key of the machine; its size follows the bytes.
inline void setKey(Keys& keys, std::string_view text, std::vector<std::uint8_t> value) {
  for (auto& key : keys) {
    if (key.code == fourCharCodeFromText(text)) {
      key.info.size = static_cast<std::uint32_t>(value.size());
      key.value = std::move(value);
      return;
    }
  }
  ADD_FAILURE() << "the machine has no key " << text;
}

inline void removeKey(Keys& keys, std::string_view text) {
  std::erase_if(keys, [&](const auto& key) { return key.code == fourCharCodeFromText(text); });
}

/// The keys of the recorded exchanges, as text, in order.
inline std::vector<std::string> exchangedKeys(const EmulatedSMC& smc) {
  std::vector<std::string> keys;
  for (const auto& exchange : smc.exchanges()) {
    keys.push_back(fourCharCodeToText(exchange.key));
  }
  return keys;
}

/// The error that `operation` throws, or nothing.
inline std::optional<SMCError> smcErrorOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const SMCError& error) {
    return error;
  }
  return std::nullopt;
}

inline SMCBytes bytesOf(std::initializer_list<std::uint8_t> first) {
  SMCBytes bytes{};
  std::copy(first.begin(), first.end(), bytes.begin());
  return bytes;
}

/// The applesmc device directory of the stuck-fan machine's fixture tree in `layout`: "flat"
/// keeps the fan and temperature files in the device directory, "hwmon" in a hwmon directory
/// below it.
inline std::string stuckFanDevice(const std::string& layout) {
  return layout == "flat" ? "/sys/devices/platform/applesmc.768"
                          : "/sys/bus/acpi/devices/APP0001:00";
}

/// Loads the stuck-fan machine's fixture tree in `layout` into `files`, its key cursor answering
/// from `keys` in their order.
inline void loadStuckFanTree(applesmc::InMemoryFileAccess& files, const std::string& layout,
                             const Keys& keys) {
  files.loadTree(fixturePath("sysfs/" + layout + "-stuck"));
  std::vector<applesmc::CursorKey> cursor;
  cursor.reserve(keys.size());
  for (const EmulatedKey& key : keys) {
    cursor.push_back({key.code, key.info.type, std::string(key.value.begin(), key.value.end())});
  }
  files.attachKeyCursor(stuckFanDevice(layout), cursor);
}

/// Installs a fresh driver for each test and forgets the connection of the one before.
class SMCAccessTest : public ::testing::Test {
protected:
  template <typename Driver> std::shared_ptr<Driver> install(std::shared_ptr<Driver> driver) {
    SMCAccess::setDriver(driver);
    SMCAccess::connection = 0;
    return driver;
  }
  /// An emulated SMC over `keys`, installed and opened.
  std::shared_ptr<EmulatedSMC> start(Keys keys) {
    smc = install(std::make_shared<EmulatedSMC>(std::move(keys)));
    SMCAccess::openSMC();
    return smc;
  }
  // A later test finds no SMC unless it installs its own.
  void TearDown() override { SMCAccess::setDriver(nullptr); }

  std::shared_ptr<EmulatedSMC> smc;
};

} // namespace ventaro::testing
