#pragma once

// After the fan-reset load of a login start: read the fans again, once a second for up to ten
// seconds, until the stuck-fan rule stops holding, and say in one line on standard error (the
// journal of the login unit keeps it) whether the reset worked. No notice, no exit status: a
// reset that did not help is not a failed load.

#include "app/fan_anomaly.h"
#include "platform/application.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace ventaro {

struct RunReport;

enum class FanResetResult { worked, didNotHelp, notChecked };

/// The fans before the load (as the login start's check read them) and after it.
struct FanResetCheck {
  FanResetResult result = FanResetResult::notChecked;
  FanReading before;
  std::optional<FanReading> after; // empty when the fans were not read again
};

/// Reads after the first one, a second apart: the wait for the fans is ten seconds at most.
inline constexpr int kFanResetRereads = 10;
inline constexpr double kFanResetRereadSeconds = 1.0;

/// "worked", "did-not-help" or "not-checked", as --json shows it.
const char* fanResetName(FanResetResult result);

/// The stderr line for a check, e.g. "ventaro: fan reset worked: PCI Fan 2400 → 850 rpm";
/// empty when the load failed and nothing was read.
std::string fanResetLine(const FanResetCheck& check);

/// Follows a fan-reset run: when its load ran, reads the fans with `read` at once and then
/// through `application`'s timers, once a second, until the rule stops holding or the rereads
/// are spent; writes the line on `err`; then hands `report`, with the check, to `end`. A
/// reading counts only when the SMC opened and fan 0's speed could be read; when none did, the
/// reset is not checked.
void followFanReset(Application& application, std::function<FanReading()> read, FanReading before,
                    RunReport report, std::function<void(const RunReport&)> end, std::ostream& err);

} // namespace ventaro
