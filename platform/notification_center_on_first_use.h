#pragma once

// A notification centre made only when it is first used, so that a start that ends without a
// notice (a login start whose fan check finds nothing) never touches the session bus.

#include "platform/notification_center.h"

#include <functional>
#include <memory>

namespace ventaro {

class NotificationCenterOnFirstUse final : public NotificationCenter {
public:
  using Factory = std::function<std::shared_ptr<NotificationCenter>()>;

  /// `make` runs once, at the first call of any operation.
  explicit NotificationCenterOnFirstUse(Factory make);

  void removeDeliveredNotifications(const std::vector<std::string>& identifiers) override;
  void requestAuthorization() override;
  void add(const std::string& identifier, const NotificationContent& content) override;
  void addWithoutWaiting(const std::string& identifier,
                         const NotificationContent& content) override;

  /// Whether the centre has been made (some operation was called).
  bool made() const { return center_ != nullptr; }

private:
  NotificationCenter& center();

  Factory make_;
  std::shared_ptr<NotificationCenter> center_;
};

} // namespace ventaro
