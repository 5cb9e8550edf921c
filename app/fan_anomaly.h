#pragma once

// The stuck-fan rule: more than two fans; fan 0 named with "PCI", limits exactly 800 and 4500,
// running faster than 1000; fan 1 named with "PS", limits exactly 600 and 2800.
//
// Reading and deciding are apart, so that a login start and `--check-fans` read the same values
// in the same pass and show the same terms.

#include "smc/smc_error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ventaro {

/// Fan 0 runs faster than this (rpm) when its fans are stuck.
inline constexpr std::int64_t kStuckFanSpeed = 1000;

/// One fan as read; a value whose read failed is empty.
struct FanValues {
  std::int64_t index = 0;
  std::optional<std::string> name;
  std::optional<std::int64_t> minimum, maximum, current;
};

/// One pass over the SMC.
struct FanReading {
  /// Why the connection could not be opened; nothing was read then.
  std::optional<SMCAccess::SMCError> openFailure;
  std::optional<std::int64_t> count;
  /// Fans 0 and 1 as the rule reads them (fan 1 without its current speed), then, with
  /// `everyFan`, the current speed of fan 1 and the other fans up to the count.
  std::vector<FanValues> fans;
};

/// One term of the rule, as a sentence about the values read, and whether it holds.
struct FanRuleTerm {
  std::string text;
  bool holds = false;
};

/// Opens the SMC through the driver installed, reads the fan count and fans 0 and 1 (eight
/// reads, fan 1's current speed not among them, each made whatever the others gave), reads
/// the rest of every fan when `everyFan` is set, and closes. SMC failures only leave values
/// empty; nothing is written to the SMC.
FanReading readFans(bool everyFan = false);

/// The eight terms in the order the rule tests them; a value not read counts as 0 or the empty
/// name. Empty when the connection could not be opened.
std::vector<FanRuleTerm> fanRuleTerms(const FanReading& reading);

/// Whether the connection opened and every value the rule tests was read.
bool readInFull(const FanReading& reading);

/// Whether every term holds (false when the connection could not be opened).
bool fansAreStuck(const FanReading& reading);

/// The login start's check: one pass of eight reads, then the rule.
bool hasFanAnomaly();

} // namespace ventaro
