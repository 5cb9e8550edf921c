#include "platform/system_notification_center.h"
#include "tests/support/notification_bus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace ventaro {
namespace {

using testing::HangGuard;
using testing::MockNotificationServer;
using testing::MuteSocket;
using testing::PrivateSessionBus;
using testing::ScopedEnvironmentVariable;
using testing::SilentNotificationServer;
using testing::TemporaryDirectory;

const NotificationContent kStart{"Compute Benchmark", "Ventaro will test FP32 performance.", true};
constexpr std::chrono::seconds kHangBound{20};

// Runs what a start of the program does with its centre; returns what reached the terminal.
std::string useLikeTheProgram(NotificationCenter& center, std::ostringstream& terminal) {
  center.removeDeliveredNotifications({"Ventaro Start"});
  center.requestAuthorization();
  center.add("Ventaro Start", kStart);
  center.removeDeliveredNotifications({"Ventaro Start"});
  return terminal.str();
}

TEST(SystemNotificationCenter, WithoutASessionBusNoticesArePrintedOnStandardOutput) {
  TemporaryDirectory home;
  const struct {
    const char* name;
    std::optional<std::string> address;
  } cases[] = {
      {"address pointing nowhere", "unix:path=" + (home.path() / "no-bus").string()},
      {"malformed address", "this is not an address"},
      {"no address and no bus socket", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnvironmentVariable address("DBUS_SESSION_BUS_ADDRESS", c.address);
    ScopedEnvironmentVariable runtime("XDG_RUNTIME_DIR", home.path().string());
    ::testing::internal::CaptureStdout();
    {
      auto center = makeSystemNotificationCenter();
      center->removeDeliveredNotifications({"Ventaro Start"});
      center->requestAuthorization();
      center->add("Ventaro Start", kStart);
      center->removeDeliveredNotifications({"Ventaro Start"});
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Compute Benchmark: Ventaro will test FP32 performance.\n");
    EXPECT_FALSE(std::filesystem::exists(home.path() / "ventaro"));
  }
}

TEST(SystemNotificationCenter, ABusThatNeverAnswersIsGivenUpWithinTheBound) {
  MuteSocket mute;
  std::ostringstream terminal;
  const HangGuard guard("connecting to a bus that never answers", kHangBound);
  auto center = makeNotificationCenter(
      {mute.address(), std::nullopt, &terminal, std::chrono::milliseconds(250)});
  EXPECT_EQ(useLikeTheProgram(*center, terminal),
            "Compute Benchmark: Ventaro will test FP32 performance.\n");
}

class SystemNotificationCenterOnABus : public ::testing::Test {
protected:
  void SetUp() override {
    if (auto why = testing::notificationBusUnavailable()) {
      GTEST_SKIP() << *why;
    }
    bus.emplace();
  }

  TemporaryDirectory runtime;
  std::ostringstream terminal;
  std::optional<PrivateSessionBus> bus;
};

TEST_F(SystemNotificationCenterOnABus, WithoutAServerNoticesGoToTheTerminal) {
  auto center = makeNotificationCenter({bus->address(), runtime.path(), &terminal});
  EXPECT_EQ(useLikeTheProgram(*center, terminal),
            "Compute Benchmark: Ventaro will test FP32 performance.\n");
}

TEST_F(SystemNotificationCenterOnABus, WithAServerTheSessionBusAndTheRuntimeDirectoryAreUsed) {
  MockNotificationServer server(bus->address());
  std::filesystem::create_symlink(bus->socketPath(), runtime.path() / "bus");
  ScopedEnvironmentVariable directory("XDG_RUNTIME_DIR", runtime.path().string());
  // The bus is found by its address, else by the socket in the runtime directory.
  for (const std::optional<std::string>& address :
       {std::optional(bus->address()), std::optional<std::string>()}) {
    SCOPED_TRACE(address.value_or("no address"));
    ScopedEnvironmentVariable variable("DBUS_SESSION_BUS_ADDRESS", address);
    ::testing::internal::CaptureStdout();
    {
      auto center = makeSystemNotificationCenter();
      center->add("Ventaro Start", kStart);
      center->removeDeliveredNotifications({"Ventaro Start"});
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(std::filesystem::is_directory(runtime.path() / "ventaro"));
  }
  ASSERT_EQ(server.notifyCalls().size(), 2u);
  EXPECT_EQ(server.notifyCalls()[1].summary, "Compute Benchmark");
  EXPECT_THAT(server.closeCalls(), ::testing::ElementsAre(1u, 2u));
}

TEST_F(SystemNotificationCenterOnABus, AServerThatNeverAnswersCostsOneBoundedWait) {
  SilentNotificationServer server(bus->address());
  const HangGuard guard("a start against a server that never answers", kHangBound);
  auto center = makeNotificationCenter(
      {bus->address(), runtime.path(), &terminal, std::chrono::milliseconds(250)});
  EXPECT_EQ(useLikeTheProgram(*center, terminal),
            "Compute Benchmark: Ventaro will test FP32 performance.\n");
  EXPECT_THAT(server.methodsReceived(), ::testing::ElementsAre("Notify"));
}

} // namespace
} // namespace ventaro
