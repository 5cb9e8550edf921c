// The real `ventaro` binary in a temporary home, on a private bus or with none.

#include "tests/support/notification_bus.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace ventaro {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using testing::MockNotificationServer;
using testing::PrivateSessionBus;
using testing::TemporaryDirectory;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  double seconds = 0.0;
};

// A home of its own: settings, runtime directory, no session bus unless one is given.
class VentaroBinary : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(home.path() / "config" / "ventaro");
    fs::create_directories(home.path() / "runtime");
    fs::permissions(home.path() / "runtime", fs::perms::owner_all, fs::perm_options::replace);
  }

  void settings(const std::string& lines) {
    std::ofstream(home.path() / "config" / "ventaro" / "settings.ini") << "[Ventaro]\n" << lines;
  }

  Outcome run(const std::vector<std::string>& arguments,
              const std::optional<std::string>& busAddress = std::nullopt) {
    std::vector<std::string> argv{"timeout", "120", VENTARO_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> argvPointers;
    for (std::string& argument : argv) {
      argvPointers.push_back(argument.data());
    }
    argvPointers.push_back(nullptr);

    const std::string root = home.path().string();
    gchar** environment = g_get_environ();
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"}) {
      environment = g_environ_unsetenv(environment, name);
    }
    const std::pair<const char*, std::string> variables[] = {
        {"HOME", root},
        {"XDG_CONFIG_HOME", root + "/config"},
        {"XDG_RUNTIME_DIR", root + "/runtime"},
        {"DBUS_SESSION_BUS_ADDRESS", busAddress.value_or("")}};
    for (const auto& [name, value] : variables) {
      if (!value.empty()) {
        environment = g_environ_setenv(environment, name, value.c_str(), TRUE);
      }
    }

    Outcome outcome;
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint waitStatus = 0;
    GError* error = nullptr;
    const auto started = std::chrono::steady_clock::now();
    const gboolean spawned =
        g_spawn_sync(root.c_str(), argvPointers.data(), environment, G_SPAWN_SEARCH_PATH, nullptr,
                     nullptr, &out, &err, &waitStatus, &error);
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    g_strfreev(environment);
    if (!spawned) {
      ADD_FAILURE() << "cannot start ventaro: " << error->message;
      g_error_free(error);
      return outcome;
    }
    outcome.out = out;
    outcome.err = err;
    g_free(out);
    g_free(err);
    outcome.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    return outcome;
  }

  TemporaryDirectory home;
};

constexpr char kResultTitle[] = ".+ [0-9]+ (MB|GB)";
constexpr char kResultBody[] = "Ventaro measured [0-9]+ GFLOPS\\.";

TEST_F(VentaroBinary, BenchmarkPostsBothNoticesOnTheSessionBus) {
  if (const auto reason = testing::notificationBusUnavailable()) {
    GTEST_SKIP() << *reason;
  }
  PrivateSessionBus bus;
  MockNotificationServer server(bus.address());
  settings("StressLevel=1\n");

  const Outcome outcome = run({}, bus.address());

  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_GE(outcome.seconds, 5.0) << "the load runs five seconds after the start notice";
  EXPECT_EQ(outcome.out, "");
  const auto notices = server.notifyCalls();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].appName, "Ventaro");
  EXPECT_EQ(notices[0].summary, "Compute Benchmark");
  EXPECT_EQ(notices[0].body, "Ventaro will test FP32 performance.");
  EXPECT_THAT(notices[1].summary, MatchesRegex(kResultTitle));
  EXPECT_THAT(notices[1].body, MatchesRegex(kResultBody));
  EXPECT_EQ(server.closeCalls().size(), 1u) << "the start notice is withdrawn before the load";

  std::vector<std::string> order;
  for (const std::string& method : server.methodNames()) {
    if (method == "Notify" || method == "CloseNotification") {
      order.push_back(method);
    }
  }
  EXPECT_THAT(order, ElementsAre("Notify", "CloseNotification", "Notify"));
}

TEST_F(VentaroBinary, WithoutABusBothNoticesGoToTheTerminal) {
  settings("StressLevel=1\n");
  const Outcome outcome = run({});

  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(
      outcome.out,
      MatchesRegex(std::string("Compute Benchmark: Ventaro will test FP32 performance\\.\n") +
                   kResultTitle + ": " + kResultBody + "\n"));
}

TEST_F(VentaroBinary, LoginStartWithoutAFanAnomalyEndsQuietlyAtOnce) {
  settings("DelayAtLogin=0\nStressLevel=1\n");
  const Outcome outcome = run({"--login-item"});

  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  EXPECT_LT(outcome.seconds, 5.0) << "no run was started";
}

TEST_F(VentaroBinary, UnknownArgumentIsAUsageError) {
  const Outcome outcome = run({"--bogus"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "");
  EXPECT_THAT(outcome.err, HasSubstr("'--bogus'"));
  EXPECT_THAT(outcome.err, HasSubstr("--help"));
}

TEST_F(VentaroBinary, HelpAndVersionPrintAndSucceed) {
  const Outcome help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, MatchesRegex("Usage: ventaro .*"));
  const Outcome version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_THAT(version.out, MatchesRegex("ventaro [0-9]+\\.[0-9]+\\.[0-9]+\n"));
}

} // namespace
} // namespace ventaro
