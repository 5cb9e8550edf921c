// The real `ventaro --sensors` and the fan-reset report of a login start, each over a fixture
// applesmc tree mounted over /sys in a private mount namespace.

#include "tests/app/ventaro_process.h"

#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;

std::string treeName(const ::testing::TestParamInfo<const char*>& info) {
  std::string name = info.param;
  std::erase(name, '-');
  return name;
}

std::string fixtureSource(const std::string& tree) {
  return sysfsFixtureSource(tree, applesmcMountPoint(tree)).string();
}

class SensorsOverFixture : public VentaroHome, public ::testing::WithParamInterface<const char*> {
protected:
  void SetUp() override {
    if (const auto reason = applesmcTreeUnavailable(GetParam())) {
      GTEST_SKIP() << *reason;
    }
    VentaroHome::SetUp();
    // A copy of the binary that the ordinary user can reach, wherever the build lies.
    fs::permissions(home.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::copy_file(VENTARO_BINARY, home.path() / "ventaro");
    binary = (home.path() / "ventaro").string();
  }

  // `ventaro` with the arguments, as user nobody, over the fixture tree.
  Outcome sensorsAsNobody(const std::vector<std::string>& arguments) {
    const std::vector<std::string> wrapper = {
        "unshare",
        "--mount",
        "--propagation",
        "private",
        "sh",
        "-c",
        "set -e; mount -t tmpfs ventaro-fixture \"$1\"; cp -R \"$2\"/. \"$1\"/; shift 2; "
        "exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$@\"",
        "sh",
        "/sys/" + applesmcMountPoint(GetParam()),
        fixtureSource(GetParam())};
    return run(arguments, std::nullopt, wrapper, {"ASAN_OPTIONS=detect_leaks=0"});
  }
};

INSTANTIATE_TEST_SUITE_P(Trees, SensorsOverFixture, ::testing::Values("flat-stuck", "hwmon-stuck"),
                         treeName);

// The kernel's temperature files are everybody's: the known sensors by name, whole degrees as a
// key read gives them (-5.75 is -6), then the others by key.
TEST_P(SensorsOverFixture, AnOrdinaryUserSeesEverySensorByName) {
  const Outcome text = sensorsAsNobody({"--sensors"});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out, "Ambient air 0    TA0P  -6 °C\n"
                      "CPU 0 proximity  TC0P  45 °C\n"
                      "GPU 0 diode      TG0D  58 °C\n"
                      "Unknown          TC1C  48 °C\n");

  const Outcome json = sensorsAsNobody({"--sensors", "--json"});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, R"({"schema_version":1,"kind":"sensors","smc_available":true,"reason":null,)"
                      R"("unit":"celsius","sensors":[)"
                      R"({"name":"Ambient air 0","key":"TA0P","celsius":-6.0,"read_ok":true},)"
                      R"({"name":"CPU 0 proximity","key":"TC0P","celsius":45.0,"read_ok":true},)"
                      R"({"name":"GPU 0 diode","key":"TG0D","celsius":58.0,"read_ok":true},)"
                      R"({"name":"Unknown","key":"TC1C","celsius":48.0,"read_ok":true}]})"
                      "\n");

  const Outcome fahrenheit = sensorsAsNobody({"--sensors", "--unit=fahrenheit"});
  EXPECT_THAT(fahrenheit.out, HasSubstr("CPU 0 proximity  TC0P  113 °F\n"));
  const Outcome kelvin = sensorsAsNobody({"--sensors", "--unit", "kelvin", "--json"});
  EXPECT_THAT(kelvin.out, HasSubstr(R"("unit":"kelvin")"));
  EXPECT_THAT(kelvin.out, HasSubstr(R"("key":"TC0P","kelvin":318.15,"read_ok":true)"))
      << "two decimals, as the text shows them";
}

using Sensors = VentaroHome;

TEST_F(Sensors, WithoutAnSmcExitThree) {
  if (hostHasApplesmc()) {
    GTEST_SKIP() << "this machine has an applesmc device";
  }
  const Outcome text = run({"--sensors"});
  EXPECT_EQ(text.status, 3);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, "ventaro: no SMC found (no applesmc device in /sys)\n");
  const Outcome json = run({"--sensors", "--json"});
  EXPECT_EQ(json.status, 3);
  EXPECT_THAT(json.out, HasSubstr(R"("kind":"sensors","smc_available":false,)"));
}

