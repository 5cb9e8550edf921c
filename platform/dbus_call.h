#pragma once

// Bounded method calls on a message-bus connection, and what their failures mean.

#include "platform/gio_handles.h"

#include <chrono>
#include <optional>
#include <string>

namespace ventaro::dbus {

/// How a call that got no answer failed.
enum class Failure {
  none,
  /// Nothing came back in time, or the peer went away before answering.
  noAnswer,
  /// Nobody owns the name and the bus could not start anyone (or our bus link is closed).
  nobodyThere,
  /// The peer answered with an error of its own.
  refused,
};

struct Reply {
  /// The reply's body (null for an empty body, or when the call failed).
  gio::VariantPtr body;
  /// The unique bus name of the peer that answered.
  std::string sender;
  Failure failure = Failure::none;

  bool ok() const { return failure == Failure::none; }
};

struct Target {
  const char* destination;
  const char* path;
  const char* interface;
};

/// Calls `method` and waits at most `timeout` for the answer. `arguments` may be floating;
/// a reply whose body is not of `replyType` counts as refused (`replyType` null: any body).
Reply call(GDBusConnection* connection, const Target& target, const char* method,
           GVariant* arguments, const GVariantType* replyType, std::chrono::milliseconds timeout);

/// The unique name that owns `name` now: a name, std::nullopt with `nobodyThere` when it has
/// no owner, or std::nullopt with another failure when the bus did not answer.
std::optional<std::string> nameOwner(GDBusConnection* connection, const char* name,
                                     std::chrono::milliseconds timeout, Failure* failure);

/// Whether the bus can start a service for `name` on demand.
bool nameActivatable(GDBusConnection* connection, const char* name,
                     std::chrono::milliseconds timeout);

} // namespace ventaro::dbus
