#define G_LOG_DOMAIN "ventaro"

#include "platform/notification_center_dbus.h"

#include "platform/dbus_call.h"
#include "platform/display_text.h"

#include <utility>

namespace ventaro {

namespace {

constexpr const char* kServerName = "org.freedesktop.Notifications";
constexpr dbus::Target kServer = {kServerName, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications"};
constexpr const char* kAppName = "Ventaro";
constexpr const char* kDesktopEntry = "ventaro";
// The application icon installed in the hicolor theme, named as the desktop entry names it.
constexpr const char* kAppIcon = "ventaro";
// The freedesktop sound theme's name for an arriving message: the usual notice sound.
constexpr const char* kDefaultSound = "message-new-instant";
constexpr gint32 kServerDecidesExpiry = -1;
// How often the main loop looks for the answer to a notice posted without waiting.
constexpr guint kPendingPollMilliseconds = 20;

GVariant* notifyArguments(std::uint32_t replacesId, const NotificationContent& content) {
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(kDesktopEntry));
  if (content.defaultSound) {
    g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string(kDefaultSound));
  } else {
    g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
  }
  // The title carries a device name that the hardware or a hypervisor chose: it is made valid
  // UTF-8 without control characters before a D-Bus string may hold it.
  return g_variant_new("(susssasa{sv}i)", kAppName, replacesId, kAppIcon,
                       displayText(content.title).c_str(), displayText(content.body).c_str(),
                       nullptr, &hints, kServerDecidesExpiry);
}

} // namespace

DbusNotificationCenter::DbusNotificationCenter(gio::ConnectionPtr connection, NoticeIdStore store,
                                               std::ostream& terminal,
                                               std::chrono::milliseconds callTimeout)
    : connection_(std::move(connection)), store_(std::move(store)), terminal_(terminal),
      timeout_(callTimeout) {}

DbusNotificationCenter::~DbusNotificationCenter() {
  if (pendingPoll_ != 0) {
    g_source_remove(pendingPoll_);
  }
}

bool DbusNotificationCenter::serverReachable(GDBusConnection* connection,
                                             std::chrono::milliseconds timeout) {
  dbus::Failure failure = dbus::Failure::none;
  if (dbus::nameOwner(connection, kServerName, timeout, &failure)) {
    return true;
  }
  return failure == dbus::Failure::nobodyThere &&
         dbus::nameActivatable(connection, kServerName, timeout);
}

std::string DbusNotificationCenter::busGuid() const {
  const gchar* guid = g_dbus_connection_get_guid(connection_.get());
  return guid != nullptr ? guid : "";
}

void DbusNotificationCenter::requestAuthorization() {}

void DbusNotificationCenter::removeDeliveredNotifications(
    const std::vector<std::string>& identifiers) {
  for (const std::string& identifier : identifiers) {
    withdraw(identifier);
  }
}

std::optional<SavedNotice>
DbusNotificationCenter::postedNotice(const std::string& identifier) const {
  // What this process posted is known without the store, which may have failed to keep it.
  const auto mine = posted_.find(identifier);
  return mine != posted_.end() ? std::optional(mine->second) : store_.load(identifier, busGuid());
}

void DbusNotificationCenter::forget(const std::string& identifier, const SavedNotice& notice) {
  posted_.erase(identifier);
  // Another process may have saved a newer notice under the identifier since: that one stays.
  if (store_.load(identifier, notice.busGuid) == notice) {
    store_.forget(identifier, notice.busGuid);
  }
}

std::optional<std::string> DbusNotificationCenter::serverOwner(bool* answered) {
  dbus::Failure failure = dbus::Failure::none;
  std::optional<std::string> owner =
      dbus::nameOwner(connection_.get(), kServerName, timeout_, &failure);
  if (failure == dbus::Failure::noAnswer) {
    serverHung_ = true; // one wait is all a hung bus gets
  }
  *answered = owner.has_value() || failure == dbus::Failure::nobodyThere;
  return owner;
}

