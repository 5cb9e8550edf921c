#include "platform/message_bus_connection.h"
#include "platform/notification_center_dbus.h"
#include "tests/support/notification_bus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace ventaro {
namespace {

using ::testing::ElementsAre;
using testing::HangGuard;
using ::testing::IsEmpty;
using testing::MockNotificationServer;
using ::testing::Pair;
using testing::PrivateSessionBus;
using testing::SilentNotificationServer;
using testing::TemporaryDirectory;
using ::testing::UnorderedElementsAre;

const NotificationContent kStart{"Compute Benchmark", "Ventaro will test FP32 performance.", true};
const NotificationContent kResult{"Test GPU 8 GB", "Ventaro measured 3518 GFLOPS.", true};

// A private bus with the mock server on it; each centre made here is a fresh "process" sharing
// one id directory, as later starts of the program share $XDG_RUNTIME_DIR/ventaro.
class DbusNotificationCenterTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (auto why = testing::notificationBusUnavailable()) {
      GTEST_SKIP() << *why;
    }
    bus.emplace();
    server.emplace(bus->address());
  }

  std::unique_ptr<DbusNotificationCenter>
  makeCenter(std::chrono::milliseconds timeout = kNotificationCallTimeout) {
    gio::ConnectionPtr connection = connectToMessageBus(bus->address(), timeout);
    EXPECT_TRUE(connection);
    return std::make_unique<DbusNotificationCenter>(connection, NoticeIdStore(ids.path()), terminal,
                                                    timeout);
  }

  void replaceServer() {
    server.reset();
    server.emplace(bus->address());
  }

  TemporaryDirectory ids;
  std::ostringstream terminal;
  std::optional<PrivateSessionBus> bus;
  std::optional<MockNotificationServer> server;
};

TEST_F(DbusNotificationCenterTest, PostsWithTheServiceArgumentsAndAsksNoPermission) {
  auto center = makeCenter();
  center->requestAuthorization();
  center->add("Ventaro Start", kStart);
  center->add("Silent", NotificationContent{"Quiet", "no sound", false});

  const auto calls = server->notifyCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].appName, "Ventaro");
  EXPECT_EQ(calls[0].replacesId, 0u);
  EXPECT_EQ(calls[0].appIcon, "");
  EXPECT_EQ(calls[0].summary, "Compute Benchmark");
  EXPECT_EQ(calls[0].body, "Ventaro will test FP32 performance.");
  EXPECT_THAT(calls[0].actions, IsEmpty());
  EXPECT_THAT(calls[0].hints, UnorderedElementsAre(Pair("desktop-entry", "ventaro"),
                                                   Pair("sound-name", "message-new-instant")));
  EXPECT_EQ(calls[0].expireTimeout, -1);
  EXPECT_THAT(calls[1].hints, UnorderedElementsAre(Pair("desktop-entry", "ventaro"),
                                                   Pair("suppress-sound", "true")));
  // Permission is answered at once: the server saw the two notices and nothing else.
  EXPECT_THAT(server->methodNames(), ElementsAre("Notify", "Notify"));
  EXPECT_EQ(terminal.str(), "");
}

TEST_F(DbusNotificationCenterTest, RepostingAnIdentifierReplacesItsNoticeAcrossProcesses) {
  makeCenter()->add("Ventaro Start", kStart);
  auto later = makeCenter();
  later->add("Ventaro Result", kResult);
  later->add("Ventaro Start", kStart);
  later->add("Ventaro Start", kStart);

  const auto calls = server->notifyCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].replacesId, 0u); // first post: id 1
  EXPECT_EQ(calls[1].replacesId, 0u); // another identifier: id 2
  EXPECT_EQ(calls[2].replacesId, 1u); // the earlier process's start notice
  EXPECT_EQ(calls[3].replacesId, 1u);
}

TEST_F(DbusNotificationCenterTest, ALaterProcessWithdrawsWhatAnEarlierOnePosted) {
  makeCenter()->add("Ventaro Start", kStart);
  makeCenter()->add("Ventaro Result", kResult);

  auto later = makeCenter();
  later->removeDeliveredNotifications({"Ventaro Start", "never posted"});
  EXPECT_THAT(server->closeCalls(), ElementsAre(1u));

  // Withdrawn means forgotten: no second close, and a new post is a new notice.
  makeCenter()->removeDeliveredNotifications({"Ventaro Start"});
  makeCenter()->add("Ventaro Start", kStart);
  EXPECT_THAT(server->closeCalls(), ElementsAre(1u));
  EXPECT_EQ(server->notifyCalls().back().replacesId, 0u);
}

