#pragma once

// Reaching the user's session bus without ever waiting longer than a given bound.

#include "platform/gio_handles.h"

#include <chrono>
#include <optional>
#include <string>

namespace ventaro {

/// The session bus's address: DBUS_SESSION_BUS_ADDRESS, else the socket "bus" in
/// XDG_RUNTIME_DIR when it exists. No bus is started to answer this question.
std::optional<std::string> sessionBusAddress();

/// Opens a private connection to the message bus at `address` (authenticated and
/// registered), or returns null when that fails or takes longer than `timeout`.
/// A private connection never ends the process when the bus goes away.
gio::ConnectionPtr connectToMessageBus(const std::string& address,
                                       std::chrono::milliseconds timeout);

} // namespace ventaro
