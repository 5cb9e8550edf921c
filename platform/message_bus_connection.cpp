#define G_LOG_DOMAIN "ventaro"

#include "platform/message_bus_connection.h"

#include "platform/user_directories.h"

#include <array>
#include <cstring>
#include <glib/gstdio.h>
#include <memory>
#include <pthread.h>

namespace ventaro {

namespace {

// What the asynchronous connect hands back to the waiting caller. Shared with the callback,
// which may outlive the wait: GIO's worker can stay blocked (a FIFO as the nonce file) long
// after the caller has given up.
struct PendingConnect {
  bool succeeded = false;
  GError* error = nullptr;
  bool finished = false;
  bool timedOut = false;

  PendingConnect() = default;
  PendingConnect(const PendingConnect&) = delete;
  PendingConnect& operator=(const PendingConnect&) = delete;
  ~PendingConnect() {
    if (error != nullptr) {
      g_error_free(error);
    }
  }
};

void onInitialised(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::shared_ptr<PendingConnect>> held(
      static_cast<std::shared_ptr<PendingConnect>*>(data));
  PendingConnect& pending = **held;
  pending.succeeded =
      g_async_initable_init_finish(G_ASYNC_INITABLE(source), result, &pending.error);
  pending.finished = true;
}

struct ConnectTimer {
  GCancellable* cancellable;
  PendingConnect* pending;
};

gboolean onConnectTimeout(gpointer data) {
  auto* timer = static_cast<ConnectTimer*>(data);
  timer->pending->timedOut = true;
  g_cancellable_cancel(timer->cancellable);
  return G_SOURCE_REMOVE;
}

// Connects and authenticates, giving up when the attempt outlasts `timeout` whatever GIO's
// worker is doing then (a cancelled attempt can stay blocked in a read of the nonce file). The
// object is made on the caller's main context (where it will emit its signals); only the wait
// runs on a private context, so that no other source of the caller is dispatched meanwhile.
gio::ConnectionPtr authenticate(const std::string& address, std::chrono::milliseconds timeout) {
  // The bus registration (Hello) is left to the caller: GIO would send it without a bound.
  gio::ConnectionPtr connection = gio::adoptConnection(
      G_DBUS_CONNECTION(g_object_new(G_TYPE_DBUS_CONNECTION, "address", address.c_str(), "flags",
                                     G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT, nullptr)));
  gio::MainContextPtr context(g_main_context_new());
  gio::ObjectPtr<GCancellable> cancellable(g_cancellable_new());
  const auto pending = std::make_shared<PendingConnect>();
  ConnectTimer timerData{cancellable.get(), pending.get()};

  g_main_context_push_thread_default(context.get());
  g_async_initable_init_async(G_ASYNC_INITABLE(connection.get()), G_PRIORITY_DEFAULT,
                              cancellable.get(), onInitialised,
                              new std::shared_ptr<PendingConnect>(pending));
  GSource* timer = g_timeout_source_new(static_cast<guint>(timeout.count()));
  g_source_set_callback(timer, onConnectTimeout, &timerData, nullptr);
  g_source_attach(timer, context.get());
  while (!pending->finished && !pending->timedOut) {
    g_main_context_iteration(context.get(), TRUE);
  }
  // A cancelled attempt usually ends at once; its answer is taken if it is already there.
  while (!pending->finished && g_main_context_iteration(context.get(), FALSE)) {
  }
  g_source_destroy(timer);
  g_source_unref(timer);
  g_main_context_pop_thread_default(context.get());

  if (!pending->finished || !pending->succeeded) {
    g_debug("cannot connect to the message bus at %s: %s", address.c_str(),
            !pending->finished          ? "no answer in time"
            : pending->error != nullptr ? pending->error->message
                                        : "unknown error");
    return nullptr;
  }
  return connection;
}

// Whether any entry of the address list uses the autolaunch transport, with which GDBus would
// run dbus-launch: an unbounded wait, and a bus started where the user has none.
bool namesAutolaunch(const std::string& address) {
  gchar** entries = g_strsplit(address.c_str(), ";", -1);
  bool found = false;
  for (gchar** entry = entries; *entry != nullptr; ++entry) {
    const gchar* text = g_strstrip(*entry);
    const char* colon = std::strchr(text, ':');
    const std::string transport = colon != nullptr ? std::string(text, colon) : std::string(text);
    found = found || transport == "autolaunch";
  }
  g_strfreev(entries);
  return found;
}

// Each probe thread waits for this lock, so that all of them are alive at once.
void* waitForTheProbe(void* lock) {
  auto* mutex = static_cast<pthread_mutex_t*>(lock);
  ::pthread_mutex_lock(mutex);
  ::pthread_mutex_unlock(mutex);
  return nullptr;
}

// Whether this process may run the threads GIO needs to connect at the same time (its worker,
// the main-context worker, a pool thread and the pool's spawner). GLib aborts the process when
// it cannot start one of them; under a thread limit the notices go to the terminal instead.
bool threadsCanStart() {
  constexpr int kThreads = 4;
  std::array<pthread_t, kThreads> threads{};
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  ::pthread_mutex_lock(&lock);
  int started = 0;
  while (started < kThreads &&
         ::pthread_create(&threads.at(started), nullptr, waitForTheProbe, &lock) == 0) {
    ++started;
  }
  ::pthread_mutex_unlock(&lock);
  for (int i = 0; i < started; ++i) {
    ::pthread_join(threads.at(i), nullptr);
  }
  return started == kThreads;
}

} // namespace

std::optional<std::string> sessionBusAddress() {
  const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') {
    return std::string(address);
  }
  const std::optional<std::filesystem::path> runtime =
      runtimeDirectory(g_getenv("XDG_RUNTIME_DIR"));
  if (!runtime) {
    return std::nullopt;
  }
  gchar* socketPath = g_build_filename(runtime->c_str(), "bus", nullptr);
  std::optional<std::string> result;
  GStatBuf info;
  if (g_stat(socketPath, &info) == 0 && S_ISSOCK(info.st_mode)) {
    gchar* escaped = g_dbus_address_escape_value(socketPath);
    result = std::string("unix:path=") + escaped;
    g_free(escaped);
  }
  g_free(socketPath);
  return result;
}

gio::ConnectionPtr connectToMessageBus(const std::string& address,
                                       std::chrono::milliseconds timeout) {
  if (namesAutolaunch(address)) {
    g_debug("the bus address %s asks for a bus to be started: not used", address.c_str());
    return nullptr;
  }
  if (!threadsCanStart()) {
    g_debug("no thread can be started to connect to the message bus");
    return nullptr;
  }
  gio::ConnectionPtr connection = authenticate(address, timeout);
  if (!connection) {
    return nullptr;
  }
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "Hello", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
      static_cast<gint>(timeout.count()), nullptr, &error);
  if (reply == nullptr) {
    g_debug("the message bus at %s did not register us: %s", address.c_str(), error->message);
    g_error_free(error);
    g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
    return nullptr;
  }
  g_variant_unref(reply);
  return connection;
}

} // namespace ventaro
