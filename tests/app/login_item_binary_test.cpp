// The real `ventaro --login-item`: on this machine, and, where the test may mount, inside a
// private mount namespace whose /sys holds a fixture applesmc tree.

#include "tests/app/ventaro_process.h"

#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(VentaroHome, LoginStartWithoutApplesmcPostsNothingAndEndsAtOnce) {
  if (hostHasApplesmc()) {
    GTEST_SKIP() << "this machine has an applesmc device";
  }
  // No bus answers at this address, so a notice would be printed; the debug log (on standard
  // output, as GLib writes it) names every attempt on the bus, and may say why no GPU was found.
  const Outcome outcome = run({"--login-item"}, "unix:path=" + (home.path() / "no-bus").string(),
                              {"env", "G_MESSAGES_DEBUG=ventaro"});

  EXPECT_EQ(outcome.status, 0) << outcome.err;
  // A run would wait five seconds first; the bound leaves room for a loaded sanitizer build.
  EXPECT_LT(outcome.seconds, 5.0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_THAT(outcome.out, Not(ContainsRegex("bus|Notif|High Fan"))) << "never connects";

  const Outcome check = run({"--check-fans"});
  EXPECT_EQ(check.status, 3) << "nothing to check";
  EXPECT_EQ(check.out, "");
  EXPECT_EQ(check.err, "ventaro: no SMC found (no applesmc device in /sys)\n");
}

// The fixture tree's name says whether its fans are stuck.
class LoginStartOverFixture : public VentaroOnABus,
                              public ::testing::WithParamInterface<const char*> {
protected:
  void SetUp() override {
    if (const auto reason = applesmcTreeUnavailable(GetParam())) {
      GTEST_SKIP() << *reason;
    }
    VentaroOnABus::SetUp();
  }

  bool stuck() const { return std::string(GetParam()).ends_with("-stuck"); }

  // `ventaro` with the fixture tree mounted where the kernel puts its layout.
  Outcome startOverTree(const std::vector<std::string>& arguments) {
    return run(arguments, bus->address(),
               overSysfsFixture(GetParam(), applesmcMountPoint(GetParam())));
  }
};

// Stuck fans post one notice, withdraw it and start the load five seconds after the start; the
// diagnosis reads the same tree, shows every term and agrees.
TEST_P(LoginStartOverFixture, OnlyStuckFansStartTheLoadAndCheckFansAgrees) {
  settings("DelayAtLogin=0\nStressLevel=1\n");
  const Outcome outcome = startOverTree({"--login-item"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  const auto notices = server->callsOf("Notify");
  EXPECT_EQ(notices.size(), stuck() ? 1u : 0u) << "no result notice after a fan reset";
  if (stuck() && !notices.empty()) {
    EXPECT_EQ(notices[0][summary], "High Fan Speed Detected");
    EXPECT_EQ(notices[0][body], "Ventaro will try to reset the fans.");
    EXPECT_EQ(server->closedIds().size(), 1u) << "the notice is withdrawn before the load";
  }
  EXPECT_EQ(outcome.seconds >= 5.0, stuck()) << outcome.seconds << " s";

  const Outcome text = startOverTree({"--check-fans"});
  EXPECT_EQ(text.status, stuck() ? 1 : 0) << text.err;
  // Every fan (three in each tree), then exactly eight terms, which all hold only where stuck.
  EXPECT_THAT(text.out,
              ContainsRegex("\n  fan 2  [^\n]+\n[^ ][^\n]*(\n  (holds|fails)  [^\n]+){8}\n[^ ]"));
  EXPECT_EQ(text.out.find("\n  fails  ") == std::string::npos, stuck()) << text.out;
  const Outcome json = startOverTree({"--check-fans", "--json"});
  EXPECT_EQ(json.status, text.status);
  EXPECT_THAT(json.out, HasSubstr(stuck() ? "\"stuck\":true}" : "\"stuck\":false}"));
}

INSTANTIATE_TEST_SUITE_P(Trees, LoginStartOverFixture,
                         ::testing::Values("flat-stuck", "hwmon-stuck", "flat-normal",
                                           "hwmon-normal"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::erase(name, '-');
                           return name;
                         });

} // namespace
} // namespace ventaro::testing
