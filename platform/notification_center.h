#pragma once

// Desktop notices: post at once, withdraw by identifier, ask for permission.

#include <string>
#include <vector>

namespace ventaro {

/// What a notice says. The sound is always the platform's default notification sound.
struct NotificationContent {
  std::string title;
  std::string body;
  bool defaultSound = true;
};

class NotificationCenter {
public:
  virtual ~NotificationCenter() = default;
  /// Withdraws delivered notices with these identifiers. Never fails, never blocks for long.
  virtual void removeDeliveredNotifications(const std::vector<std::string>& identifiers) = 0;
  /// Asks for permission to show alerts with sound; the answer is not reported.
  virtual void requestAuthorization() = 0;
  /// Posts a notice at once. Re-posting an identifier replaces the notice it names.
  /// Failures are not reported.
  virtual void add(const std::string& identifier, const NotificationContent& content) = 0;
  /// Posts a notice as add() does, without waiting for the server: its answer is awaited by
  /// the next call on the centre. A centre that never waits posts it at once.
  virtual void addWithoutWaiting(const std::string& identifier,
                                 const NotificationContent& content) {
    add(identifier, content);
  }
};

} // namespace ventaro
