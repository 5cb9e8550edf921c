// The hwmon sources, read by libsensors from a fixture tree mounted over /sys/class in a forked
// child (a private mount namespace; root only).

#include "telemetry/telemetry_for.h"
#include "tests/telemetry/forked_child.h"
#include "tests/telemetry/hwmon_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ventaro::telemetry::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

const std::string kGpu = "0000:03:00.0";
const std::string kOtherGpu = "0000:04:00.0";

Reading reading(const std::string& source, const std::string& label, Quantity quantity,
                double value) {
  return {source, label, quantity, value};
}

// Two AMD GPUs (the second with an instantaneous power input only), the processor's k10temp
// and coretemp chips and an unrelated chip.
void addMachine(HwmonTree& tree) {
  tree.addChip("hwmon0", "amdgpu", "pci", kGpu);
  const std::pair<const char*, const char*> gpu[] = {
      {"temp1_input", "45000\n"},        {"temp1_label", "edge\n"},
      {"temp2_input", "52500\n"},        {"temp2_label", "junction\n"},
      {"temp3_input", "60000\n"},        {"temp3_label", "mem\n"},
      {"freq1_input", "2100000000\n"},   {"freq1_label", "sclk\n"},
      {"power1_average", "180250000\n"}, {"power1_cap", "250000000\n"},
      {"fan1_input", "1500\n"},
  };
  for (const auto& [file, contents] : gpu) {
    tree.write("hwmon0", file, contents);
  }
  tree.addChip("hwmon1", "amdgpu", "pci", kOtherGpu);
  tree.write("hwmon1", "temp1_input", "30000\n");
  tree.write("hwmon1", "temp1_label", "edge\n");
  tree.write("hwmon1", "power1_input", "12000000\n");
  tree.addChip("hwmon2", "k10temp", "pci", "0000:00:18.3");
  tree.write("hwmon2", "temp1_input", "61250\n");
  tree.write("hwmon2", "temp1_label", "Tctl\n");
  tree.write("hwmon2", "temp3_input", "55000\n");
  tree.write("hwmon2", "temp3_label", "Tccd1\n");
  tree.addChip("hwmon3", "coretemp", "platform", "coretemp.0");
  tree.write("hwmon3", "temp1_input", "70000\n");
  tree.write("hwmon3", "temp1_label", "Package id 0\n");
  tree.addChip("hwmon4", "nvme", "pci", "0000:05:00.0");
  tree.write("hwmon4", "temp1_input", "40000\n");
}

PciIdentity amd(const std::string& address) {
  return {address, pci_vendor::kAmd, 0x744c};
}

// In a child over `tree`: the sources for `target`, `between` run after they are made, then one
// sample.
ChildReport readInChild(
    const HwmonTree& tree, const Target& target, const std::function<void()>& between = [] {}) {
  const ChildOutcome outcome = runInChild([&]() -> std::string {
    if (const std::optional<std::string> why = mountOverSysClass(tree.classDirectory())) {
      return "skip " + *why;
    }
    Telemetry telemetry = telemetryFor(target);
    between();
    return toText({telemetry.sourceNames(), telemetry.sample()});
  });
  if (!outcome.finished) {
    ADD_FAILURE() << "the reads did not end within the time allowed";
    return {};
  }
  if (outcome.output.starts_with("skip ")) {
    throw std::runtime_error(outcome.output);
  }
  return fromText(outcome.output);
}

// Runs the test's reads, or skips it where the fixture cannot be mounted.
#define READ_OR_SKIP(report, ...)                                                                  \
  ChildReport report;                                                                              \
  try {                                                                                            \
    report = readInChild(__VA_ARGS__);                                                             \
  } catch (const std::runtime_error& error) {                                                      \
    GTEST_SKIP() << "cannot mount a fixture over /sys/class here: " << error.what();               \
  }

TEST(HwmonSources, TheAmdgpuChipOfTheAddressGivesTemperaturesClockPowerAndFan) {
  HwmonTree tree;
  addMachine(tree);
  READ_OR_SKIP(first, tree, Target{amd(kGpu), false, false});
  EXPECT_THAT(first.names, ElementsAre("amdgpu " + kGpu));
  EXPECT_THAT(first.sample.readings,
              UnorderedElementsAre(reading("amdgpu", "edge", Quantity::temperature, 45.0),
                                   reading("amdgpu", "junction", Quantity::temperature, 52.5),
                                   reading("amdgpu", "mem", Quantity::temperature, 60.0),
                                   reading("amdgpu", "sclk", Quantity::clock, 2100.0),
                                   reading("amdgpu", "power1", Quantity::power, 180.25),
                                   reading("amdgpu", "fan1", Quantity::fan, 1500.0)));
  EXPECT_THAT(first.sample.throttleReasons, IsEmpty());

  READ_OR_SKIP(second, tree, Target{amd(kOtherGpu), false, false});
  EXPECT_THAT(second.sample.readings,
              UnorderedElementsAre(reading("amdgpu", "edge", Quantity::temperature, 30.0),
                                   reading("amdgpu", "power1", Quantity::power, 12.0)))
      << "the power input stands in for a missing average";

  READ_OR_SKIP(none, tree, Target{amd("0000:09:00.0"), false, false});
  EXPECT_THAT(none.names, IsEmpty());
  EXPECT_THAT(none.sample.readings, IsEmpty());
}

