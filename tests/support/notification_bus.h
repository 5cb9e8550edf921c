#pragma once

// A private session bus with a notification server on it, for tests that talk to a real peer.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <gio/gio.h>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ventaro::testing {

/// Why the bus tests cannot run here (no dbus-daemon, no python3-dbusmock), or nothing.
std::optional<std::string> notificationBusUnavailable();

/// A temporary directory, removed with its contents at the end.
class TemporaryDirectory {
public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
};

/// Ends the test program with a message when the scope it guards is not left within `bound`:
/// a hang becomes a prompt failure instead of a stuck test run.
class HangGuard {
public:
  HangGuard(std::string what, std::chrono::milliseconds bound);
  ~HangGuard();
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;

private:
  std::mutex mutex_;
  std::condition_variable left_;
  bool done_ = false;
  std::thread watchdog_;
};

/// Sets (or, with std::nullopt, unsets) an environment variable and restores it at the end.
class ScopedEnvironmentVariable {
public:
  ScopedEnvironmentVariable(std::string name, const std::optional<std::string>& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
  std::string name_;
  std::optional<std::string> saved_;
};

/// A dbus-daemon of its own (session type, nothing activatable), stopped at the end.
/// Throws std::runtime_error when it cannot be started.
class PrivateSessionBus {
public:
  PrivateSessionBus();
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  const std::string& address() const { return address_; }
  /// The bus's listening socket.
  std::filesystem::path socketPath() const { return directory_.path() / "bus"; }
  /// The GUID the bus answers to clients with (it differs from bus to bus).
  std::string guid() const;

private:
  TemporaryDirectory directory_;
  GSubprocess* daemon_ = nullptr;
  std::string address_;
};

/// What a Notify call carried, as the server received it.
struct NotifyCall {
  std::string appName;
  std::uint32_t replacesId = 0;
  std::string appIcon;
  std::string summary;
  std::string body;
  std::vector<std::string> actions;
  /// Each hint's value: a text as itself, anything else in GVariant text form.
  std::map<std::string, std::string> hints;
  std::int32_t expireTimeout = 0;
};

/// The notification-daemon mock of python3-dbusmock on a given bus. It answers Notify with
/// increasing ids (or the replaces_id when one is given) and logs every call, read back here.
/// Throws std::runtime_error when it cannot be started.
class MockNotificationServer {
public:
  explicit MockNotificationServer(const std::string& busAddress);
  ~MockNotificationServer();
  MockNotificationServer(const MockNotificationServer&) = delete;
  MockNotificationServer& operator=(const MockNotificationServer&) = delete;

  std::vector<NotifyCall> notifyCalls() const;
  /// The ids passed to CloseNotification, in order.
  std::vector<std::uint32_t> closeCalls() const;
  /// Every logged method, in the order the calls arrived.
  std::vector<std::string> methodNames() const;
  /// The server's unique bus name.
  const std::string& uniqueName() const { return uniqueName_; }

  /// From now on CloseNotification answers org.freedesktop.Notifications.Error.InvalidId.
  void answerCloseWithInvalidId() const;
  /// Ends the server and waits until its name is free.
  void stop();

private:
  GVariant* mockCall(const char* method, GVariant* arguments, const GVariantType* replyType) const;

  GDBusConnection* connection_ = nullptr;
  GSubprocess* process_ = nullptr;
  std::string uniqueName_;
};

/// Owns org.freedesktop.Notifications on a bus and never answers a call made to it.
class SilentNotificationServer {
public:
  explicit SilentNotificationServer(const std::string& busAddress);
  ~SilentNotificationServer();
  SilentNotificationServer(const SilentNotificationServer&) = delete;
  SilentNotificationServer& operator=(const SilentNotificationServer&) = delete;

  const std::string& uniqueName() const { return uniqueName_; }
  /// The methods of the notification interface called on it so far, in arrival order.
  std::vector<std::string> methodsReceived() const;

private:
  static GDBusMessage* record(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                              gpointer self);

  mutable std::mutex mutex_;
  std::vector<std::string> received_;
  guint filter_ = 0;
  GDBusConnection* connection_ = nullptr;
  GMainContext* neverIterated_ = nullptr;
  guint registration_ = 0;
  std::string uniqueName_;
};

/// A Unix socket that accepts connections (through its backlog) and never says a word: a bus
/// address that hangs every client trying to authenticate.
class MuteSocket {
public:
  MuteSocket();
  ~MuteSocket();
  MuteSocket(const MuteSocket&) = delete;
  MuteSocket& operator=(const MuteSocket&) = delete;

  const std::string& address() const { return address_; }

private:
  TemporaryDirectory directory_;
  int fd_ = -1;
  std::string address_;
};

} // namespace ventaro::testing
