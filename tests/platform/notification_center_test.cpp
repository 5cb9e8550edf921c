// The notification centres against real peers: a private bus with the mock server, a server
// or a bus that stops answering, and no bus at all.

#include "platform/message_bus_connection.h"
#include "platform/notification_center_dbus.h"
#include "platform/system_notification_center.h"
#include "tests/support/notification_bus.h"

#include <gmock/gmock.h>
#include <sstream>
#include <unistd.h>

namespace ventaro::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

const NotificationContent kStart{"Compute Benchmark", "Ventaro will test FP32 performance.", true};
const NotificationContent kResult{"Test GPU 8 GB", "Ventaro measured 3518 GFLOPS.", false};
constexpr char kStartLine[] = "Compute Benchmark: Ventaro will test FP32 performance.\n";
constexpr char kResultLine[] = "Test GPU 8 GB: Ventaro measured 3518 GFLOPS.\n";
constexpr std::chrono::milliseconds kShortTimeout{250};

// Ends the test program (SIGALRM) when its scope is not left within 20 s (generous: a hang
// check, not a timing test), so that a hang fails promptly.
struct HangGuard {
  HangGuard() { alarm(20); }
  ~HangGuard() { alarm(0); }
};

// What a start of the program does with its centre before the load.
void useLikeTheProgram(NotificationCenter& center) {
  center.removeDeliveredNotifications({"Ventaro Start"});
  center.requestAuthorization();
  center.add("Ventaro Start", kStart);
  center.removeDeliveredNotifications({"Ventaro Start"});
}

// A private bus with a notification server on it. Each centre made here is a fresh "process"
// sharing one id directory, as later starts share $XDG_RUNTIME_DIR/ventaro.
class NotificationCenterOnABus : public ::testing::Test {
protected:
  void SetUp() override {
    if (auto why = notificationBusUnavailable()) {
      GTEST_SKIP() << *why;
    }
    bus.emplace();
    server.emplace(bus->address());
  }
  std::unique_ptr<DbusNotificationCenter>
  makeCenter(std::chrono::milliseconds timeout = kNotificationCallTimeout) {
    return std::make_unique<DbusNotificationCenter>(connectToMessageBus(bus->address(), timeout),
                                                    NoticeIdStore(ids.path()), terminal, timeout);
  }

  TemporaryDirectory ids;
  std::ostringstream terminal;
  std::optional<PrivateSessionBus> bus;
  std::optional<MockNotificationServer> server;
};

TEST_F(NotificationCenterOnABus, ALaterProcessReplacesAndWithdrawsWhatAnEarlierOnePostedOnce) {
  makeCenter()->add("Ventaro Start", kStart); // id 1
  auto later = makeCenter();
  later->requestAuthorization();         // nothing to ask the server
  later->add("Ventaro Result", kResult); // id 2
  later->add("Ventaro Start", kStart);
  makeCenter()->removeDeliveredNotifications({"Ventaro Start", "never posted"});
  // Withdrawn means forgotten: no second close, and a new post is a new notice.
  makeCenter()->removeDeliveredNotifications({"Ventaro Start"});
  makeCenter()->add("Ventaro Start", kStart); // id 3
  // An id the server no longer knows is already gone: forgotten too, and the centre goes on.
  server->answer("CloseNotification", "u", "",
                 "raise dbus.exceptions.DBusException('gone', "
                 "name='org.freedesktop.Notifications.Error.InvalidId')");
  auto last = makeCenter();
  last->removeDeliveredNotifications({"Ventaro Start"});
  last->removeDeliveredNotifications({"Ventaro Start"});
  last->add("Ventaro Result", kResult);
  EXPECT_THAT(server->closedIds(), ElementsAre("1", "3"));
  const std::vector<Arguments> notices = server->callsOf("Notify");
  ASSERT_EQ(notices.size(), 5u);
  EXPECT_EQ(server->calls().size(), 7u) << "five posts and two closes";
  EXPECT_THAT(notices[0], ElementsAre("Ventaro", "0", "ventaro", "Compute Benchmark",
                                      "Ventaro will test FP32 performance.", "[]",
                                      "{'desktop-entry': <'ventaro'>, "
                                      "'sound-name': <'message-new-instant'>}",
                                      "-1"));
  EXPECT_EQ(notices[1][hints], "{'desktop-entry': <'ventaro'>, 'suppress-sound': <true>}");
  std::vector<std::string> replaced;
  for (const Arguments& call : notices) {
    replaced.push_back(call[replacesId]);
  }
  EXPECT_THAT(replaced, ElementsAre("0", "0", "1", "0", "2"));
  EXPECT_EQ(terminal.str(), "");
}

