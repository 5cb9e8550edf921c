#include "platform/notification_center_terminal.h"

#include "platform/display_text.h"

#include <ostream>

namespace ventaro {

std::string terminalNoticeLine(const NotificationContent& content) {
  return displayText(content.title) + ": " + displayText(content.body);
}

TerminalNotificationCenter::TerminalNotificationCenter(std::ostream& out) : out_(out) {}

void TerminalNotificationCenter::removeDeliveredNotifications(
    const std::vector<std::string>& /*identifiers*/) {}

void TerminalNotificationCenter::requestAuthorization() {}

void TerminalNotificationCenter::add(const std::string& /*identifier*/,
                                     const NotificationContent& content) {
  out_ << terminalNoticeLine(content) << '\n' << std::flush;
}

} // namespace ventaro
