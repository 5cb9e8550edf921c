#pragma once

// After the fan-reset load of a login start: read the fans again, once a second for up to ten
// seconds, until fan 0 is read below the stuck speed, and say in one line on standard error (the
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
  bool interrupted = false;        // a termination signal ended the check before it decided
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
/// through `application`'s timers, once a second, until fan 0 is read at or below
/// kStuckFanSpeed or the rereads are spent; writes the line on `err`; then hands `report`, with
/// the check, to `end`. The reset worked only where a reading in full (readInFull) shows fan 0
/// down; a reading with a failed value never does. Where fan 0 was read above the speed it did
/// not help; where fan 0 could not be read, or only in readings that failed elsewhere, it is not
/// checked. Returns what ends the following at once, not checked and interrupted, with the
/// fans read so far (it does nothing once the following has ended).
std::function<void()> followFanReset(Application& application, std::function<FanReading()> read,
                                     FanReading before, RunReport report,
                                     std::function<void(const RunReport&)> end, std::ostream& err);

} // namespace ventaro
