#include "tests/support/bus_helpers.h"

#include <stdexcept>
#include <thread>

namespace ventaro::testing::detail {

std::string testPython() {
  const char* python = g_getenv("VENTARO_TEST_PYTHON");
  return python != nullptr && *python != '\0' ? python : "/usr/bin/python3";
}

void fail(const std::string& what, GError* error) {
  std::string message = what;
  if (error != nullptr) {
    message += ": ";
    message += error->message;
    g_error_free(error);
  }
  throw std::runtime_error(message);
}

GDBusConnection* openBusConnection(const std::string& address) {
  GError* error = nullptr;
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (connection == nullptr) {
    fail("cannot connect to " + address, error);
  }
  return connection;
}

std::optional<std::string> ownerOf(GDBusConnection* connection, const char* name) {
  GVariant* reply = g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetNameOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
      5000, nullptr, nullptr);
  if (reply == nullptr) {
    return std::nullopt;
  }
  const gchar* owner = nullptr;
  g_variant_get(reply, "(&s)", &owner);
  std::string result = owner;
  g_variant_unref(reply);
  return result;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

} // namespace ventaro::testing::detail
