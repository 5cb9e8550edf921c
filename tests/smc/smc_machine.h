#pragma once

// Machines for the SMC tests: the fixture profiles with keys changed or removed, the keys an
// emulated SMC was asked about, and a fixture that installs a fresh driver for each test.

#include "tests/smc/in_memory_file_access.h"
#include "tests/smc/emulated_smc.h"
#include "tests/smc/smc_profile.h"
#include "smc/smc_access.h"

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

/// Three fans: "PCI Fan" 800/4500 at 1850, "PS Fan" 600/2800, "CPU Fan"; see fixtures/README.
inline Keys stuckFanMachine() {
  return emulated::loadSMCProfile(fixturePath("smc/stuck-fan.profile"));
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

/// A fan identification record whose bytes 4 to 15 are `name`, padded with `fill`.
inline std::vector<std::uint8_t> fanIdentification(const std::string& name,
                                                   std::uint8_t fill = ' ') {
  std::vector<std::uint8_t> record(16, fill);
  record[0] = record[2] = record[3] = 0;
  record[1] = 2;
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 12), record.begin() + 4);
  return record;
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
