#pragma once

// Platform fakes in virtual time that write every call they receive, in order and with its
// virtual time, into one shared log: "asyncAfter 5", "terminate", "registerDefaults Key=5",
// "integerForKey Key", "boolForKey Key", "remove <id>", "requestAuthorization", "add <id>".

#include "platform/application.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace ventaro::testing {

struct CallLog {
  double now = 0.0; // virtual seconds
  std::vector<std::pair<double, std::string>> entries;

  void record(std::string call) { entries.emplace_back(now, std::move(call)); }
  /// Every call, in order.
  std::vector<std::string> calls() const {
    std::vector<std::string> result;
    for (const auto& entry : entries) {
      result.push_back(entry.second);
    }
    return result;
  }
  std::optional<double> timeOf(const std::string& call) const {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const auto& entry) { return entry.second == call; });
    return found == entries.end() ? std::nullopt : std::optional(found->first);
  }
};

/// Work items run only when the test moves time on; a termination request stops the loop
/// after the requesting routine, as the real loop does.
class FakeApplication final : public Application {
public:
  explicit FakeApplication(CallLog& log) : log_(log) {}

  std::vector<double> delays; // of every asyncAfter call

  void asyncAfter(double seconds, WorkItem work) override {
    std::ostringstream call;
    call << "asyncAfter " << seconds;
    log_.record(call.str());
    delays.push_back(seconds);
    queue_.emplace(std::pair{log_.now + std::max(seconds, 0.0), sequence_++}, std::move(work));
  }
  void terminate(ApplicationDelegate*) override {
    log_.record("terminate");
    terminated_ = true;
  }
  void setExitStatus(int status) override {
    log_.record("setExitStatus " + std::to_string(status));
    exitStatus = status;
  }
  int exitStatus = 0;

  /// Moves virtual time on by `seconds` (forever when none is given), running what falls due.
  void advance(double seconds = std::numeric_limits<double>::infinity()) {
    const double target = log_.now + seconds;
    while (!terminated_ && !queue_.empty() && queue_.begin()->first.first <= target) {
      auto first = queue_.begin();
      log_.now = std::max(log_.now, first->first.first);
      WorkItem work = std::move(first->second);
      queue_.erase(first);
      work();
    }
    if (target != std::numeric_limits<double>::infinity()) {
      log_.now = std::max(log_.now, target);
    }
  }

private:
  CallLog& log_;
  bool terminated_ = false;
  std::size_t sequence_ = 0;
  std::map<std::pair<double, std::size_t>, WorkItem> queue_;
};

class FakeUserDefaults final : public UserDefaults {
public:
  explicit FakeUserDefaults(CallLog& log) : log_(log) {}

  std::map<std::string, DefaultValue> stored; // what the user stored: wins over a default

  void registerDefaults(const std::string& key, DefaultValue value) override {
    const bool* flag = std::get_if<bool>(&value);
    log_.record("registerDefaults " + key + "=" +
                (flag ? (*flag ? "true" : "false") : std::to_string(std::get<0>(value))));
    registered_[key] = value;
  }
  std::int64_t integerForKey(const std::string& key) override {
    log_.record("integerForKey " + key);
    return std::visit([](auto v) { return static_cast<std::int64_t>(v); }, find(key));
  }
  bool boolForKey(const std::string& key) override {
    log_.record("boolForKey " + key);
    return std::visit([](auto v) { return static_cast<bool>(v); }, find(key));
  }

private:
  DefaultValue find(const std::string& key) const {
    for (const auto* values : {&stored, &registered_}) {
      if (const auto found = values->find(key); found != values->end()) {
        return found->second;
      }
    }
    return std::int64_t{0};
  }

  CallLog& log_;
  std::map<std::string, DefaultValue> registered_;
};

class RecordingNotificationCenter final : public NotificationCenter {
public:
  explicit RecordingNotificationCenter(CallLog& log) : log_(log) {}

  std::vector<std::pair<std::string, NotificationContent>> posted; // identifier, content
  double addLatency = 0.0; // virtual seconds each post takes, as with a slow server

  void removeDeliveredNotifications(const std::vector<std::string>& identifiers) override {
    for (const std::string& identifier : identifiers) {
      log_.record("remove " + identifier);
    }
  }
  void requestAuthorization() override { log_.record("requestAuthorization"); }
  void add(const std::string& identifier, const NotificationContent& content) override {
    log_.record("add " + identifier);
    posted.emplace_back(identifier, content);
    log_.now += addLatency;
  }

private:
  CallLog& log_;
};

} // namespace ventaro::testing
