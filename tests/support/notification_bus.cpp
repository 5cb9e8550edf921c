#include "tests/support/notification_bus.h"

#include "platform/gio_handles.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace ventaro::testing {
namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

// The template's Notify and CloseNotification, keeping the ids on the screen in self.shown.
constexpr const char* kTrackedNotify = R"(self.shown = getattr(self, 'shown', set())
if args[1]:
    ret = args[1]
else:
    ret = self.next_id
    self.next_id += 1
self.shown.add(ret))";
constexpr const char* kTrackedClose = R"(if args[0] in getattr(self, 'shown', set()):
    self.shown.discard(args[0])
    self.EmitSignal('', 'NotificationClosed', 'uu', [args[0], 3]))";

[[noreturn]] void fail(const std::string& what, GError* error = nullptr) {
  const std::string message = error != nullptr ? what + ": " + error->message : what;
  g_clear_error(&error);
  throw std::runtime_error(message);
}

// $VENTARO_TEST_PYTHON, else Debian's own Python, the one that sees python3-dbusmock.
std::string testPython() {
  const char* python = g_getenv("VENTARO_TEST_PYTHON");
  return python != nullptr && *python != '\0' ? python : "/usr/bin/python3";
}

std::optional<std::string> ownerOf(GDBusConnection* connection, const char* name) {
  const gio::VariantPtr reply(g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetNameOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
      5000, nullptr, nullptr));
  if (!reply) {
    return std::nullopt;
  }
  const gchar* owner = nullptr;
  g_variant_get(reply.get(), "(&s)", &owner);
  return owner;
}

std::string text(GVariant* value) {
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
    return g_variant_get_string(value, nullptr);
  }
  gchar* printed = g_variant_print(value, FALSE);
  std::string result = printed;
  g_free(printed);
  return result;
}

void stopProcess(GSubprocess*& process) {
  g_subprocess_force_exit(process);
  g_subprocess_wait(process, nullptr, nullptr);
  g_clear_object(&process);
}

} // namespace

std::optional<std::string> notificationBusUnavailable() {
  static const std::optional<std::string> reason = []() -> std::optional<std::string> {
    gchar* daemon = g_find_program_in_path("dbus-daemon");
    if (daemon == nullptr) {
      return "dbus-daemon is not installed (Debian package dbus-daemon)";
    }
    g_free(daemon);
    const std::string python = testPython();
    const std::string command = python + " -c 'import dbusmock' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
      return python + " cannot import dbusmock (Debian package python3-dbusmock)";
    }
    return std::nullopt;
  }();
  return reason;
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

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ventaro-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    fail("cannot make a temporary directory");
  }
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

// Anyone may own any name and send anywhere; no service directory, so nothing is activatable.
// Any user may connect, but only through a directory that only its owner can enter.
PrivateSessionBus::PrivateSessionBus() : address_("unix:path=" + socketPath().string()) {
  const std::filesystem::path config = directory_.path() / "bus.conf";
  std::ofstream(config)
      << "<busconfig><type>session</type><listen>" << address_ << "</listen><auth>EXTERNAL</auth>"
      << "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\"/>"
      << "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
  const std::string configArgument = "--config-file=" + config.string();
  const gchar* argv[] = {"dbus-daemon", configArgument.c_str(), "--nofork", "--print-address",
                         nullptr};
  GError* error = nullptr;
  // Its complaints (it cannot raise its file limit as root) stay out of the test logs.
  daemon_ = g_subprocess_newv(argv,
                              static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                            G_SUBPROCESS_FLAGS_STDERR_SILENCE),
                              &error);
  if (daemon_ == nullptr) {
    fail("cannot start dbus-daemon", error);
  }
  // It prints its address, the GUID last, once it listens; nothing, when it cannot start.
  GDataInputStream* output = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
  gchar* line = g_data_input_stream_read_line(output, nullptr, nullptr, nullptr);
  g_object_unref(output);
  const std::string printed = line != nullptr ? line : "";
  g_free(line);
  if (printed.find(",guid=") == std::string::npos) {
    stopProcess(daemon_);
    fail("dbus-daemon did not listen on " + address_);
  }
  guid_ = printed.substr(printed.rfind('=') + 1);
}

PrivateSessionBus::~PrivateSessionBus() {
  stopProcess(daemon_);
}

void PrivateSessionBus::freeze(bool stopped) const {
  g_subprocess_send_signal(daemon_, stopped ? SIGSTOP : SIGCONT);
}