void DbusNotificationCenter::withdraw(const std::string& identifier) {
  settle();
  // Only ids saved on this bus are found: another session's stay where they are.
  const std::optional<SavedNotice> saved = postedNotice(identifier);
  if (!saved || serverHung_) {
    return; // kept: a later process may find the server answering again
  }
  bool answered = false;
  const std::optional<std::string> owner = serverOwner(&answered);
  if (!answered) {
    return; // the bus did not answer; try again another time
  }
  if (!owner || *owner != saved->serverName) {
    // The server that showed the notice has left, and its notices with it. Its successor's
    // ids mean other notices: no close is sent to it.
    forget(identifier, *saved);
    return;
  }
  const dbus::Target server = {owner->c_str(), kServer.path, kServer.interface};
  const dbus::Reply reply = dbus::call(connection_.get(), server, "CloseNotification",
                                       g_variant_new("(u)", saved->id), nullptr, timeout_);
  if (reply.failure == dbus::Failure::noAnswer) {
    serverHung_ = true;
    return;
  }
  // Closed, or the server says the id is unknown (closed by the user or expired), or the server
  // has left: in each case the notice is no longer on the screen.
  forget(identifier, *saved);
}

std::uint32_t DbusNotificationCenter::replaceableId(const std::string& identifier) {
  const std::optional<SavedNotice> saved = postedNotice(identifier);
  if (!saved) {
    return 0;
  }
  bool answered = false;
  return serverOwner(&answered) == saved->serverName ? saved->id : 0;
}

std::optional<std::uint32_t>
DbusNotificationCenter::prepareNotice(const std::string& identifier,
                                      const NotificationContent& content) {
  settle();
  const std::uint32_t replacesId = serverHung_ ? 0 : replaceableId(identifier);
  if (serverHung_) {
    terminal_.add(identifier, content);
    return std::nullopt;
  }
  return replacesId;
}

void DbusNotificationCenter::add(const std::string& identifier,
                                 const NotificationContent& content) {
  const std::optional<std::uint32_t> replacesId = prepareNotice(identifier, content);
  if (!replacesId) {
    return;
  }
  const dbus::Reply reply =
      dbus::call(connection_.get(), kServer, "Notify", notifyArguments(*replacesId, content),
                 G_VARIANT_TYPE("(u)"), timeout_);
  takeNotifyReply(identifier, content, reply);
}

void DbusNotificationCenter::addWithoutWaiting(const std::string& identifier,
                                               const NotificationContent& content) {
  const std::optional<std::uint32_t> replacesId = prepareNotice(identifier, content);
  if (!replacesId) {
    return;
  }
  pending_.emplace(PendingNotice{
      identifier, content, g_get_monotonic_time() + std::chrono::microseconds(timeout_).count(),
      std::make_unique<dbus::PendingCall>(connection_.get(), kServer, "Notify",
                                          notifyArguments(*replacesId, content),
                                          G_VARIANT_TYPE("(u)"))});
  pendingPoll_ =
      g_timeout_add(kPendingPollMilliseconds, &DbusNotificationCenter::onPendingPoll, this);
}

int DbusNotificationCenter::onPendingPoll(void* self) {
  auto* center = static_cast<DbusNotificationCenter*>(self);
  if (!center->pending_ || center->pending_->call->answered()) {
    center->pendingPoll_ = 0;
    center->settle();
    return G_SOURCE_REMOVE;
  }
  if (g_get_monotonic_time() >= center->pending_->deadline) {
    center->pendingPoll_ = 0;
    return G_SOURCE_REMOVE; // no answer in time: the next call says so
  }
  return G_SOURCE_CONTINUE;
}

void DbusNotificationCenter::settle() {
  if (pendingPoll_ != 0) {
    g_source_remove(pendingPoll_);
    pendingPoll_ = 0;
  }
  if (!pending_) {
    return;
  }
  const PendingNotice notice = std::move(*pending_);
  pending_.reset();
  takeNotifyReply(notice.identifier, notice.content, notice.call->wait(notice.deadline));
}

void DbusNotificationCenter::takeNotifyReply(const std::string& identifier,
                                             const NotificationContent& content,
                                             const dbus::Reply& reply) {
  switch (reply.failure) {
  case dbus::Failure::none: {
    std::uint32_t id = 0;
    g_variant_get(reply.body.get(), "(u)", &id);
    if (id != 0 && g_dbus_is_unique_name(reply.sender.c_str())) {
      const SavedNotice notice{id, busGuid(), reply.sender};
      posted_[identifier] = notice;
      store_.save(identifier, notice); // for later processes; this one remembers it anyway
    } else {
      posted_.erase(identifier);
      store_.forget(identifier, busGuid());
    }
    return;
  }
  case dbus::Failure::noAnswer:
    serverHung_ = true;
    terminal_.add(identifier, content);
    return;
  case dbus::Failure::nobodyThere:
  case dbus::Failure::refused:
    // Nobody took the notice, or the server refused it or answered nonsense: either way it is
    // not on the screen, so it goes where the user will still see it.
    terminal_.add(identifier, content);
    return;
  }
}

} // namespace ventaro
