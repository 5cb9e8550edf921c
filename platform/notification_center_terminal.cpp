#include "platform/notification_center_terminal.h"

#include <ostream>

namespace ventaro {

namespace {

void appendOnOneLine(std::string& line, const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    line += (byte < 0x20 || byte == 0x7F) ? ' ' : c;
  }
}

} // namespace

std::string terminalNoticeLine(const NotificationContent& content) {
  std::string line;
  appendOnOneLine(line, content.title);
  line += ": ";
  appendOnOneLine(line, content.body);
  return line;
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