MockNotificationServer::MockNotificationServer(const std::string& busAddress) {
  GError* error = nullptr;
  connection_ = g_dbus_connection_new_for_address_sync(
      busAddress.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (connection_ == nullptr) {
    fail("cannot connect to " + busAddress, error);
  }
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_SILENCE);
  g_subprocess_launcher_setenv(launcher, "DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), TRUE);
  const std::string python = testPython();
  const gchar* argv[] = {python.c_str(),        "-m",   "dbusmock", "--template",
                         "notification_daemon", nullptr};
  process_ = g_subprocess_launcher_spawnv(launcher, argv, &error);
  g_object_unref(launcher);
  if (process_ == nullptr) {
    g_object_unref(connection_);
    fail("cannot start dbusmock", error);
  }
  waitUntil([this] {
    uniqueName_ = ownerOf(connection_, kName).value_or("");
    return !uniqueName_.empty() || g_subprocess_get_identifier(process_) == nullptr;
  });
  if (uniqueName_.empty()) {
    stopProcess(process_);
    g_object_unref(connection_);
    fail("the mock notification server did not take its name");
  }
  answer("Notify", "susssasa{sv}i", "u", kTrackedNotify);
  answer("CloseNotification", "u", "", kTrackedClose);
  answer("OnScreen", "", "au", "ret = sorted(getattr(self, 'shown', set()))");
}

MockNotificationServer::~MockNotificationServer() {
  stop();
  g_object_unref(connection_);
}

void MockNotificationServer::freeze(bool stopped) const {
  g_subprocess_send_signal(process_, stopped ? SIGSTOP : SIGCONT);
}

void MockNotificationServer::stop() {
  if (process_ != nullptr) {
    stopProcess(process_);
    // The bus frees the name once it sees the socket close.
    waitUntil([this] { return ownerOf(connection_, kName) != uniqueName_; });
  }
}

GVariant* MockNotificationServer::mockCall(const char* method, GVariant* arguments,
                                           const GVariantType* reply) const {
  GError* error = nullptr;
  GVariant* answer = g_dbus_connection_call_sync(
      connection_, uniqueName_.c_str(), kPath, "org.freedesktop.DBus.Mock", method, arguments,
      reply, G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &error);
  if (answer == nullptr) {
    fail(std::string("mock call ") + method + " failed", error);
  }
  return answer;
}

std::vector<std::pair<std::string, Arguments>> MockNotificationServer::calls() const {
  const gio::VariantPtr reply(mockCall("GetCalls", nullptr, G_VARIANT_TYPE("(a(tsav))")));
  std::vector<std::pair<std::string, Arguments>> calls;
  GVariantIter* entries = nullptr;
  g_variant_get(reply.get(), "(a(tsav))", &entries);
  guint64 time = 0;
  const gchar* method = nullptr;
  GVariantIter* arguments = nullptr;
  while (g_variant_iter_loop(entries, "(t&sav)", &time, &method, &arguments)) {
    auto& [name, values] = calls.emplace_back(method, Arguments{});
    GVariant* value = nullptr;
    while (g_variant_iter_loop(arguments, "v", &value)) {
      values.push_back(text(value));
    }
  }
  g_variant_iter_free(entries);
  return calls;
}

std::vector<Arguments> MockNotificationServer::callsOf(const std::string& method) const {
  std::vector<Arguments> found;
  for (auto& [name, arguments] : calls()) {
    if (name == method) {
      found.push_back(std::move(arguments));
    }
  }
  return found;
}

std::vector<std::uint32_t> MockNotificationServer::onScreen() const {
  GError* error = nullptr;
  const gio::VariantPtr reply(g_dbus_connection_call_sync(
      connection_, uniqueName_.c_str(), kPath, kName, "OnScreen", nullptr, G_VARIANT_TYPE("(au)"),
      G_DBUS_CALL_FLAGS_NO_AUTO_START, 10000, nullptr, &error));
  if (!reply) {
    fail("OnScreen failed", error);
  }
  std::vector<std::uint32_t> ids;
  GVariantIter* entries = nullptr;
  g_variant_get(reply.get(), "(au)", &entries);
  guint32 id = 0;
  while (g_variant_iter_next(entries, "u", &id)) {
    ids.push_back(id);
  }
  g_variant_iter_free(entries);
  return ids;
}

void MockNotificationServer::answerNotifyLate(double seconds) const {
  answer("Notify", "susssasa{sv}i", "u",
         "import time\nif not getattr(self, 'answered_late', False):\n"
         "    self.answered_late = True\n    time.sleep(" +
             std::to_string(seconds) + ")\n" + kTrackedNotify);
}

std::vector<std::string> MockNotificationServer::closedIds() const {
  std::vector<std::string> ids;
  for (const Arguments& arguments : callsOf("CloseNotification")) {
    ids.push_back(arguments.at(0));
  }
  return ids;
}

void MockNotificationServer::answer(const std::string& method, const std::string& inSignature,
                                    const std::string& outSignature,
                                    const std::string& code) const {
  g_variant_unref(mockCall("AddMethod",
                           g_variant_new("(sssss)", "", method.c_str(), inSignature.c_str(),
                                         outSignature.c_str(), code.c_str()),
                           nullptr));
}

} // namespace ventaro::testing
