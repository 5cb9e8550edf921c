#include "platform/notification_center_on_first_use.h"

#include <utility>

namespace ventaro {

NotificationCenterOnFirstUse::NotificationCenterOnFirstUse(Factory make) : make_(std::move(make)) {}

NotificationCenter& NotificationCenterOnFirstUse::center() {
  if (!center_) {
    center_ = make_();
  }
  return *center_;
}

void NotificationCenterOnFirstUse::removeDeliveredNotifications(
    const std::vector<std::string>& identifiers) {
  center().removeDeliveredNotifications(identifiers);
}

void NotificationCenterOnFirstUse::requestAuthorization() {
  center().requestAuthorization();
}

void NotificationCenterOnFirstUse::add(const std::string& identifier,
                                       const NotificationContent& content) {
  center().add(identifier, content);
}

void NotificationCenterOnFirstUse::addWithoutWaiting(const std::string& identifier,
                                                     const NotificationContent& content) {
  center().addWithoutWaiting(identifier, content);
}

} // namespace ventaro
