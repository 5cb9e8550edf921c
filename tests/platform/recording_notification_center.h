#pragma once

// A notification centre that records "remove <identifier>", "requestAuthorization" and
// "add <identifier>" with their virtual time, and keeps every posted notice.

#include "platform/notification_center.h"
#include "tests/platform/call_log.h"

#include <string>
#include <vector>

namespace ventaro::testing {

class RecordingNotificationCenter final : public NotificationCenter {
public:
  explicit RecordingNotificationCenter(CallLog& log) : log_(log) {}

  struct Posted {
    std::string identifier;
    NotificationContent content;
  };
  std::vector<Posted> posted;
  double addLatency = 0.0; // virtual seconds each post takes, as with a slow server

  void removeDeliveredNotifications(const std::vector<std::string>& identifiers) override {
    for (const std::string& identifier : identifiers) {
      log_.record("remove " + identifier);
    }
  }
  void requestAuthorization() override { log_.record("requestAuthorization"); }
  void add(const std::string& identifier, const NotificationContent& content) override {
    log_.record("add " + identifier);
    posted.push_back({identifier, content});
    log_.now += addLatency;
  }

private:
  CallLog& log_;
};

} // namespace ventaro::testing
