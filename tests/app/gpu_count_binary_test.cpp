// The real `ventaro` over the PCI bus of a fixture machine, mounted on /sys/bus/pci/devices in
// a private mount namespace: the guard counts its GPUs, and a start on a GPU no backend here
// drives says which one it left unused.

#include "tests/app/ventaro_process.h"

#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class OverPciFixture : public VentaroHome {
protected:
  void SetUp() override {
    if (const auto reason = sysfsMountUnavailable()) {
      GTEST_SKIP() << *reason;
    }
    // A login start that passes the guard ends at once only where no fans are stuck.
    if (std::filesystem::exists("/sys/devices/platform/applesmc.768")) {
      GTEST_SKIP() << "this machine has an applesmc device: a login start may run the load";
    }
    VentaroHome::SetUp();
  }
  Outcome startOver(const char* tree, const std::vector<std::string>& arguments) {
    return run(arguments, std::nullopt, overSysfsFixture(tree, "bus/pci/devices"));
  }
};

// Two or more GPUs end a login start with status 3 and one line naming --device; one or none
// let it through (it then ends at once: no fans are stuck here).
TEST_F(OverPciFixture, TwoOrMoreGpusEndTheStartWithStatusThree) {
  const std::pair<const char*, int> machines[] = {
      {"pci-macpro-2013", 2}, {"pci-macpro-tower", 1},    {"pci-macbookpro", 2},
      {"pci-gpu-server", 1},  {"pci-virtual-machine", 0},
  };
  for (const auto& [tree, gpus] : machines) {
    SCOPED_TRACE(tree);
    const Outcome outcome = startOver(tree, {"--login-item"});
    EXPECT_EQ(outcome.status, gpus >= 2 ? 3 : 0) << outcome.err;
    if (gpus >= 2) {
      EXPECT_THAT(outcome.err, MatchesRegex("ventaro: [^\n]*--device[^\n]*\n"));
    } else {
      EXPECT_EQ(outcome.err, "");
    }
  }
  const Outcome chosen = startOver("pci-macpro-2013", {"--login-item", "--device", "cpu"});
  EXPECT_EQ(chosen.status, 0) << "a chosen device lets the start through: " << chosen.err;
}

// The tower's Radeon has no Vulkan or CUDA device here (the fixture is not this machine's
// bus): the load runs on the processor, and one line names the GPU and what to install.
TEST_F(OverPciFixture, AGpuNoBackendDrivesIsNamedAndTheProcessorRunsTheLoad) {
  const Outcome outcome = startOver("pci-macpro-tower", {"--json"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("ventaro: the GPU 0000:02:00.0 [1002:67df] "));
  EXPECT_THAT(outcome.err, AllOf(HasSubstr("cannot be driven"), HasSubstr("mesa-vulkan-drivers"),
                                 HasSubstr("the load runs on the processor\n")));
  EXPECT_THAT(outcome.out, HasSubstr("\"backend\":\"cpu\""));
}

} // namespace
} // namespace ventaro::testing
