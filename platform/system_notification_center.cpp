#include "platform/system_notification_center.h"

#include "platform/message_bus_connection.h"
#include "platform/notification_center_dbus.h"
#include "platform/notification_center_terminal.h"

#include <iostream>

namespace ventaro {

std::shared_ptr<NotificationCenter>
makeNotificationCenter(const NotificationCenterOptions& options) {
  std::ostream& terminal = options.terminal != nullptr ? *options.terminal : std::cout;
  const std::optional<std::string> address =
      options.busAddress ? options.busAddress : sessionBusAddress();
  gio::ConnectionPtr connection =
      address ? connectToMessageBus(*address, options.callTimeout) : nullptr;
  if (!connection ||
      !DbusNotificationCenter::serverReachable(connection.get(), options.callTimeout)) {
    if (connection) {
      g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
    }
    return std::make_shared<TerminalNotificationCenter>(terminal);
  }
  NoticeIdStore store(options.idDirectory.value_or(NoticeIdStore::defaultDirectory()));
  return std::make_shared<DbusNotificationCenter>(std::move(connection), std::move(store), terminal,
                                                  options.callTimeout);
}

std::shared_ptr<NotificationCenter> makeSystemNotificationCenter() {
  return makeNotificationCenter(NotificationCenterOptions{});
}

} // namespace ventaro
