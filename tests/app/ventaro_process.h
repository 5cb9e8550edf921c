#pragma once

// The real `ventaro` binary, started in a temporary home of its own: its own settings file
// and runtime directory, no display, and no session bus unless one is given.

#include "tests/support/notification_bus.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

namespace ventaro::testing {

struct Outcome {
  int status = -1; // the exit status; -1 when ended by a signal
  std::string out, err;
  double seconds = 0.0;
};

class VentaroProcess : NoCopy {
public:
  // `wrapper` runs first and ends by running the rest of its command line; `environment`
  // (NAME=value) comes after the home's own variables; `binary` is the program to start,
  // ended after `limitSeconds`. In the sanitizer build every run is also a leak check:
  // LeakSanitizer turns a leak into a failed exit.
  VentaroProcess(const std::filesystem::path& home, const std::vector<std::string>& arguments,
                 const std::optional<std::string>& busAddress, std::vector<std::string> argv = {},
                 const std::vector<std::string>& environment = {}, int limitSeconds = 120,
                 const std::string& binary = VENTARO_BINARY) {
    const std::string root = home.string();
    argv.insert(argv.end(),
                {"env", "-u", "DBUS_SESSION_BUS_ADDRESS", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                 "HOME=" + root, "XDG_CONFIG_HOME=" + root + "/config",
                 "XDG_RUNTIME_DIR=" + root + "/runtime", "ASAN_OPTIONS=detect_leaks=1"});
    if (busAddress) {
      argv.push_back("DBUS_SESSION_BUS_ADDRESS=" + *busAddress);
    }
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.insert(argv.end(), {"timeout", std::to_string(limitSeconds), binary});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<const char*> pointers;
    for (const std::string& argument : argv) {
      pointers.push_back(argument.c_str());
    }
    pointers.push_back(nullptr);
    process_ = g_subprocess_newv(pointers.data(),
                                 static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                               G_SUBPROCESS_FLAGS_STDERR_PIPE),
                                 nullptr);
    EXPECT_NE(process_, nullptr) << "cannot start " << argv.front();
  }
  ~VentaroProcess() {
    if (process_ != nullptr) {
      g_subprocess_send_signal(process_, SIGKILL);
      g_subprocess_wait(process_, nullptr, nullptr);
      g_object_unref(process_);
    }
  }

  bool running() const { return process_ != nullptr && g_subprocess_get_identifier(process_); }
  void stop() { signal(SIGTERM); }
  void signal(int number) { g_subprocess_send_signal(process_, number); } // `timeout` passes it on
  /// Sends `number` to the program itself, past `timeout`, which cannot pass SIGKILL on.
  void signalProgram(int number) {
    const std::string pid = g_subprocess_get_identifier(process_);
    std::ifstream children("/proc/" + pid + "/task/" + pid + "/children");
    pid_t child = 0;
    if (children >> child) {
      ::kill(child, number);
    }
  }

  Outcome finish() {
    Outcome outcome;
    gchar* out = nullptr;
    gchar* err = nullptr;
    if (process_ != nullptr &&
        g_subprocess_communicate_utf8(process_, nullptr, nullptr, &out, &err, nullptr)) {
      outcome.out = out;
      outcome.err = err;
      g_free(out);
      g_free(err);
      outcome.status =
          g_subprocess_get_if_exited(process_) ? g_subprocess_get_exit_status(process_) : -1;
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    return outcome;
  }

private:
  GSubprocess* process_ = nullptr;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// Why a fixture tree cannot be mounted over /sys here, or nothing.
inline std::optional<std::string> sysfsMountUnavailable() {
  if (geteuid() != 0) {
    return "mounting a fixture tree over /sys needs root";
  }
  if (std::system("unshare --mount --propagation private mount -t tmpfs probe "
                  "/sys/devices/platform >/dev/null 2>&1") != 0) {
    return "no unshare, or no private mount namespace with a tmpfs over /sys here";
  }
  return std::nullopt;
}

// Whether this machine has an applesmc device of its own, in either layout.
inline bool hostHasApplesmc() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/acpi/devices", ignored)) {
    if (entry.path().filename().string().starts_with("APP0001:")) {
      return true;
    }
  }
  return std::filesystem::exists("/sys/devices/platform/applesmc.768", ignored);
}

// The folder below /sys where the kernel puts the layout of the fan fixture tree `tree`: the
// platform device for the "flat-…" trees, the ACPI device for the others.
inline std::string applesmcMountPoint(const std::string& tree) {
  return tree.starts_with("flat") ? "devices/platform" : "bus/acpi/devices";
}

// Why the fan fixture tree `tree` cannot stand in for an applesmc device here, or nothing. The
// kernel's platform device is looked for first: it would hide a tree of the other layout.
inline std::optional<std::string> applesmcTreeUnavailable(const std::string& tree) {
  if (auto reason = sysfsMountUnavailable()) {
    return reason;
  }
  if (applesmcMountPoint(tree) != "devices/platform" &&
      std::filesystem::exists("/sys/devices/platform/applesmc.768")) {
    return "this machine's own applesmc device comes before the fixture tree";
  }
  return std::nullopt;
}

// The folder of the fixture tree `tree` that stands for /sys/`at`.
inline std::filesystem::path sysfsFixtureSource(const std::string& tree, const std::string& at) {
  const char* sources = std::getenv("VENTARO_SOURCE_DIR");
  return std::filesystem::path(sources != nullptr ? sources : ".") / "tests/fixtures/sysfs" / tree /
         "sys" / at;
}

