#define G_LOG_DOMAIN "ventaro"

#include "platform/dbus_call.h"

#include <cstring>
#include <utility>

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

namespace {

// The reply of a call from GIO's answer or error (both may be null; the error is freed).
Reply replyOf(GDBusMessage* answer, GError* error, const char* method, const char* destination,
              const GVariantType* replyType) {
  Reply reply;
  if (answer != nullptr && !g_dbus_message_to_gerror(answer, &error)) {
    GVariant* body = g_dbus_message_get_body(answer);
    if (replyType != nullptr && (body == nullptr || !g_variant_is_of_type(body, replyType))) {
      g_debug("%s: unexpected reply from %s", method, destination);
      reply.failure = Failure::refused;
      return reply;
    }
    reply.body.reset(body != nullptr ? g_variant_ref(body) : nullptr);
    const char* sender = g_dbus_message_get_sender(answer);
    reply.sender = sender != nullptr ? sender : "";
    return reply;
  }
  if (error == nullptr) {
    // Not expected from GIO, but never report a failed call as a success.
    reply.failure = Failure::refused;
    return reply;
  }
  reply.failure = classify(error);
  g_debug("%s on %s failed: %s", method, destination, error->message);
  g_error_free(error);
  return reply;
}

gio::ObjectPtr<GDBusMessage> methodCall(const Target& target, const char* method,
                                        GVariant* arguments) {
  gio::ObjectPtr<GDBusMessage> message(
      g_dbus_message_new_method_call(target.destination, target.path, target.interface, method));
  if (arguments != nullptr) {
    g_dbus_message_set_body(message.get(), arguments);
  }
  return message;
}

} // namespace

Reply call(GDBusConnection* connection, const Target& target, const char* method,
           GVariant* arguments, const GVariantType* replyType, std::chrono::milliseconds timeout) {
  const gio::ObjectPtr<GDBusMessage> message = methodCall(target, method, arguments);
  GError* error = nullptr;
  const gio::ObjectPtr<GDBusMessage> answer(g_dbus_connection_send_message_with_reply_sync(
      connection, message.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, static_cast<gint>(timeout.count()),
      nullptr, nullptr, &error));
  return replyOf(answer.get(), error, method, target.destination, replyType);
}

struct PendingCall::State {
  bool finished = false;
  GDBusMessage* answer = nullptr;
  GError* error = nullptr;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (answer != nullptr) {
      g_object_unref(answer);
    }
    if (error != nullptr) {
      g_error_free(error);
    }
  }
};

namespace {

void onAnswer(GObject* source, GAsyncResult* result, gpointer data) {
  const std::unique_ptr<std::shared_ptr<PendingCall::State>> held(
      static_cast<std::shared_ptr<PendingCall::State>*>(data));
  PendingCall::State& state = **held;
  state.answer = g_dbus_connection_send_message_with_reply_finish(G_DBUS_CONNECTION(source), result,
                                                                  &state.error);
  state.finished = true;
}

gboolean onDeadline(gpointer passed) {
  *static_cast<bool*>(passed) = true;
  return G_SOURCE_REMOVE;
}

} // namespace

PendingCall::PendingCall(GDBusConnection* connection, const Target& target, const char* method,
                         GVariant* arguments, const GVariantType* replyType)
    : method_(method), destination_(target.destination), replyType_(replyType),
      context_(g_main_context_new()), cancellable_(g_cancellable_new()),
      state_(std::make_shared<State>()) {
  const gio::ObjectPtr<GDBusMessage> message = methodCall(target, method, arguments);
  g_main_context_push_thread_default(context_.get());
  g_dbus_connection_send_message_with_reply(
      connection, message.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, G_MAXINT, nullptr,
      cancellable_.get(), onAnswer, new std::shared_ptr<State>(state_));
  g_main_context_pop_thread_default(context_.get());
}

PendingCall::~PendingCall() {
  cancel();
}

void PendingCall::cancel() {
  if (state_->finished) {
    return;
  }
  // GIO answers a cancelled call at once, on the private context: taken here, so that nothing
  // is left waiting on a context nobody serves.
  g_cancellable_cancel(cancellable_.get());
  while (!state_->finished && g_main_context_iteration(context_.get(), FALSE)) {
  }
}

bool PendingCall::answered() {
  while (!state_->finished && g_main_context_iteration(context_.get(), FALSE)) {
  }
  return state_->finished;
}

Reply PendingCall::wait(std::int64_t deadline) {
  while (!state_->finished && g_main_context_iteration(context_.get(), FALSE)) {
  }
  const std::int64_t left = deadline - g_get_monotonic_time();
  if (!state_->finished && left > 0) {
    bool passed = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>((left + 999) / 1000));
    g_source_set_callback(timer, onDeadline, &passed, nullptr);
    g_source_attach(timer, context_.get());
    while (!state_->finished && !passed) {
      g_main_context_iteration(context_.get(), TRUE);
    }
    g_source_destroy(timer);
    g_source_unref(timer);
  }
  if (!state_->finished) {
    cancel();
    Reply reply;
    reply.failure = Failure::noAnswer;
    g_debug("%s on %s failed: Timeout was reached", method_.c_str(), destination_.c_str());
    return reply;
  }
  GError* error = std::exchange(state_->error, nullptr);
  gio::ObjectPtr<GDBusMessage> answer(std::exchange(state_->answer, nullptr));
  return replyOf(answer.get(), error, method_.c_str(), destination_.c_str(), replyType_);
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
