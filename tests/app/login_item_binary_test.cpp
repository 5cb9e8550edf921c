// The real `ventaro --login-item`: on this machine, and, where the test may mount, inside a
// private mount namespace whose /sys holds a fixture applesmc tree.

#include "tests/app/ventaro_process.h"

namespace ventaro::testing {
namespace {

namespace fs = std::filesystem;

bool hostHasApplesmc() {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/sys/bus/acpi/devices", ignored)) {
    if (entry.path().filename().string().starts_with("APP0001:")) {
      return true;
    }
  }
  return fs::exists("/sys/devices/platform/applesmc.768", ignored);
}

TEST_F(VentaroHome, LoginStartWithoutApplesmcPostsNothingAndEndsAtOnce) {
  if (hostHasApplesmc()) {
    GTEST_SKIP() << "this machine has an applesmc device";
  }
  settings("DelayAtLogin=0\nStressLevel=1\n");
  std::optional<PrivateSessionBus> bus;
  std::optional<MockNotificationServer> server;
  if (!notificationBusUnavailable()) {
    bus.emplace();
    server.emplace(bus->address());
  }
  const Outcome outcome = run({"--login-item"}, bus ? std::optional(bus->address()) : std::nullopt);

  EXPECT_EQ(outcome.status, 0) << outcome.err;
  // A run would wait five seconds first; the bound leaves room for a loaded sanitizer build.
  EXPECT_LT(outcome.seconds, 5.0);
  EXPECT_EQ(outcome.out + outcome.err, "") << "without a server a notice would be printed";
  if (server) {
    EXPECT_TRUE(server->callsOf("Notify").empty());
  }

  const Outcome check = run({"--check-fans"});
  EXPECT_EQ(check.status, 3) << "nothing to check";
  EXPECT_EQ(check.out, "");
  EXPECT_EQ(check.err, "ventaro: no SMC found (no applesmc device in /sys)\n");
}

struct FixtureCase {
  const char* tree;
  bool hidden;
  bool notice; // "High Fan Speed Detected" is posted
  bool load;   // the load runs, five seconds after the start
};

void PrintTo(const FixtureCase& c, std::ostream* out) {
  *out << c.tree << (c.hidden ? " hidden" : "");
}

class LoginStartOverFixture : public VentaroOnABus,
                              public ::testing::WithParamInterface<FixtureCase> {
protected:
  void SetUp() override {
    if (const auto reason = sysfsMountUnavailable()) {
      GTEST_SKIP() << *reason;
    }
    // The kernel's platform device is looked for first: it would hide a tree of the other layout.
    if (!flat() && fs::exists("/sys/devices/platform/applesmc.768")) {
      GTEST_SKIP() << "this machine's own applesmc device comes before the fixture tree";
    }
    VentaroOnABus::SetUp();
  }

  bool flat() const { return std::string(GetParam().tree).starts_with("flat"); }

  // `ventaro` with the fixture tree mounted where the kernel puts its layout.
  Outcome startOverTree(const std::vector<std::string>& arguments = {"--login-item"}) {
    return run(arguments, bus->address(),
               overSysfsFixture(GetParam().tree, flat() ? "devices/platform" : "bus/acpi/devices"));
  }
};

TEST_P(LoginStartOverFixture, OnlyStuckFansStartTheLoad) {
  const FixtureCase& c = GetParam();
  settings(std::string("DelayAtLogin=0\nStressLevel=1\nHideAtLogin=") +
           (c.hidden ? "true\n" : "false\n"));
  const Outcome outcome = startOverTree();

  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  const auto notices = server->callsOf("Notify");
  ASSERT_EQ(notices.size(), c.notice ? 1u : 0u) << "no result notice after a fan reset";
  if (c.notice) {
    EXPECT_EQ(notices[0][summary], "High Fan Speed Detected");
    EXPECT_EQ(notices[0][body], "Ventaro will try to reset the fans.");
    EXPECT_EQ(server->closedIds().size(), 1u) << "the notice is withdrawn before the load";
  }
  EXPECT_EQ(outcome.seconds >= 5.0, c.load) << outcome.seconds << " s";
}

// The diagnosis reads the same tree without root and agrees with the login start.
TEST_P(LoginStartOverFixture, CheckFansShowsEveryTermAndAgrees) {
  const bool stuck = GetParam().load;
  const Outcome text = startOverTree({"--check-fans"});
  EXPECT_EQ(text.status, stuck ? 1 : 0) << text.err;
  EXPECT_NE(text.out.find("  fan 2  "), std::string::npos) << text.out;
  std::size_t holding = 0, terms = 0;
  for (std::size_t at = 0; (at = text.out.find("\n  ", at)) != std::string::npos; ++at) {
    holding += text.out.compare(at, 10, "\n  holds  ") == 0 ? 1 : 0;
    terms += text.out.compare(at, 10, "\n  fails  ") == 0 ||
             text.out.compare(at, 10, "\n  holds  ") == 0;
  }
  EXPECT_EQ(terms, 8u) << text.out;
  EXPECT_EQ(holding == 8, stuck) << text.out;
  const Outcome json = startOverTree({"--check-fans", "--json"});
  EXPECT_EQ(json.status, text.status);
  EXPECT_NE(json.out.find(stuck ? "\"stuck\":true}" : "\"stuck\":false}"), std::string::npos)
      << json.out;
}

INSTANTIATE_TEST_SUITE_P(Trees, LoginStartOverFixture,
                         ::testing::Values(FixtureCase{"flat-stuck", false, true, true},
                                           FixtureCase{"hwmon-stuck", false, true, true},
                                           FixtureCase{"flat-normal", false, false, false},
                                           FixtureCase{"hwmon-normal", false, false, false},
                                           FixtureCase{"flat-stuck", true, false, true}),
                         [](const auto& info) {
                           std::string name = info.param.tree;
                           std::erase(name, '-');
                           return name + (info.param.hidden ? "Hidden" : "");
                         });

} // namespace
} // namespace ventaro::testing
