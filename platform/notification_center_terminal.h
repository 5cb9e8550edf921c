#pragma once

// The notification centre where no notification server can be reached: notices become lines
// on a terminal stream.

#include "platform/notification_center.h"

#include <iosfwd>
#include <string>

namespace ventaro {

/// The one line that stands for a notice: "Title: Body", each shown with displayText: valid
/// UTF-8, and control characters (a line break in a device name, a terminal's CSI) as blanks,
/// so that a notice is always exactly one line and never commands the terminal.
std::string terminalNoticeLine(const NotificationContent& content);

class TerminalNotificationCenter final : public NotificationCenter {
public:
  /// `out` must outlive the centre (standard output in the program).
  explicit TerminalNotificationCenter(std::ostream& out);

  /// Lines already written cannot be taken back: nothing happens.
  void removeDeliveredNotifications(const std::vector<std::string>& identifiers) override;
  void requestAuthorization() override;
  /// Writes the notice's line and flushes it.
  void add(const std::string& identifier, const NotificationContent& content) override;

private:
  std::ostream& out_;
};

} // namespace ventaro
