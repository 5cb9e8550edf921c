// The real `ventaro` against planted files, misbehaving peers and hostile text: every run ends,
// shows its notices somewhere, and writes only into the user's private directory.

#include "tests/app/ventaro_process.h"

#include <cstdlib>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventaro::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;
using ::testing::Not;

const std::string kStartLine = "Compute Benchmark: Ventaro will test FP32 performance\\.\n";
const std::string kResultLine = ".+ [0-9]+ (MB|GB): Ventaro measured [0-9]+ GFLOPS\\.\n";
const std::string kHugeStressLevel = "[Ventaro]\nStressLevel=9223372036854775807\n";

std::size_t entriesIn(const fs::path& directory) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(directory), {}));
}

class HostileHome : public VentaroOnABus {
protected:
  // The file that keeps an identifier's id on this test's bus.
  std::string idFile(const std::string& identifier) const {
    return identifier + "." + bus->guid() + ".notice";
  }
  fs::path runtime() const { return home.path() / "runtime"; }
  fs::path settingsFile() const { return home.path() / "config" / "ventaro" / "settings.ini"; }
  // An id file as an earlier start on this bus would have left it, with `padding` after it.
  void plantId(const std::string& identifier, std::uint32_t id, const std::string& padding = "") {
    fs::create_directories(runtime() / "ventaro");
    std::ofstream(runtime() / "ventaro" / idFile(identifier))
        << "[Notice]\nId=" << id << "\nBus=" << bus->guid() << "\nServer=" << server->uniqueName()
        << "\n"
        << padding;
  }
};

// --- files ---

TEST_F(HostileHome, FifosInPlaceOfTheSettingsAndAnIdFileAreNotWaitedOn) {
  ASSERT_TRUE(fs::remove(settingsFile()) && mkfifo(settingsFile().c_str(), 0600) == 0);
  fs::create_directories(runtime() / "ventaro");
  ASSERT_EQ(mkfifo((runtime() / "ventaro" / idFile("Ventaro%20Start")).c_str(), 0600), 0);
  const Outcome outcome = run({}, bus->address());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(server->callsOf("Notify").size(), 2u);
}

TEST_F(HostileHome, FifosInTheApplesmcTreeCountAsAbsent) {
  if (const auto reason = sysfsMountUnavailable()) {
    GTEST_SKIP() << *reason;
  }
  const Outcome outcome = run({"--login-item"}, bus->address(),
                              overSysfsFixture("flat-stuck", "devices/platform", true));
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(server->callsOf("Notify").empty());
}

TEST_F(HostileHome, OversizedSettingsAndIdFilesAreNotRead) {
  std::ofstream(settingsFile()) << kHugeStressLevel << std::string(1 << 20, '#') << "\n";
  plantId("Ventaro%20Start", 7, "#" + std::string(600, 'x') + "\n");
  EXPECT_EQ(run({}, bus->address()).status, 0) << "the settings' load would never end";
  EXPECT_THAT(server->closedIds(), ElementsAre("1")) << "only its own start notice";
}

// A start notice whose id cannot be kept is withdrawn all the same, from memory.
TEST_F(HostileHome, AnIdDirectoryThatIsAFileALinkOrOpenToOthersIsNotUsed) {
  const fs::path ids = runtime() / "ventaro", elsewhere = home.path() / "victim";
  fs::create_directory(elsewhere);
  const std::function<void()> plant[] = {
      [&] { std::ofstream(ids) << "a file where the directory should be"; },
      [&] { fs::create_directory_symlink(elsewhere, ids); },
      [&] { fs::create_directory(ids), fs::permissions(ids, fs::perms::all); }};
  for (std::size_t i = 0; i < std::size(plant); ++i) {
    fs::remove(ids);
    plant[i]();
    EXPECT_EQ(run({}, bus->address()).status, 0) << i;
    EXPECT_EQ(server->closedIds().size(), i + 1) << i;
  }
  EXPECT_EQ(entriesIn(elsewhere) + entriesIn(ids), 0u);
}

