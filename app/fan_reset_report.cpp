#include "app/fan_reset_report.h"

#include "app/workload_run.h"
#include "platform/display_text.h"

#include <memory>
#include <ostream>
#include <utility>

namespace ventaro {
namespace {

// Fan 0's speed as read, where the SMC opened and the read succeeded.
std::optional<std::int64_t> fanZeroSpeed(const FanReading& reading) {
  if (reading.openFailure || reading.fans.empty()) {
    return std::nullopt;
  }
  return reading.fans[0].current;
}

std::string speed(const std::optional<FanReading>& reading) {
  const std::optional<std::int64_t> rpm = reading ? fanZeroSpeed(*reading) : std::nullopt;
  return rpm ? std::to_string(*rpm) : "?";
}

struct Follow {
  Application* application = nullptr;
  std::function<FanReading()> read;
  RunReport report;
  FanResetCheck check;
  std::function<void(const RunReport&)> end;
  std::ostream* err = nullptr;
  int rereadsLeft = kFanResetRereads;
  bool stillHigh = false; // fan 0 was read above the stuck speed
  bool ended = false;
};

void finish(Follow& follow, FanResetResult result) {
  follow.ended = true;
  follow.check.result = result;
  *follow.err << fanResetLine(follow.check);
  follow.err->flush();
  follow.report.fanReset = follow.check;
  follow.end(follow.report);
}

void readAgain(const std::shared_ptr<Follow>& follow) {
  if (follow->ended) {
    return;
  }
  FanReading reading = follow->read();
  const std::optional<std::int64_t> rpm = fanZeroSpeed(reading);
  if (rpm && *rpm <= kStuckFanSpeed && readInFull(reading)) {
    follow->check.after = std::move(reading);
    finish(*follow, FanResetResult::worked);
    return;
  }
  // A reading that shows fan 0 high is kept over any that does not: a failed read says nothing
  // about the fans, and a low speed beside a failed read proves nothing.
  if (rpm && *rpm > kStuckFanSpeed) {
    follow->stillHigh = true;
    follow->check.after = std::move(reading);
  } else if (!follow->stillHigh) {
    follow->check.after = std::move(reading);
  }
  if (follow->rereadsLeft == 0) {
    finish(*follow, follow->stillHigh ? FanResetResult::didNotHelp : FanResetResult::notChecked);
    return;
  }
  --follow->rereadsLeft;
  follow->application->asyncAfter(kFanResetRereadSeconds, [follow] { readAgain(follow); });
}

} // namespace

const char* fanResetName(FanResetResult result) {
  switch (result) {
  case FanResetResult::worked:
    return "worked";
  case FanResetResult::didNotHelp:
    return "did-not-help";
  case FanResetResult::notChecked:
    break;
  }
  return "not-checked";
}

std::string fanResetLine(const FanResetCheck& check) {
  if (!check.after) {
    return "";
  }
  const char* verdict =
      check.interrupted ? "not checked, interrupted" : "not checked, the fans could not be read";
  if (check.result == FanResetResult::worked) {
    verdict = "worked";
  } else if (check.result == FanResetResult::didNotHelp) {
    verdict = "did not help";
  }
  std::string name = "fan 0";
  if (!check.before.fans.empty() && check.before.fans[0].name &&
      !check.before.fans[0].name->empty()) {
    name = *check.before.fans[0].name;
  }
  return "ventaro: fan reset " + std::string(verdict) + ": " + displayText(name) + " " +
         speed(check.before) + " → " + speed(check.after) + " rpm\n";
}

std::function<void()> followFanReset(Application& application, std::function<FanReading()> read,
                                     FanReading before, RunReport report,
                                     std::function<void(const RunReport&)> end, std::ostream& err) {
  auto follow = std::make_shared<Follow>();
  follow->application = &application;
  follow->read = std::move(read);
  follow->check.before = std::move(before);
  follow->end = std::move(end);
  follow->err = &err;
  follow->report = std::move(report);
  if (follow->report.outcome.failed()) {
    follow->ended = true;
    follow->report.fanReset = follow->check;
    follow->end(follow->report);
    return [] {};
  }
  readAgain(follow);
  // Weak: the pending reread owns the following; once it has ended nothing is kept.
  return [weak = std::weak_ptr<Follow>(follow)] {
    if (const std::shared_ptr<Follow> follow = weak.lock(); follow && !follow->ended) {
      follow->check.interrupted = true;
      finish(*follow, FanResetResult::notChecked);
    }
  };
}

} // namespace ventaro