// A wrapper that runs the rest of its command line in a private mount namespace whose /sys/`at`
// is a tmpfs holding the same folder of the fixture tree `tree`, with a FIFO in place of every
// file where `fifos` is set.
inline std::vector<std::string> overSysfsFixture(const std::string& tree, const std::string& at,
                                                 bool fifos = false) {
  const std::filesystem::path source = sysfsFixtureSource(tree, at);
  const std::string script =
      std::string("set -e; mount -t tmpfs ventaro-fixture \"$1\"; cp -R \"$2\"/. \"$1\"/; ") +
      (fifos ? "find \"$1\" -type f -exec sh -c 'rm \"$1\"; mkfifo \"$1\"' sh {} \\;; " : "") +
      "shift 2; exec \"$@\"";
  return {"unshare", "--mount", "--propagation", "private",      "sh", "-c",
          script,    "sh",      "/sys/" + at,    source.string()};
}

// The folder of the fan files of the fixture tree `tree` once it is mounted over /sys.
inline std::string fanFolder(const std::string& tree) {
  return tree.starts_with("flat") ? "/sys/devices/platform/applesmc.768"
                                  : "/sys/bus/acpi/devices/APP0001:00/hwmon/hwmon3";
}

// overSysfsFixture for the fan fixture tree `tree`, and in the background, once the file
// `trigger` exists (looked for for two minutes at most), the shell commands `change` run in
// the tree's fan folder.
inline std::vector<std::string> overFanFixtureChangedOn(const std::string& tree,
                                                        const std::filesystem::path& trigger,
                                                        const std::string& change) {
  const std::string at = applesmcMountPoint(tree);
  const std::string script =
      "set -e; mount -t tmpfs ventaro-fixture \"$1\"; cp -R \"$2\"/. \"$1\"/; "
      "(i=0; while [ ! -e \"$3\" ] && [ $i -lt 1200 ]; do sleep 0.1; i=$((i+1)); done; cd " +
      fanFolder(tree) + " && " + change + ") >/dev/null 2>&1 & shift 3; exec \"$@\"";
  return {"unshare",
          "--mount",
          "--propagation",
          "private",
          "sh",
          "-c",
          script,
          "sh",
          "/sys/" + at,
          sysfsFixtureSource(tree, at).string(),
          trigger.string()};
}

// A user made for a test (root only) and removed after it. Its password-database home is `pw`
// in the test's home, which it owns; it runs a copy of the program, made in the home's `bin`
// (the build may lie where the user cannot go, a checkout in /root).
class TestUser : NoCopy {
public:
  explicit TestUser(const std::filesystem::path& home) {
    const std::string name = "ventaro" + std::to_string(getpid());
    std::filesystem::create_directory(home / "pw");
    if (std::system(("useradd -M -d " + (home / "pw").string() + " " + name).c_str()) != 0) {
      return;
    }
    name_ = name;
    std::filesystem::create_directory(home / "bin");
    binary_ = home / "bin" / "ventaro";
    std::filesystem::copy_file(VENTARO_BINARY, binary_);
    const passwd* entry = getpwnam(name.c_str());
    wrapper_ = {"setpriv", "--reuid=" + std::to_string(entry->pw_uid),
                "--regid=" + std::to_string(entry->pw_gid), "--clear-groups"};
    EXPECT_EQ(std::system(("chown -R " + name + ": " + home.string()).c_str()), 0);
  }
  ~TestUser() {
    if (!name_.empty()) {
      EXPECT_EQ(std::system(("userdel " + name_).c_str()), 0);
    }
  }

  /// False where useradd could not make the user.
  bool made() const { return !name_.empty(); }
  /// A wrapper that runs the rest of its command line as the user.
  const std::vector<std::string>& wrapper() const { return wrapper_; }
  /// The copy of the program.
  std::string binary() const { return binary_.string(); }

private:
  std::string name_;
  std::filesystem::path binary_;
  std::vector<std::string> wrapper_;
};

// A temporary home with its settings folder, settings for a short load (a test may write
// others), and a private runtime directory.
class VentaroHome : public ::testing::Test {
protected:
  void SetUp() override {
    std::filesystem::create_directories(home.path() / "config" / "ventaro");
    settings("StressLevel=1\n");
    std::filesystem::create_directory(home.path() / "runtime");
    std::filesystem::permissions(home.path() / "runtime", std::filesystem::perms::owner_all);
  }
  void settings(const std::string& lines) {
    std::ofstream(home.path() / "config" / "ventaro" / "settings.ini") << "[Ventaro]\n" << lines;
  }
  Outcome run(const std::vector<std::string>& arguments,
              const std::optional<std::string>& busAddress = std::nullopt,
              const std::vector<std::string>& wrapper = {},
              const std::vector<std::string>& environment = {}, int limitSeconds = 120) {
    return VentaroProcess(home.path(), arguments, busAddress, wrapper, environment, limitSeconds,
                          binary)
        .finish();
  }

  TemporaryDirectory home;
  std::string binary = VENTARO_BINARY; // the program each run starts
};

// The home, on a private bus with the mock notification server.
class VentaroOnABus : public VentaroHome {
protected:
  void SetUp() override {
    if (const auto reason = notificationBusUnavailable()) {
      GTEST_SKIP() << *reason;
    }
    VentaroHome::SetUp();
    bus.emplace();
    server.emplace(bus->address());
  }

  std::optional<PrivateSessionBus> bus;
  std::optional<MockNotificationServer> server;
};

} // namespace ventaro::testing
