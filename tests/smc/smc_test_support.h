#pragma once

#include "smc/applesmc/in_memory_file_access.h"
#include "smc/emulated/emulated_smc.h"
#include "smc/smc_access.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ventaro::SMCAccess {
inline void PrintTo(const SMCError& error, std::ostream* out) {
  *out << error.what() << "(code \"" << error.code() << "\", kIOReturn 0x" << std::hex
       << static_cast<std::uint32_t>(error.kIOReturn()) << ", SMCResult " << std::dec
       << int{error.smcResult()} << ")";
}
} // namespace ventaro::SMCAccess

namespace ventaro::testing {

inline std::filesystem::path fixturePath(const std::string& relative) {
  const char* root = std::getenv("VENTARO_SOURCE_DIR");
  return std::filesystem::path(root != nullptr ? root : ".") / "tests" / "fixtures" / relative;
}

// The keys of an emulated machine as the kernel's key cursor would list them: in the SMC's order.
inline std::vector<applesmc::CursorKey>
cursorKeysOf(const std::vector<emulated::EmulatedKey>& keys) {
  std::vector<applesmc::CursorKey> cursorKeys;
  const emulated::EmulatedSMC sorted(keys);
  for (const auto& key : sorted.keys()) {
    cursorKeys.push_back(
        {key.code, key.info.type, std::string(key.value.begin(), key.value.end())});
  }
  return cursorKeys;
}

// The error that `operation` throws, or nothing when it throws none.
inline std::optional<SMCAccess::SMCError> smcErrorOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const SMCAccess::SMCError& error) {
    return error;
  }
  return std::nullopt;
}

inline SMCBytes bytesOf(std::initializer_list<std::uint8_t> first) {
  SMCBytes bytes{};
  std::copy(first.begin(), first.end(), bytes.begin());
  return bytes;
}

// Installs a fresh driver for each test and forgets the connection of the one before.
class SMCAccessTest : public ::testing::Test {
protected:
  template <typename Driver> std::shared_ptr<Driver> install(std::shared_ptr<Driver> driver) {
    SMCAccess::setDriver(driver);
    SMCAccess::connection = 0;
    return driver;
  }

  void TearDown() override {
    // A later test that forgot to install its own must not reach the machine's SMC.
    SMCAccess::setDriver(
        std::make_shared<emulated::EmulatedSMC>(std::vector<emulated::EmulatedKey>{}));
  }
};

} // namespace ventaro::testing
