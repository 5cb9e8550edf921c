#pragma once

// Real peers for the notification tests: a private session bus and the python3-dbusmock
// notification server, either of which can be stopped to hang its callers; with the scoped
// helpers those tests share.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gio/gio.h>
#include <optional>
#include <string>
#include <vector>

namespace ventaro::testing {

struct NoCopy {
  NoCopy() = default;
  NoCopy(const NoCopy&) = delete;
  NoCopy& operator=(const NoCopy&) = delete;
};

/// Why the bus tests cannot run here (no dbus-daemon, no python3-dbusmock), or nothing.
std::optional<std::string> notificationBusUnavailable();

/// Polls until `done` holds; false when `limit` passes first.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

class TemporaryDirectory : NoCopy {
public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
};

/// Sets (or, with nothing, unsets) an environment variable for its scope.
class ScopedEnvironmentVariable : NoCopy {
public:
  ScopedEnvironmentVariable(std::string name, const std::optional<std::string>& value)
      : name_(std::move(name)) {
    if (const char* old = g_getenv(name_.c_str())) {
      saved_ = old;
    }
    set(value);
  }
  ~ScopedEnvironmentVariable() { set(saved_); }

private:
  void set(const std::optional<std::string>& value) const {
    if (value) {
      g_setenv(name_.c_str(), value->c_str(), TRUE);
    } else {
      g_unsetenv(name_.c_str());
    }
  }

  std::string name_;
  std::optional<std::string> saved_;
};

/// A dbus-daemon of its own (session type, nothing activatable). Throws when it cannot start.
class PrivateSessionBus : NoCopy {
public:
  PrivateSessionBus();
  ~PrivateSessionBus();
  const std::string& address() const { return address_; }
  std::filesystem::path socketPath() const { return directory_.path() / "bus"; }
  const std::string& guid() const { return guid_; }
  /// Stops (SIGSTOP) or resumes the daemon: a bus that hangs every caller, connecting included.
  void freeze(bool stopped) const;
  /// The daemon's process id, for a peer that stops the bus at a chosen moment of its own.
  std::string processId() const { return g_subprocess_get_identifier(daemon_); }

private:
  TemporaryDirectory directory_;
  std::string address_;
  std::string guid_;
  GSubprocess* daemon_ = nullptr;
};

/// A call's arguments as the server received them: texts as themselves, other values in
/// GVariant text form; Notify's in the order of NotifyArgument.
using Arguments = std::vector<std::string>;
enum NotifyArgument { appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout };

/// python3-dbusmock's notification_daemon template: answers Notify with increasing ids (or
/// the replaces_id), logs every call and keeps what is on the screen (shown and not closed).
/// Throws when it cannot start.
class MockNotificationServer : NoCopy {
public:
  explicit MockNotificationServer(const std::string& busAddress);
  ~MockNotificationServer();

  /// Every call received, in order: the method's name and its arguments.
  std::vector<std::pair<std::string, Arguments>> calls() const;
  std::vector<Arguments> callsOf(const std::string& method) const;
  std::vector<std::string> closedIds() const; // the ids CloseNotification was called with
  /// The ids of the notices still on the screen: posted and neither closed nor replaced.
  std::vector<std::uint32_t> onScreen() const;
  /// The next Notify is answered only `seconds` after it came (the server does nothing else
  /// meanwhile), as a busy desktop shell answers; later ones at once.
  void answerNotifyLate(double seconds) const;
  const std::string& uniqueName() const { return uniqueName_; }
  /// From now on `method` (taking `inSignature`) runs the Python `code` (dbusmock's AddMethod;
  /// `args` holds the call's arguments, `ret` the answer) and answers with `outSignature`.
  void answer(const std::string& method, const std::string& inSignature,
              const std::string& outSignature, const std::string& code) const;
  /// Stops (SIGSTOP) or resumes the server: it keeps its name and answers nothing meanwhile.
  void freeze(bool stopped) const;
  /// Ends the server and waits until its name is free.
  void stop();

private:
  GVariant* mockCall(const char* method, GVariant* arguments, const GVariantType* reply) const;

  GDBusConnection* connection_ = nullptr;
  GSubprocess* process_ = nullptr;
  std::string uniqueName_;
};

} // namespace ventaro::testing