// A login start over a stuck-fan tree whose fan files the test changes once the start notice
// is up, that is after the fan check and before the load.
class FanResetStart : public VentaroOnABus {
protected:
  void startOver(const std::string& fixtureTree) {
    if (const auto reason = applesmcTreeUnavailable(fixtureTree)) {
      GTEST_SKIP() << *reason;
    }
    tree = fixtureTree;
    VentaroOnABus::SetUp();
    settings("DelayAtLogin=0\nStressLevel=1\n");
  }

  // `change`: shell commands run in the fan folder.
  Outcome loginStartChanging(const std::string& change) {
    const fs::path trigger = home.path() / "fans-change";
    VentaroProcess process(home.path(), {"--login-item", "--json"}, bus->address(),
                           overFanFixtureChangedOn(tree, trigger, change), {}, 60);
    for (int i = 0; i < 600 && server->callsOf("Notify").empty(); ++i) {
      g_usleep(50'000);
    }
    std::ofstream{trigger};
    return process.finish();
  }

  std::string tree;
};

class FanResetOverFixture : public FanResetStart,
                            public ::testing::WithParamInterface<const char*> {
protected:
  void SetUp() override { startOver(GetParam()); }
  Outcome loginStartWithFanAt(const std::string& speed) {
    return loginStartChanging("echo " + speed + " > fan1_input");
  }
};

INSTANTIATE_TEST_SUITE_P(Trees, FanResetOverFixture, ::testing::Values("flat-stuck", "hwmon-stuck"),
                         treeName);

TEST_P(FanResetOverFixture, AFanThatComesDownIsReportedAsWorked) {
  const Outcome outcome = loginStartWithFanAt("850");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("ventaro: fan reset worked: PCI Fan 1850 → 850 rpm\n"));
  EXPECT_THAT(outcome.out, ContainsRegex(R"("fans_before":\[\{"index":0,"name":"PCI Fan",)"
                                         R"("minimum_rpm":800,"maximum_rpm":4500,)"
                                         R"("current_rpm":1850\})"));
  EXPECT_THAT(outcome.out, ContainsRegex(R"("fans_after":\[\{[^}]*"current_rpm":850\})"));
  EXPECT_THAT(outcome.out, HasSubstr(R"("fan_reset":"worked"})"));
  EXPECT_EQ(server->callsOf("Notify").size(), 1u) << "no notice of the outcome";
}

// The fans are read for ten seconds after the load, then the run ends, its status untouched.
TEST_P(FanResetOverFixture, AFanThatStaysHighIsReportedAsNotHelpingWithinTheBound) {
  const Outcome outcome = loginStartWithFanAt("2350");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("ventaro: fan reset did not help: PCI Fan 1850 → 2350 rpm\n"));
  EXPECT_THAT(outcome.out, HasSubstr(R"("fan_reset":"did-not-help"})"));
  // Five seconds to the load, the load, ten seconds of reads; the margin is for a loaded
  // sanitizer build.
  EXPECT_GE(outcome.seconds, 15.0);
  EXPECT_LT(outcome.seconds, 45.0);
}

// A value the recheck cannot read, or a fan that went away, while fan 0 stays at 1850 rpm: the
// reset did not help, whatever the rule's other terms now give.
class FanResetWithFilesChanging
    : public FanResetStart,
      public ::testing::WithParamInterface<std::pair<const char*, const char*>> {
protected:
  void SetUp() override { startOver("flat-stuck"); }
};

TEST_P(FanResetWithFilesChanging, AFanThatStaysHighNeverWorksWhateverElseFails) {
  const Outcome outcome = loginStartChanging(GetParam().second);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("ventaro: fan reset did not help: PCI Fan 1850 → 1850 rpm\n"));
  EXPECT_THAT(outcome.out, HasSubstr(R"("fan_reset":"did-not-help"})"));
  EXPECT_LT(outcome.seconds, 45.0);
}

INSTANTIATE_TEST_SUITE_P(Changes, FanResetWithFilesChanging,
                         ::testing::Values(std::pair{"LabelTurnsIntoAFifo",
                                                     "rm fan1_label && mkfifo fan1_label"},
                                           std::pair{"GarbageMinimum", "echo garbage > fan2_min"},
                                           std::pair{"FanRemoved", "rm fan3_*"}),
                         [](const auto& info) { return std::string(info.param.first); });

} // namespace
} // namespace ventaro::testing