// A user made for the test (removed after it), on a bus that any user may reach.
class AsAnOrdinaryUser : public HostileHome {
protected:
  void SetUp() override {
    HostileHome::SetUp();
    if (IsSkipped() || geteuid() != 0) {
      GTEST_SKIP() << "making a user for the test needs root";
    }
    user.emplace(home.path());
    if (!user->made()) {
      GTEST_SKIP() << "useradd cannot make a user here";
    }
    asUser = user->wrapper();
    binary = user->binary();
    fs::permissions(bus->socketPath().parent_path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(bus->socketPath(), fs::perms::all);
  }
  void TearDown() override { user.reset(); }

  std::optional<TestUser> user;
  std::vector<std::string> asUser;
};

TEST_F(AsAnOrdinaryUser, AnEmptyHomeOrRelativeBaseDirectoriesAreNotTheWorkingDirectory) {
  const fs::path work = home.path() / "work";
  fs::create_directories(work / ".config" / "ventaro");
  std::ofstream(work / ".config" / "ventaro" / "settings.ini") << kHugeStressLevel;
  fs::permissions(work, fs::perms::all); // the user may write where it was started
  std::vector<std::string> wrapper = asUser;
  wrapper.insert(wrapper.end(), {"env", "-C", work.string()});
  const Outcome outcome =
      run({}, bus->address(), wrapper,
          {"HOME=", "XDG_CONFIG_HOME=.config", "XDG_RUNTIME_DIR=", "XDG_CACHE_HOME=c"});
  EXPECT_EQ(outcome.status, 0) << "the working directory's settings were read: " << outcome.err;
  EXPECT_EQ(entriesIn(work), 1u) << "nothing but the planted .config";
  EXPECT_TRUE(fs::exists(home.path() / "pw" / ".cache" / "ventaro" / idFile("Ventaro%20Result")));
}

// --- bus ---

TEST_F(HostileHome, NoticesTheServerRefusesOrAnswersWithoutAnIdGoToTheTerminal) {
  server->answer("Notify", "susssasa{sv}i", "s", R"(self.posts = getattr(self, 'posts', 0) + 1
if self.posts == 1:
    raise dbus.exceptions.DBusException('full', name='org.freedesktop.Notifications.Error')
ret = 'not an id')");
  const Outcome outcome = run({}, bus->address());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.out, MatchesRegex(kStartLine + kResultLine));
}

TEST_F(VentaroHome, AnAutolaunchAddressStartsNoBus) {
  const fs::path bin = home.path() / "bin";
  fs::create_directory(bin);
  std::ofstream(bin / "dbus-launch") << "#!/bin/sh\ntouch \"$0.ran\"\nexec sleep 60\n";
  fs::permissions(bin / "dbus-launch", fs::perms::owner_all);
  const char* path = std::getenv("PATH");
  // GIO runs dbus-launch for an autolaunch address only where a display is named.
  const Outcome outcome =
      run({}, "autolaunch:", {"env", "PATH=" + bin.string() + ":" + (path ? path : "")},
          {"DISPLAY=:99"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.out, MatchesRegex(kStartLine + kResultLine));
  EXPECT_FALSE(fs::exists(bin / "dbus-launch.ran"));
}

TEST_F(HostileHome, ABusThatStopsAnsweringCostsOneWait) {
  plantId("Ventaro%20Result", 7); // one more wait, before Notify, in the old code
  // The bus stops while the server takes the start notice, so no answer reaches the program
  // from then on, however fast its load.
  server->answer("Notify", "susssasa{sv}i", "u",
                 "import os, signal\nos.kill(" + bus->processId() + ", signal.SIGSTOP)\nret = 1");
  const Outcome outcome = run({}, bus->address(), {"env", "G_MESSAGES_DEBUG=ventaro"});
  bus->freeze(false);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.out, ContainsRegex(kResultLine));
  EXPECT_THAT(outcome.out, ContainsRegex("Timeout was reached"));
  EXPECT_THAT(outcome.out + outcome.err,
              Not(ContainsRegex("Timeout was reached(.|\n)*Timeout was reached")));
}

// --- output ---

TEST_F(HostileHome, AnInvalidUtf8ModelNameIsShownSafelyOnBothPaths) {
  if (const auto reason = sysfsMountUnavailable()) {
    GTEST_SKIP() << *reason;
  }
  std::ofstream(home.path() / "cpuinfo") << "processor\t: 0\nmodel name\t: Bad\xff\xfe \xc2\x9b"
                                         << "31m\x1b[2J CPU\n";
  const auto wrapper = std::vector<std::string>(
      {"unshare", "--mount", "--propagation", "private", "sh", "-c",
       "mount --bind \"$0\" /proc/cpuinfo && exec \"$@\"", (home.path() / "cpuinfo").string()});
  VentaroProcess onTheBus(home.path(), {}, bus->address(), wrapper);
  VentaroProcess alone(home.path(), {}, std::nullopt, wrapper);
  const Outcome outcomes[] = {onTheBus.finish(), alone.finish()};
  const auto notices = server->callsOf("Notify");
  ASSERT_EQ(notices.size(), 2u);
  const std::string shown[] = {notices[1][summary],
                               outcomes[1].out.substr(outcomes[1].out.find('\n') + 1)};
  for (const std::string& text : shown) {
    EXPECT_TRUE(text.starts_with("Bad\uFFFD")) << text;
    EXPECT_TRUE(g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr));
    EXPECT_EQ(text.find_first_of("\x1b\x9b"), std::string::npos) << "no ESC, no CSI";
  }
  EXPECT_EQ(outcomes[0].err + outcomes[1].err, "") << "no GLib-CRITICAL";
  EXPECT_TRUE(outcomes[0].status == 0 && outcomes[1].status == 0);
}

} // namespace
} // namespace ventaro::testing
