// The real `ventaro --login-item`: on this machine, and, where the test may mount, inside a
// private mount namespace whose /sys holds a fixture applesmc tree.

#include "tests/support/notification_bus.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace ventaro {
namespace {

namespace fs = std::filesystem;
using testing::MockNotificationServer;
using testing::PrivateSessionBus;

// Mounts an empty tmpfs over $1, copies the fixture directory $2 into it, then runs the rest.
constexpr char kMountScript[] = R"(set -e
mount -t tmpfs ventaro-fixture "$1"
cp -R "$2"/. "$1"/
shift 2
exec "$@")";

struct Outcome {
  bool ran = false;
  int status = -1;
  std::string out;
  double seconds = 0.0;
};

Outcome spawn(std::vector<std::string> argv) {
  std::vector<char*> pointers;
  for (std::string& argument : argv) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);
  Outcome outcome;
  gchar* out = nullptr;
  gint waitStatus = 0;
  const auto started = std::chrono::steady_clock::now();
  outcome.ran =
      g_spawn_sync(nullptr, pointers.data(), nullptr, static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH),
                   nullptr, nullptr, &out, nullptr, &waitStatus, nullptr);
  outcome.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  outcome.out = out != nullptr ? out : "";
  g_free(out);
  outcome.status = outcome.ran && WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  return outcome;
}

bool hostHasApplesmc() {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/sys/bus/acpi/devices", ignored)) {
    if (entry.path().filename().string().starts_with("APP0001:")) {
      return true;
    }
  }
  return fs::exists("/sys/devices/platform/applesmc.768", ignored);
}

// Why a fixture tree cannot be mounted over /sys here, or nothing.
std::optional<std::string> mountNamespaceUnavailable() {
  if (geteuid() != 0) {
    return "mounting a fixture tree over /sys needs root";
  }
  if (spawn({"unshare", "--mount", "--propagation", "private", "mount", "-t", "tmpfs", "probe",
             "/sys/devices/platform"})
          .status != 0) {
    return "no unshare, or no private mount namespace with a tmpfs over /sys here";
  }
  return std::nullopt;
}

class LoginItemStart : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(home.path() / "config" / "ventaro");
    fs::create_directories(home.path() / "runtime");
    fs::permissions(home.path() / "runtime", fs::perms::owner_all, fs::perm_options::replace);
  }

  void settings(const std::string& lines) {
    std::ofstream(home.path() / "config" / "ventaro" / "settings.ini") << "[Ventaro]\n" << lines;
  }

  // `ventaro --login-item` in the temporary home, with `tree` (a fixture tree's name) mounted
  // where the kernel's driver puts that layout, or on the machine as it is.
  Outcome startAtLogin(const std::optional<std::string>& busAddress,
                       const std::optional<std::string>& tree = std::nullopt) {
    std::vector<std::string> argv;
    if (tree) {
      const std::string at = tree->starts_with("flat") ? "devices/platform" : "bus/acpi/devices";
      const char* sources = std::getenv("VENTARO_SOURCE_DIR");
      const fs::path source = fs::path(sources != nullptr ? sources : ".") / "tests" / "fixtures" /
                              "sysfs" / *tree / "sys" / at;
      argv = {"unshare",    "--mount", "--propagation", "private",      "sh", "-c",
              kMountScript, "sh",      "/sys/" + at,    source.string()};
    }
    const std::string root = home.path().string();
    argv.insert(argv.end(),
                {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "DBUS_SESSION_BUS_ADDRESS",
                 "HOME=" + root, "XDG_CONFIG_HOME=" + root + "/config",
                 "XDG_RUNTIME_DIR=" + root + "/runtime"});
    if (busAddress) {
      argv.push_back("DBUS_SESSION_BUS_ADDRESS=" + *busAddress);
    }
    argv.insert(argv.end(), {"timeout", "120", VENTARO_BINARY, "--login-item"});
    return spawn(argv);
  }

  testing::TemporaryDirectory home;
};

TEST_F(LoginItemStart, WithoutApplesmcPostsNothingAndEndsWithinASecond) {
  if (hostHasApplesmc()) {
    GTEST_SKIP() << "this machine has an applesmc device";
  }
  settings("DelayAtLogin=0\nStressLevel=1\n");
  std::optional<PrivateSessionBus> bus;
  std::optional<MockNotificationServer> server;
  if (!testing::notificationBusUnavailable()) {
    bus.emplace();
    server.emplace(bus->address());
  }

  const Outcome outcome = startAtLogin(bus ? std::optional(bus->address()) : std::nullopt);

  EXPECT_EQ(outcome.status, 0);
  EXPECT_LT(outcome.seconds, 1.0);
  EXPECT_EQ(outcome.out, "") << "without a server a notice would be printed";
  if (server) {
    EXPECT_TRUE(server->notifyCalls().empty());
  }
}

// A login start over a fixture applesmc tree, with a notification server to post to.
class FixtureTreeStart : public LoginItemStart {
protected:
  void SetUp() override {
    if (const auto reason = mountNamespaceUnavailable()) {
      GTEST_SKIP() << *reason;
    }
    if (const auto reason = testing::notificationBusUnavailable()) {
      GTEST_SKIP() << *reason;
    }
    LoginItemStart::SetUp();
    settings("DelayAtLogin=0\nStressLevel=1\n");
    bus.emplace();
    server.emplace(bus->address());
  }

  std::optional<PrivateSessionBus> bus;
  std::optional<MockNotificationServer> server;
};

class LoginItemStartOverFixture : public FixtureTreeStart,
                                  public ::testing::WithParamInterface<const char*> {
protected:
  void SetUp() override {
    // The kernel's platform device is looked for first: it would hide a tree of the other layout.
    if (std::string(GetParam()) == "hwmon" && fs::exists("/sys/devices/platform/applesmc.768")) {
      GTEST_SKIP() << "this machine's own applesmc device comes before the fixture tree";
    }
    FixtureTreeStart::SetUp();
  }
};

TEST_P(LoginItemStartOverFixture, StuckFansAreAnnouncedAndTheLoadRuns) {
  const Outcome outcome = startAtLogin(bus->address(), std::string(GetParam()) + "-stuck");

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "");
  const auto notices = server->notifyCalls();
  ASSERT_EQ(notices.size(), 1u) << "no result notice after a fan reset";
  EXPECT_EQ(notices[0].summary, "High Fan Speed Detected");
  EXPECT_EQ(notices[0].body, "Ventaro will try to reset the fans.");
  EXPECT_EQ(server->closeCalls().size(), 1u) << "the notice is withdrawn before the load";
  EXPECT_GE(outcome.seconds, 5.0) << "the load runs five seconds after the notice";
}

TEST_P(LoginItemStartOverFixture, NormalFansEndTheStartQuietly) {
  const Outcome outcome = startAtLogin(bus->address(), std::string(GetParam()) + "-normal");

  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(server->notifyCalls().empty());
  EXPECT_LT(outcome.seconds, 5.0) << "no run was started";
}

INSTANTIATE_TEST_SUITE_P(Layouts, LoginItemStartOverFixture, ::testing::Values("flat", "hwmon"));

TEST_F(FixtureTreeStart, HiddenNoticeStillRunsTheLoad) {
  settings("DelayAtLogin=0\nStressLevel=1\nHideAtLogin=true\n");
  const Outcome outcome = startAtLogin(bus->address(), "flat-stuck");

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_TRUE(server->notifyCalls().empty());
  EXPECT_GE(outcome.seconds, 5.0) << "the load still runs five seconds after the start";
}

} // namespace
} // namespace ventaro
