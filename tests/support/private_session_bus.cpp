#include "tests/support/bus_helpers.h"
#include "tests/support/notification_bus.h"

#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace ventaro::testing {

namespace {

// A session bus that anyone on it may own names on and send to; no service directory, so
// nothing can be started on demand.
std::string busConfiguration(const std::filesystem::path& socket) {
  return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" +
         socket.string() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
}

} // namespace

PrivateSessionBus::PrivateSessionBus() {
  const std::filesystem::path config = directory_.path() / "bus.conf";
  std::ofstream(config) << busConfiguration(socketPath());

  gchar* daemon = g_find_program_in_path("dbus-daemon");
  if (daemon == nullptr) {
    detail::fail("dbus-daemon is not installed");
  }
  const std::string configArgument = "--config-file=" + config.string();
  const gchar* argv[] = {daemon, configArgument.c_str(), "--nofork", "--print-address=1", nullptr};
  GError* error = nullptr;
  // Its complaints (it cannot raise its file limit when run as root) stay out of test logs.
  daemon_ = g_subprocess_newv(argv,
                              static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                            G_SUBPROCESS_FLAGS_STDERR_SILENCE),
                              &error);
  g_free(daemon);
  if (daemon_ == nullptr) {
    detail::fail("cannot start dbus-daemon", error);
  }
  GDataInputStream* out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
  gchar* line = g_data_input_stream_read_line(out, nullptr, nullptr, &error);
  g_object_unref(out);
  if (line == nullptr) {
    g_subprocess_force_exit(daemon_);
    g_subprocess_wait(daemon_, nullptr, nullptr);
    g_clear_object(&daemon_);
    detail::fail("dbus-daemon printed no address", error);
  }
  address_ = line;
  g_free(line);
}

PrivateSessionBus::~PrivateSessionBus() {
  g_subprocess_force_exit(daemon_);
  g_subprocess_wait(daemon_, nullptr, nullptr);
  g_object_unref(daemon_);
}

std::string PrivateSessionBus::guid() const {
  GDBusConnection* connection = detail::openBusConnection(address_);
  std::string guid = g_dbus_connection_get_guid(connection);
  g_object_unref(connection);
  return guid;
}

MuteSocket::MuteSocket() {
  const std::string path = (directory_.path() / "mute").string();
  sockaddr_un socketAddress{};
  socketAddress.sun_family = AF_UNIX;
  if (path.size() >= sizeof(socketAddress.sun_path)) {
    detail::fail("socket path too long: " + path);
  }
  path.copy(socketAddress.sun_path, path.size());
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 ||
      bind(fd_, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) != 0 ||
      listen(fd_, 16) != 0) {
    if (fd_ >= 0) {
      close(fd_);
    }
    detail::fail("cannot listen on " + path);
  }
  gchar* escaped = g_dbus_address_escape_value(path.c_str());
  address_ = std::string("unix:path=") + escaped;
  g_free(escaped);
}

MuteSocket::~MuteSocket() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

} // namespace ventaro::testing
