#pragma once

// Bounded method calls on a message-bus connection, and what their failures mean.

#include "platform/gio_handles.h"

#include <chrono>
#include <cstdint>
#include <memory>
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

/// A call sent without waiting for its answer; the answer is taken when wait() is called. The
/// answer is delivered on a private main context, so nothing of the caller's runs meanwhile.
class PendingCall {
public:
  /// Sends the call; `arguments` may be floating. GIO puts no bound of its own on the answer.
  PendingCall(GDBusConnection* connection, const Target& target, const char* method,
              GVariant* arguments, const GVariantType* replyType);
  /// Cancels a call that is still waiting for its answer.
  ~PendingCall();
  PendingCall(const PendingCall&) = delete;
  PendingCall& operator=(const PendingCall&) = delete;

  /// Whether the answer (or the call's failure) has come; takes what has arrived, never waits.
  bool answered();
  /// The answer; waits for it until `deadline` (g_get_monotonic_time() microseconds) at most.
  /// An answer that has already arrived is taken even after the deadline; none is `noAnswer`.
  Reply wait(std::int64_t deadline);

  struct State; // shared with GIO's callback, which may come after this object is gone

private:
  void cancel();

  std::string method_;
  std::string destination_;
  const GVariantType* replyType_;
  gio::MainContextPtr context_;
  gio::ObjectPtr<GCancellable> cancellable_;
  std::shared_ptr<State> state_;
};

/// The unique name that owns `name` now: a name, std::nullopt with `nobodyThere` when it has
/// no owner, or std::nullopt with another failure when the bus did not answer.
std::optional<std::string> nameOwner(GDBusConnection* connection, const char* name,
                                     std::chrono::milliseconds timeout, Failure* failure);

/// Whether the bus can start a service for `name` on demand.
bool nameActivatable(GDBusConnection* connection, const char* name,
                     std::chrono::milliseconds timeout);

} // namespace ventaro::dbus
