#include "app/fan_reset_report.h"

#include "app/workload_run.h"
#include "platform/display_text.h"

#include <memory>
#include <ostream>
#include <utility>

namespace ventaro {
namespace {

// A reading that says something about the fans: the SMC opened and fan 0's speed was read.
bool readable(const FanReading& reading) {
  return !reading.openFailure && !reading.fans.empty() && reading.fans[0].current.has_value();
}

std::string speed(const std::optional<FanReading>& reading) {
  if (!reading || reading->fans.empty() || !reading->fans[0].current) {
    return "?";
  }
  return std::to_string(*reading->fans[0].current);
}

struct Follow {
  Application* application = nullptr;
  std::function<FanReading()> read;
  RunReport report;
  FanResetCheck check;
  std::function<void(const RunReport&)> end;
  std::ostream* err = nullptr;
  int rereadsLeft = kFanResetRereads;
  bool everReadable = false;
};

void finish(const std::shared_ptr<Follow>& follow, FanResetResult result) {
  follow->check.result = result;
  *follow->err << fanResetLine(follow->check);
  follow->err->flush();
  follow->report.fanReset = follow->check;
  follow->end(follow->report);
}

void readAgain(const std::shared_ptr<Follow>& follow) {
  const FanReading reading = follow->read();
  follow->everReadable = follow->everReadable || readable(reading);
  // An unreadable reading does not replace a readable one: it says nothing about the fans.
  if (readable(reading) || !follow->check.after || !readable(*follow->check.after)) {
    follow->check.after = reading;
  }
  if (readable(reading) && !fansAreStuck(reading)) {
    finish(follow, FanResetResult::worked);
    return;
  }
  if (follow->rereadsLeft == 0) {
    finish(follow, follow->everReadable ? FanResetResult::didNotHelp : FanResetResult::notChecked);
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
  const char* verdict = "not checked, the fans could not be read";
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

void followFanReset(Application& application, std::function<FanReading()> read, FanReading before,
                    RunReport report, std::function<void(const RunReport&)> end,
                    std::ostream& err) {
  auto follow = std::make_shared<Follow>();
  follow->application = &application;
  follow->read = std::move(read);
  follow->check.before = std::move(before);
  follow->end = std::move(end);
  follow->err = &err;
  if (report.outcome.failed()) {
    follow->report = std::move(report);
    follow->report.fanReset = follow->check;
    follow->end(follow->report);
    return;
  }
  follow->report = std::move(report);
  readAgain(follow);
}

} // namespace ventaro
