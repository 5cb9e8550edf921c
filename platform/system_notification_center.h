#pragma once

// Chooses the notification centre of this session: desktop notices where a notification
// server can be reached on the session bus, lines on standard output otherwise.

#include "platform/notification_center.h"

#include <chrono>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace ventaro {

/// What the choice depends on; each empty value means "as this session has it".
struct NotificationCenterOptions {
  /// The bus to use instead of the session bus.
  std::optional<std::string> busAddress;
  /// Where notice ids are kept instead of NoticeIdStore::defaultDirectory().
  std::optional<std::filesystem::path> idDirectory;
  /// Where notices go without a server (standard output when null).
  std::ostream* terminal = nullptr;
  /// The bound on connecting and on every call.
  std::chrono::milliseconds callTimeout{3000};
};

/// Connects (bounded), then checks once whether a server owns org.freedesktop.Notifications or
/// can be started; if not, or without a bus, the terminal centre is returned.
std::shared_ptr<NotificationCenter>
makeNotificationCenter(const NotificationCenterOptions& options);

/// The centre the program uses: the session bus, ids in $XDG_RUNTIME_DIR/ventaro/.
std::shared_ptr<NotificationCenter> makeSystemNotificationCenter();

} // namespace ventaro
