#include "tests/support/bus_helpers.h"
#include "tests/support/notification_bus.h"

namespace ventaro::testing {

namespace {

constexpr const char* kIntrospection = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
  </interface>
</node>)";

void neverAnswered(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                   GVariant*, GDBusMethodInvocation* invocation, gpointer) {
  // Only reached if someone iterates the context; even then, answer late with an error.
  g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
                                             "silent server");
}

} // namespace

// GDBus hands each incoming call to the main context that was the thread default when the
// object was registered. Registering under a context that nobody ever iterates leaves every
// call queued there, unanswered, until the server ends.
SilentNotificationServer::SilentNotificationServer(const std::string& busAddress) {
  connection_ = detail::openBusConnection(busAddress);
  filter_ = g_dbus_connection_add_filter(connection_, record, this, nullptr);
  neverIterated_ = g_main_context_new();

  GError* error = nullptr;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, &error);
  if (node == nullptr) {
    detail::fail("bad introspection data", error);
  }
  static const GDBusInterfaceVTable kVtable = {neverAnswered, nullptr, nullptr, {}};
  g_main_context_push_thread_default(neverIterated_);
  registration_ =
      g_dbus_connection_register_object(connection_, "/org/freedesktop/Notifications",
                                        node->interfaces[0], &kVtable, nullptr, nullptr, &error);
  g_main_context_pop_thread_default(neverIterated_);
  g_dbus_node_info_unref(node);
  if (registration_ == 0) {
    detail::fail("cannot register the silent server", error);
  }

  GVariant* reply = g_dbus_connection_call_sync(
      connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "RequestName", g_variant_new("(su)", "org.freedesktop.Notifications", 4u /* do not queue */),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  if (reply == nullptr) {
    detail::fail("cannot own org.freedesktop.Notifications", error);
  }
  guint32 answer = 0;
  g_variant_get(reply, "(u)", &answer);
  g_variant_unref(reply);
  if (answer != 1 /* primary owner */) {
    detail::fail("org.freedesktop.Notifications is owned by someone else");
  }
  uniqueName_ = g_dbus_connection_get_unique_name(connection_);
}

// Runs on GDBus's worker thread for every message in or out.
GDBusMessage* SilentNotificationServer::record(GDBusConnection*, GDBusMessage* message,
                                               gboolean incoming, gpointer self) {
  auto* server = static_cast<SilentNotificationServer*>(self);
  const char* interface = g_dbus_message_get_interface(message);
  if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL &&
      interface != nullptr && g_str_equal(interface, "org.freedesktop.Notifications")) {
    const std::lock_guard<std::mutex> lock(server->mutex_);
    server->received_.emplace_back(g_dbus_message_get_member(message));
  }
  return message;
}

std::vector<std::string> SilentNotificationServer::methodsReceived() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

SilentNotificationServer::~SilentNotificationServer() {
  g_dbus_connection_unregister_object(connection_, registration_);
  // Closed first: once the worker has closed the stream, the filter runs no more.
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_dbus_connection_remove_filter(connection_, filter_);
  g_object_unref(connection_);
  // Drops the queued calls with their invocations.
  g_main_context_unref(neverIterated_);
}

} // namespace ventaro::testing
