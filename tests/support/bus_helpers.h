#pragma once

// Small blocking helpers shared by the bus fixtures (test code: failures throw).

#include <chrono>
#include <functional>
#include <gio/gio.h>
#include <optional>
#include <string>

namespace ventaro::testing::detail {

/// The Python that runs dbusmock: $VENTARO_TEST_PYTHON, else the system's /usr/bin/python3
/// (the one that sees Debian's python3-dbusmock).
std::string testPython();

[[noreturn]] void fail(const std::string& what, GError* error = nullptr);

/// A registered connection to the bus at `address` (caller owns the reference).
GDBusConnection* openBusConnection(const std::string& address);

/// The unique name owning `name`, or nothing.
std::optional<std::string> ownerOf(GDBusConnection* connection, const char* name);

/// Polls until `done` holds, giving up (false) after `limit`.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace ventaro::testing::detail