TEST(HwmonSources, TheProcessorGivesEveryTemperatureOfItsChipsAndNothingElse) {
  HwmonTree tree;
  addMachine(tree);
  READ_OR_SKIP(report, tree, Target{std::nullopt, true, false});
  EXPECT_THAT(report.names, ElementsAre("coretemp, k10temp"));
  EXPECT_THAT(
      report.sample.readings,
      UnorderedElementsAre(reading("k10temp", "Tctl", Quantity::temperature, 61.25),
                           reading("k10temp", "Tccd1", Quantity::temperature, 55.0),
                           reading("coretemp", "Package id 0", Quantity::temperature, 70.0)));

  READ_OR_SKIP(both, tree, Target{amd(kGpu), true, false});
  EXPECT_THAT(both.names, ElementsAre("amdgpu " + kGpu, "coretemp, k10temp"));
  EXPECT_EQ(both.sample.readings.size(), 9u);
}

// Planted before libsensors lists the chip: what is not a plain file is never opened, labels
// included, and implausible values are dropped.
TEST(HwmonSources, PlantedFilesAreNeverOpenedAndAbsurdValuesAreDropped) {
  HwmonTree tree;
  addMachine(tree);
  tree.makeFifo("hwmon0", "temp1_input");
  tree.makeFifo("hwmon0", "temp2_label");
  tree.write("hwmon0", "temp3_input", "900000\n");
  tree.write("hwmon0", "fan1_input", "nan\n");
  tree.makeFifo("hwmon0", "freq1_label");
  tree.write("hwmon0", "power1_average", std::string(1 << 20, '7'));
  tree.makeLink("hwmon1", "temp1_input", "99000\n");
  tree.makeLink("hwmon1", "power1_input", "12000000\n");
  READ_OR_SKIP(gpu, tree, Target{amd(kGpu), false, false});
  EXPECT_THAT(gpu.sample.readings,
              UnorderedElementsAre(reading("amdgpu", "temp2", Quantity::temperature, 52.5),
                                   reading("amdgpu", "freq1", Quantity::clock, 2100.0)));
  READ_OR_SKIP(other, tree, Target{amd(kOtherGpu), false, false});
  EXPECT_THAT(other.sample.readings, IsEmpty());
}

// Replaced after the chip was listed, between two samples: a FIFO, a link, a huge file, a file
// that is gone. None of them blocks or is read.
TEST(HwmonSources, FilesReplacedAfterListingAreNotReadAndNothingWaits) {
  HwmonTree tree;
  addMachine(tree);
  READ_OR_SKIP(report, tree, Target{amd(kGpu), false, false}, [&] {
    tree.makeFifo("hwmon0", "temp1_input");
    tree.makeLink("hwmon0", "temp2_input", "99000\n");
    tree.write("hwmon0", "power1_average", std::string(1 << 20, '7'));
    tree.remove("hwmon0", "fan1_input");
    tree.makeFifo("hwmon0", "freq1_input");
  });
  EXPECT_THAT(report.sample.readings,
              ElementsAre(reading("amdgpu", "mem", Quantity::temperature, 60.0)));
}

TEST(HwmonSources, ClockFileThatIsALinkOrNotANumberIsLeftOut) {
  for (const std::string text : {"", "2.1e9\n", "-5\n", "99999999999999999999999\n"}) {
    HwmonTree tree;
    addMachine(tree);
    tree.write("hwmon0", "freq1_input", text);
    READ_OR_SKIP(report, tree, Target{amd(kGpu), false, false});
    for (const Reading& read : report.sample.readings) {
      EXPECT_NE(read.quantity, Quantity::clock) << text;
    }
  }
  HwmonTree tree;
  addMachine(tree);
  tree.makeLink("hwmon0", "freq1_input", "2100000000\n");
  READ_OR_SKIP(report, tree, Target{amd(kGpu), false, false});
  EXPECT_EQ(report.sample.readings.size(), 5u);
}

} // namespace
} // namespace ventaro::telemetry::testing
