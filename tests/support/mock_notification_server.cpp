#include "platform/gio_handles.h"
#include "tests/support/bus_helpers.h"
#include "tests/support/notification_bus.h"

namespace ventaro::testing {

namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

std::string text(GVariant* value) {
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
    return g_variant_get_string(value, nullptr);
  }
  gchar* printed = g_variant_print(value, FALSE);
  std::string result = printed;
  g_free(printed);
  return result;
}

std::int64_t number(GVariant* value) {
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) {
    return g_variant_get_uint32(value);
  }
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
    return g_variant_get_int32(value);
  }
  detail::fail("not a 32-bit number: " + text(value));
}

// One logged call: its method name and its arguments, each unwrapped from its variant.
struct LoggedCall {
  std::string method;
  std::vector<gio::VariantPtr> arguments;
};

std::vector<LoggedCall> unpackCalls(GVariant* reply) {
  std::vector<LoggedCall> calls;
  gio::VariantPtr list(g_variant_get_child_value(reply, 0));
  for (gsize i = 0; i < g_variant_n_children(list.get()); ++i) {
    gio::VariantPtr entry(g_variant_get_child_value(list.get(), i));
    gio::VariantPtr method(g_variant_get_child_value(entry.get(), 1));
    gio::VariantPtr arguments(g_variant_get_child_value(entry.get(), 2));
    LoggedCall call{g_variant_get_string(method.get(), nullptr), {}};
    for (gsize j = 0; j < g_variant_n_children(arguments.get()); ++j) {
      gio::VariantPtr boxed(g_variant_get_child_value(arguments.get(), j));
      call.arguments.emplace_back(g_variant_get_variant(boxed.get()));
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

NotifyCall toNotifyCall(const std::vector<gio::VariantPtr>& a) {
  if (a.size() != 8) {
    detail::fail("Notify logged with " + std::to_string(a.size()) + " arguments");
  }
  NotifyCall call;
  call.appName = text(a[0].get());
  call.replacesId = static_cast<std::uint32_t>(number(a[1].get()));
  call.appIcon = text(a[2].get());
  call.summary = text(a[3].get());
  call.body = text(a[4].get());
  for (gsize i = 0; i < g_variant_n_children(a[5].get()); ++i) {
    gio::VariantPtr action(g_variant_get_child_value(a[5].get(), i));
    call.actions.push_back(text(action.get()));
  }
  GVariantIter hints;
  g_variant_iter_init(&hints, a[6].get());
  const gchar* key = nullptr;
  GVariant* value = nullptr;
  while (g_variant_iter_next(&hints, "{&sv}", &key, &value)) {
    call.hints[key] = text(value);
    g_variant_unref(value);
  }
  call.expireTimeout = static_cast<std::int32_t>(number(a[7].get()));
  return call;
}

} // namespace

MockNotificationServer::MockNotificationServer(const std::string& busAddress) {
  connection_ = detail::openBusConnection(busAddress);
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_SILENCE);
  g_subprocess_launcher_setenv(launcher, "DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), TRUE);
  const std::string python = detail::testPython();
  const gchar* argv[] = {python.c_str(),        "-m",   "dbusmock", "--template",
                         "notification_daemon", nullptr};
  GError* error = nullptr;
  process_ = g_subprocess_launcher_spawnv(launcher, argv, &error);
  g_object_unref(launcher);
  if (process_ == nullptr) {
    g_object_unref(connection_);
    detail::fail("cannot start dbusmock", error);
  }
  const bool owned = detail::waitUntil([this] {
    if (auto owner = detail::ownerOf(connection_, kName)) {
      uniqueName_ = *owner;
      return true;
    }
    return g_subprocess_get_identifier(process_) == nullptr; // exited: stop waiting
  });
  if (!owned || uniqueName_.empty()) {
    stop();
    g_object_unref(connection_);
    detail::fail("the mock notification server did not take its name");
  }
}

MockNotificationServer::~MockNotificationServer() {
  stop();
  g_object_unref(connection_);
}

void MockNotificationServer::stop() {
  if (process_ == nullptr) {
    return;
  }
  g_subprocess_force_exit(process_);
  g_subprocess_wait(process_, nullptr, nullptr);
  g_clear_object(&process_);
  // The bus frees the name once it sees the socket close; wait for that, so that whatever a test
  // does next meets a bus without this server.
  detail::waitUntil([this] { return detail::ownerOf(connection_, kName) != uniqueName_; });
}

GVariant* MockNotificationServer::mockCall(const char* method, GVariant* arguments,
                                           const GVariantType* replyType) const {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      connection_, uniqueName_.c_str(), kPath, "org.freedesktop.DBus.Mock", method, arguments,
      replyType, G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &error);
  if (reply == nullptr) {
    detail::fail(std::string("mock call ") + method + " failed", error);
  }
  return reply;
}

std::vector<NotifyCall> MockNotificationServer::notifyCalls() const {
  const gio::VariantPtr calls(mockCall("GetCalls", nullptr, G_VARIANT_TYPE("(a(tsav))")));
  std::vector<NotifyCall> result;
  for (const LoggedCall& call : unpackCalls(calls.get())) {
    if (call.method == "Notify") {
      result.push_back(toNotifyCall(call.arguments));
    }
  }
  return result;
}

std::vector<std::uint32_t> MockNotificationServer::closeCalls() const {
  const gio::VariantPtr calls(mockCall("GetCalls", nullptr, G_VARIANT_TYPE("(a(tsav))")));
  std::vector<std::uint32_t> result;
  for (const LoggedCall& call : unpackCalls(calls.get())) {
    if (call.method == "CloseNotification" && call.arguments.size() == 1) {
      result.push_back(static_cast<std::uint32_t>(number(call.arguments[0].get())));
    }
  }
  return result;
}

std::vector<std::string> MockNotificationServer::methodNames() const {
  const gio::VariantPtr calls(mockCall("GetCalls", nullptr, G_VARIANT_TYPE("(a(tsav))")));
  std::vector<std::string> result;
  for (const LoggedCall& call : unpackCalls(calls.get())) {
    result.push_back(call.method);
  }
  return result;
}

void MockNotificationServer::answerCloseWithInvalidId() const {
  GVariant* reply =
      mockCall("AddMethod",
               g_variant_new("(sssss)", "", "CloseNotification", "u", "",
                             "raise dbus.exceptions.DBusException('no such notification', "
                             "name='org.freedesktop.Notifications.Error.InvalidId')"),
               nullptr);
  g_variant_unref(reply);
}

} // namespace ventaro::testing
