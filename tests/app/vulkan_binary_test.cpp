// The real binary on the first Vulkan device (lavapipe on a machine without a GPU): one
// full-size load, checked, and no Vulkan device where the loader finds no driver.

#include "tests/app/ventaro_process.h"

#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;

class VulkanBinary : public VentaroHome {
protected:
  void SetUp() override {
    VentaroHome::SetUp();
    const Outcome listed = run({"--list-devices"});
    if (listed.out.find("vulkan:0\t") == std::string::npos) {
      GTEST_SKIP() << "no Vulkan device listed here:\n" << listed.out << listed.err;
    }
  }
};

// The reference product and one multiplication of 4096 × 4096: a few minutes on the software
// device of a two-core machine, hence the longer limit (ctest runs it alone).
TEST_F(VulkanBinary, LoadOnTheFirstVulkanDeviceIsCheckedAndMeasured) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the full-size load on a software device runs in the plain build only";
#endif
  const Outcome outcome = run({"--json", "--device", "vulkan:0"}, std::nullopt, {}, {}, 840);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.err, ContainsRegex(": Ventaro measured [0-9]+ GFLOPS\\.\n"));
  EXPECT_THAT(outcome.out, HasSubstr("\"backend\":\"vulkan\""));
  EXPECT_THAT(outcome.out, HasSubstr("\"status\":\"ok\""));
  EXPECT_THAT(outcome.out, HasSubstr("\"result_check\":\"passed\""));
  EXPECT_THAT(outcome.out, HasSubstr("\"accuracy_check\":\"passed\""));
}

TEST_F(VulkanBinary, NoDriverMeansNoVulkanDevice) {
  const Outcome outcome =
      run({"--device", "vulkan:0"}, std::nullopt, {},
          {"VK_DRIVER_FILES=/nonexistent.json", "VK_ICD_FILENAMES=/nonexistent.json"});
  EXPECT_NE(outcome.status, 0);
  EXPECT_THAT(outcome.err, HasSubstr("unknown device 'vulkan:0'"));
}

} // namespace
} // namespace ventaro::testing