TEST_F(DbusNotificationCenterTest, IdsOfAServerThatLeftAreNeitherClosedNorReplacedAtItsSuccessor) {
  makeCenter()->add("Ventaro Start", kStart);
  makeCenter()->add("Ventaro Result", kResult);
  replaceServer();

  auto later = makeCenter();
  later->removeDeliveredNotifications({"Ventaro Start"});
  later->add("Ventaro Result", kResult);

  EXPECT_THAT(server->closeCalls(), IsEmpty());
  ASSERT_EQ(server->notifyCalls().size(), 1u);
  EXPECT_EQ(server->notifyCalls()[0].replacesId, 0u);
}

TEST_F(DbusNotificationCenterTest, IdsSavedOnAnotherBusAreNotOurs) {
  // Every new bus hands out the same unique names again; only the bus GUID tells them apart.
  NoticeIdStore(ids.path())
      .save("Ventaro Start", SavedNotice{1, std::string(32, 'f'), server->uniqueName()});
  auto center = makeCenter();
  center->removeDeliveredNotifications({"Ventaro Start"});
  NoticeIdStore(ids.path())
      .save("Ventaro Start", SavedNotice{1, std::string(32, 'f'), server->uniqueName()});
  center->add("Ventaro Start", kStart);

  EXPECT_THAT(server->closeCalls(), IsEmpty());
  ASSERT_EQ(server->notifyCalls().size(), 1u);
  EXPECT_EQ(server->notifyCalls()[0].replacesId, 0u);
}

TEST_F(DbusNotificationCenterTest, AnUnknownIdAnswerMeansAlreadyGone) {
  auto center = makeCenter();
  center->add("Ventaro Start", kStart);
  server->answerCloseWithInvalidId();

  center->removeDeliveredNotifications({"Ventaro Start"});
  center->removeDeliveredNotifications({"Ventaro Start"});
  center->add("Ventaro Result", kResult);

  EXPECT_THAT(server->closeCalls(), ElementsAre(1u)); // tried once, then forgotten
  EXPECT_EQ(server->notifyCalls().size(), 2u);        // the centre goes on working
  EXPECT_EQ(terminal.str(), "");
}

TEST_F(DbusNotificationCenterTest, ANoticeThatFindsNoServerGoesToTheTerminal) {
  auto center = makeCenter();
  center->add("Ventaro Start", kStart);
  server->stop();

  center->removeDeliveredNotifications({"Ventaro Start"});
  center->add("Ventaro Result", kResult);
  EXPECT_EQ(terminal.str(), "Test GPU 8 GB: Ventaro measured 3518 GFLOPS.\n");
}

// Nothing may hang the program: a server that owns the name and never answers costs one
// bounded wait, after which notices go to the terminal and nothing more is sent to it. The
// guard's bound is generous; this is a hang check, not a timing test.
class HungNotificationServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (auto why = testing::notificationBusUnavailable()) {
      GTEST_SKIP() << *why;
    }
    bus.emplace();
    server.emplace(bus->address());
  }

  TemporaryDirectory ids;
  std::ostringstream terminal;
  std::optional<PrivateSessionBus> bus;
  std::optional<SilentNotificationServer> server;
  static constexpr std::chrono::milliseconds kTimeout{250};
  static constexpr std::chrono::seconds kHangBound{20};
};

TEST_F(HungNotificationServerTest, APostReturnsAndLaterNoticesGoStraightToTheTerminal) {
  DbusNotificationCenter center(connectToMessageBus(bus->address(), kTimeout),
                                NoticeIdStore(ids.path()), terminal, kTimeout);
  {
    const HangGuard guard("posting to a server that never answers", kHangBound);
    center.add("Ventaro Start", kStart);
    center.removeDeliveredNotifications({"Ventaro Start"});
    center.add("Ventaro Result", kResult);
  }
  EXPECT_THAT(server->methodsReceived(), ElementsAre("Notify"));
  EXPECT_EQ(terminal.str(), "Compute Benchmark: Ventaro will test FP32 performance.\n"
                            "Test GPU 8 GB: Ventaro measured 3518 GFLOPS.\n");
}

TEST_F(HungNotificationServerTest, AWithdrawalReturnsAndKeepsTheIdForALaterTry) {
  const NoticeIdStore store(ids.path());
  const SavedNotice earlier{3, bus->guid(), server->uniqueName()};
  store.save("Ventaro Start", earlier);
  DbusNotificationCenter center(connectToMessageBus(bus->address(), kTimeout), store, terminal,
                                kTimeout);
  {
    const HangGuard guard("withdrawing from a server that never answers", kHangBound);
    center.removeDeliveredNotifications({"Ventaro Start"});
    center.removeDeliveredNotifications({"Ventaro Start"});
  }
  EXPECT_THAT(server->methodsReceived(), ElementsAre("CloseNotification"));
  EXPECT_EQ(store.load("Ventaro Start"), earlier);
  EXPECT_EQ(terminal.str(), "");
}

} // namespace
} // namespace ventaro