// Ids of a server that left are not the successor's. Every new bus hands out the same unique
// names again: only the bus GUID tells ids of an earlier session apart.
TEST_F(NotificationCenterOnABus, IdsOfAnotherServerOrBusAreNeitherClosedNorReplaced) {
  auto first = makeCenter();
  first->add("Ventaro Start", kStart);
  first->add("Ventaro Result", kResult);
  server.reset();
  server.emplace(bus->address());
  const NoticeIdStore store(ids.path());
  store.save("Other Bus Start", SavedNotice{1, std::string(32, 'f'), server->uniqueName()});
  store.save("Other Bus Result", SavedNotice{1, std::string(32, 'f'), server->uniqueName()});
  auto center = makeCenter();
  center->removeDeliveredNotifications({"Ventaro Start", "Other Bus Start"});
  center->add("Ventaro Result", kResult);
  center->add("Other Bus Result", kResult);
  EXPECT_THAT(server->closedIds(), IsEmpty());
  ASSERT_EQ(server->callsOf("Notify").size(), 2u);
  EXPECT_EQ(server->callsOf("Notify")[0][replacesId], "0");
  EXPECT_EQ(server->callsOf("Notify")[1][replacesId], "0");
}

// Once the server has left, notices go to the terminal: the rest of this start's, and all of
// a later start's.
TEST_F(NotificationCenterOnABus, AServerThatLeavesBetweenTheNoticesSendsTheResultToTheTerminal) {
  auto center = makeCenter();
  center->add("Ventaro Start", kStart);
  server->stop();
  center->removeDeliveredNotifications({"Ventaro Start"});
  center->add("Ventaro Result", kResult);
  EXPECT_EQ(terminal.str(), kResultLine);
  useLikeTheProgram(*makeNotificationCenter({bus->address(), ids.path(), &terminal}));
  EXPECT_EQ(terminal.str(), std::string(kResultLine) + kStartLine);
}

// Every end-to-end test names the bus by its address; without one it is found in the
// runtime directory.
TEST_F(NotificationCenterOnABus, WithoutAnAddressTheSessionBusIsFoundInTheRuntimeDirectory) {
  std::filesystem::create_symlink(bus->socketPath(), ids.path() / "bus");
  const ScopedEnvironmentVariable runtime("XDG_RUNTIME_DIR", ids.path().string());
  const ScopedEnvironmentVariable address("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
  ::testing::internal::CaptureStdout();
  useLikeTheProgram(*makeSystemNotificationCenter());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(std::filesystem::is_directory(ids.path() / "ventaro"));
  EXPECT_THAT(server->closedIds(), ElementsAre("1"));
}

TEST_F(NotificationCenterOnABus, ABusThatNeverAnswersIsGivenUpWithinTheBound) {
  bus->freeze(true);
  const HangGuard guard;
  useLikeTheProgram(
      *makeNotificationCenter({bus->address(), std::nullopt, &terminal, kShortTimeout}));
  bus->freeze(false);
  EXPECT_EQ(terminal.str(), kStartLine);
}

// A server that owns the name and never answers costs one bounded wait; after it, notices go
// to the terminal and nothing more is sent to it, and saved ids are kept for a later start.
TEST_F(NotificationCenterOnABus, AHungServerCostsOneWaitAndKeepsSavedIds) {
  const SavedNotice earlier{3, bus->guid(), server->uniqueName()};
  NoticeIdStore(ids.path()).save("Ventaro Start", earlier);
  auto center = makeCenter(kShortTimeout);
  server->freeze(true);
  const HangGuard guard;
  center->add("Ventaro Result", kResult);
  center->removeDeliveredNotifications({"Ventaro Start"});
  center->add("Ventaro Start", kStart);
  server->freeze(false);
  EXPECT_THAT(server->calls(), ElementsAre(Pair("Notify", Contains("Test GPU 8 GB"))));
  EXPECT_EQ(NoticeIdStore(ids.path()).load("Ventaro Start", bus->guid()), earlier);
  EXPECT_EQ(terminal.str(), std::string(kResultLine) + kStartLine);
}

} // namespace
} // namespace ventaro::testing
