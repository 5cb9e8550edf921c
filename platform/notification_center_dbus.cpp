#define G_LOG_DOMAIN "ventaro"

#include "platform/notification_center_dbus.h"

#include "platform/dbus_call.h"

#include <utility>

namespace ventaro {

namespace {

constexpr const char* kServerName = "org.freedesktop.Notifications";
constexpr dbus::Target kServer = {kServerName, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications"};
constexpr const char* kAppName = "Ventaro";
constexpr const char* kDesktopEntry = "ventaro";
// The freedesktop sound theme's name for an arriving message: the usual notice sound.
constexpr const char* kDefaultSound = "message-new-instant";
constexpr gint32 kServerDecidesExpiry = -1;

GVariant* notifyArguments(std::uint32_t replacesId, const NotificationContent& content) {
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(kDesktopEntry));
  if (content.defaultSound) {
    g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string(kDefaultSound));
  } else {
    g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
  }
  return g_variant_new("(susssasa{sv}i)", kAppName, replacesId, "", content.title.c_str(),
                       content.body.c_str(), nullptr, &hints, kServerDecidesExpiry);
}

} // namespace

DbusNotificationCenter::DbusNotificationCenter(gio::ConnectionPtr connection, NoticeIdStore store,
                                               std::ostream& terminal,
                                               std::chrono::milliseconds callTimeout)
    : connection_(std::move(connection)), store_(std::move(store)), terminal_(terminal),
      timeout_(callTimeout) {}

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

void DbusNotificationCenter::withdraw(const std::string& identifier) {
  const std::optional<SavedNotice> saved = store_.load(identifier);
  if (!saved || serverHung_) {
    return; // kept: a later process may find the server answering again
  }
  if (saved->busGuid != busGuid()) {
    // Posted on a bus that is not ours (an earlier session): out of reach from here.
    store_.forget(identifier);
    return;
  }
  dbus::Failure failure = dbus::Failure::none;
  const std::optional<std::string> owner =
      dbus::nameOwner(connection_.get(), kServerName, timeout_, &failure);
  if (!owner && failure != dbus::Failure::nobodyThere) {
    return; // the bus did not answer; try again another time
  }
  if (!owner || *owner != saved->serverName) {
    // The server that showed the notice has left, and its notices with it. Its successor's
    // ids mean other notices: no close is sent to it.
    store_.forget(identifier);
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
  store_.forget(identifier);
}

std::uint32_t DbusNotificationCenter::replaceableId(const std::string& identifier) {
  const std::optional<SavedNotice> saved = store_.load(identifier);
  if (!saved || saved->busGuid != busGuid()) {
    return 0;
  }
  dbus::Failure failure = dbus::Failure::none;
  const std::optional<std::string> owner =
      dbus::nameOwner(connection_.get(), kServerName, timeout_, &failure);
  return owner == saved->serverName ? saved->id : 0;
}

void DbusNotificationCenter::add(const std::string& identifier,
                                 const NotificationContent& content) {
  if (serverHung_) {
    terminal_.add(identifier, content);
    return;
  }
  const dbus::Reply reply = dbus::call(connection_.get(), kServer, "Notify",
                                       notifyArguments(replaceableId(identifier), content),
                                       G_VARIANT_TYPE("(u)"), timeout_);
  switch (reply.failure) {
  case dbus::Failure::none: {
    std::uint32_t id = 0;
    g_variant_get(reply.body.get(), "(u)", &id);
    if (id != 0 && g_dbus_is_unique_name(reply.sender.c_str())) {
      store_.save(identifier, SavedNotice{id, busGuid(), reply.sender});
    } else {
      store_.forget(identifier);
    }
    return;
  }
  case dbus::Failure::noAnswer:
    serverHung_ = true;
    terminal_.add(identifier, content);
    return;
  case dbus::Failure::nobodyThere:
    terminal_.add(identifier, content);
    return;
  case dbus::Failure::refused:
    return;
  }
}

} // namespace ventaro
