#define G_LOG_DOMAIN "ventaro"

#include "platform/dbus_call.h"

#include <cstring>

namespace ventaro::dbus {

namespace {

constexpr Target kBus = {"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"};

Failure classify(const GError* error) {
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT)) {
    return Failure::noAnswer;
  }
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
      (error->domain == G_DBUS_ERROR && error->code >= G_DBUS_ERROR_SPAWN_EXEC_FAILED &&
       error->code <= G_DBUS_ERROR_SPAWN_FAILED)) {
    return Failure::nobodyThere;
  }
  return Failure::refused;
}

} // namespace

Reply call(GDBusConnection* connection, const Target& target, const char* method,
           GVariant* arguments, const GVariantType* replyType, std::chrono::milliseconds timeout) {
  Reply reply;
  gio::ObjectPtr<GDBusMessage> message(
      g_dbus_message_new_method_call(target.destination, target.path, target.interface, method));
  if (arguments != nullptr) {
    g_dbus_message_set_body(message.get(), arguments);
  }
  GError* error = nullptr;
  gio::ObjectPtr<GDBusMessage> answer(g_dbus_connection_send_message_with_reply_sync(
      connection, message.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, static_cast<gint>(timeout.count()),
      nullptr, nullptr, &error));
  if (answer && !g_dbus_message_to_gerror(answer.get(), &error)) {
    GVariant* body = g_dbus_message_get_body(answer.get());
    if (replyType != nullptr && (body == nullptr || !g_variant_is_of_type(body, replyType))) {
      g_debug("%s: unexpected reply from %s", method, target.destination);
      reply.failure = Failure::refused;
      return reply;
    }
    reply.body.reset(body != nullptr ? g_variant_ref(body) : nullptr);
    const char* sender = g_dbus_message_get_sender(answer.get());
    reply.sender = sender != nullptr ? sender : "";
    return reply;
  }
  if (error == nullptr) {
    // Not expected from GIO, but never report a failed call as a success.
    reply.failure = Failure::refused;
    return reply;
  }
  reply.failure = classify(error);
  g_debug("%s on %s failed: %s", method, target.destination, error->message);
  g_error_free(error);
  return reply;
}

std::optional<std::string> nameOwner(GDBusConnection* connection, const char* name,
                                     std::chrono::milliseconds timeout, Failure* failure) {
  Reply reply = call(connection, kBus, "GetNameOwner", g_variant_new("(s)", name),
                     G_VARIANT_TYPE("(s)"), timeout);
  *failure = reply.failure;
  if (!reply.ok()) {
    return std::nullopt;
  }
  const gchar* owner = nullptr;
  g_variant_get(reply.body.get(), "(&s)", &owner);
  return std::string(owner);
}

bool nameActivatable(GDBusConnection* connection, const char* name,
                     std::chrono::milliseconds timeout) {
  Reply reply =
      call(connection, kBus, "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), timeout);
  if (!reply.ok()) {
    return false;
  }
  GVariantIter* names = nullptr;
  g_variant_get(reply.body.get(), "(as)", &names);
  bool found = false;
  const gchar* each = nullptr;
  while (!found && g_variant_iter_next(names, "&s", &each)) {
    found = std::strcmp(each, name) == 0;
  }
  g_variant_iter_free(names);
  return found;
}

} // namespace ventaro::dbus
