#pragma once

// Machines for the typed SMC operations: a fixture profile with keys changed or removed,
// and the keys an emulated SMC was asked about.

#include "smc/emulated/emulated_smc.h"
#include "smc/emulated/smc_profile.h"
#include "smc_test_support.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace ventaro::testing {

inline std::vector<emulated::EmulatedKey> stuckFanMachine() {
  return emulated::loadSMCProfile(fixturePath("smc/stuck-fan.profile"));
}

// Replaces the value of a key of the machine; its size follows the bytes.
inline void setKey(std::vector<emulated::EmulatedKey>& keys, std::string_view code,
                   std::vector<std::uint8_t> value) {
  const FourCharCode key = fourCharCodeFromText(code);
  for (auto& found : keys) {
    if (found.code == key) {
      found.info.size = static_cast<std::uint32_t>(value.size());
      found.value = std::move(value);
      return;
    }
  }
  ADD_FAILURE() << "the machine has no key " << code;
}

inline void removeKey(std::vector<emulated::EmulatedKey>& keys, std::string_view code) {
  std::erase_if(keys, [&](const auto& k) { return k.code == fourCharCodeFromText(code); });
}

// An identification record whose name bytes (4 to 15) are `name`, padded with `fill`.
inline std::vector<std::uint8_t> fanIdentification(const std::string& name,
                                                   std::uint8_t fill = ' ') {
  std::vector<std::uint8_t> record(16, fill);
  record[0] = 0x00;
  record[1] = 0x02;
  record[2] = 0x00;
  record[3] = 0x00;
  for (std::size_t i = 0; i < name.size() && 4 + i < record.size(); ++i) {
    record[4 + i] = static_cast<std::uint8_t>(name[i]);
  }
  return record;
}

// The keys of the recorded exchanges, as text, in order.
inline std::vector<std::string> exchangedKeys(const emulated::EmulatedSMC& smc) {
  std::vector<std::string> keys;
  for (const auto& exchange : smc.exchanges()) {
    keys.push_back(fourCharCodeToText(exchange.key));
  }
  return keys;
}

} // namespace ventaro::testing
