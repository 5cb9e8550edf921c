#pragma once

// The notification centre of a desktop session: the freedesktop notification service on the
// session bus, reached through GDBus.

#include "platform/dbus_call.h"
#include "platform/gio_handles.h"
#include "platform/notice_id_store.h"
#include "platform/notification_center.h"
#include "platform/notification_center_terminal.h"

#include <chrono>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace ventaro {

/// Every call gives up after a few seconds; GIO's own default would be 25.
inline constexpr std::chrono::milliseconds kNotificationCallTimeout{3000};

/// Posts with Notify, replaces with replaces_id, withdraws with CloseNotification, and keeps the
/// server's ids in a NoticeIdStore so that a later process can withdraw what this one posted.
///
/// Nothing is reported and nothing waits longer than the call timeout per call. A notice that
/// finds no server at all (it left the bus and none can be started), or that the server refuses
/// or answers with anything but an id, is written on the terminal stream instead, so that a
/// result is never silently lost. A bus or server that does not answer a call in time is taken
/// as hung: that notice and every later one go to the terminal stream, and nothing more is
/// withdrawn, so that a hung server costs one timeout, not one per call. What this process
/// posted it withdraws from memory, even where the store could not keep the id.
///
/// A notice posted without waiting has its answer taken as soon as it comes, from the default
/// main context's loop, so that its id is kept even if the process is killed before its next
/// call; the next call on the centre takes it at the latest, waiting at most until the call
/// timeout after posting (an answer that came later but before that call is still used).
class DbusNotificationCenter final : public NotificationCenter {
public:
  DbusNotificationCenter(gio::ConnectionPtr connection, NoticeIdStore store, std::ostream& terminal,
                         std::chrono::milliseconds callTimeout = kNotificationCallTimeout);
  ~DbusNotificationCenter() override;
  DbusNotificationCenter(const DbusNotificationCenter&) = delete;
  DbusNotificationCenter& operator=(const DbusNotificationCenter&) = delete;

  /// Whether a notification server owns its name on this bus, or the bus can start one.
  static bool serverReachable(GDBusConnection* connection, std::chrono::milliseconds timeout);

  void removeDeliveredNotifications(const std::vector<std::string>& identifiers) override;
  /// The freedesktop service has no permission to ask for: nothing is sent.
  void requestAuthorization() override;
  void add(const std::string& identifier, const NotificationContent& content) override;
  void addWithoutWaiting(const std::string& identifier,
                         const NotificationContent& content) override;

private:
  struct PendingNotice {
    std::string identifier;
    NotificationContent content;
    std::int64_t deadline = 0; // monotonic microseconds
    std::unique_ptr<dbus::PendingCall> call;
  };

  /// Takes the answer of a notice posted without waiting, if one is outstanding.
  void settle();
  /// From the main loop: takes that answer once it has come.
  static int onPendingPoll(void* self);
  /// Before a new notice: settles an earlier answer, then gives the id the notice replaces, or
  /// nothing when the server is hung and the notice has gone to the terminal instead.
  std::optional<std::uint32_t> prepareNotice(const std::string& identifier,
                                             const NotificationContent& content);
  /// Keeps the id the server gave a notice, or sends the notice to the terminal.
  void takeNotifyReply(const std::string& identifier, const NotificationContent& content,
                       const dbus::Reply& reply);
  void withdraw(const std::string& identifier);
  /// The saved id of `identifier` if the server that gave it still owns the name.
  std::uint32_t replaceableId(const std::string& identifier);
  /// What this process posted under `identifier`, else what the store kept of an earlier one.
  std::optional<SavedNotice> postedNotice(const std::string& identifier) const;
  void forget(const std::string& identifier, const SavedNotice& notice);
  /// The server's unique name; `answered` false when the bus did not answer (a timeout marks
  /// the server hung).
  std::optional<std::string> serverOwner(bool* answered);
  std::string busGuid() const;

  gio::ConnectionPtr connection_;
  NoticeIdStore store_;
  TerminalNotificationCenter terminal_;
  std::chrono::milliseconds timeout_;
  bool serverHung_ = false;
  std::map<std::string, SavedNotice> posted_;
  std::optional<PendingNotice> pending_;
  unsigned pendingPoll_ = 0; // the main loop's source that looks for the answer
};

} // namespace ventaro
