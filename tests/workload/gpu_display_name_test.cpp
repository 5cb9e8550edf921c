#include "tests/workload/fake_gpu.h"
#include "workload/gpu_display_name.h"

#include <gtest/gtest.h>

namespace ventaro {
namespace {

struct NameCase {
  const char* name;
  std::uint64_t size;
  const char* expected;
};

constexpr std::uint64_t gib = std::uint64_t{1} << 30;

TEST(DisplayName, RemovesTheMarksInOrderOncePerPass) {
  const NameCase cases[] = {
      {"AMD Sample GPU", 8 * gib, "Sample GPU 8 GB"},
      {"Vendor(R) GPU(TM) X", 1'610'612'736, "Vendor GPU X 1536 MB"},
      {"GPU (TM) X", 8 * gib, "GPU  X 8 GB"}, // blanks around a removed mark stay
      {"AM(R)D X", 8 * gib, "X 8 GB"},        // pass 1 makes the mark of pass 3
      {"(T(R)M)", 8 * gib, " 8 GB"},          // pass 1 makes the mark of pass 2
      {"AMD AMD X", 8 * gib, "X 8 GB"},       // every occurrence
      {"((R)R)", 8 * gib, "(R) 8 GB"},        // a pass does not rescan its own output
      {"(TM(R))", 8 * gib, " 8 GB"},          // pass 2 works on the output of pass 1
      {"(T(TM)M)", 8 * gib, "(TM) 8 GB"},     // one scan per pass for pass 2 as well
      {"AMAMD D X", 8 * gib, "AMD X 8 GB"},   // ... and for pass 3
      {"(R)(R)(TM)", 8 * gib, " 8 GB"},
      {"amd x", 8 * gib, "amd x 8 GB"},           // case-sensitive
      {"Radeon AMD", 8 * gib, "Radeon AMD 8 GB"}, // no blank after it, no mark
      {"(r) (tm) (R )", 8 * gib, "(r) (tm) (R ) 8 GB"},
      {"", 8 * gib, " 8 GB"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(displayNameFor(c.name, c.size), c.expected);
  }
}

TEST(DisplayName, ChoosesMegabytesOrGigabytesFromBitsTwentyToTwentyNine) {
  const NameCase cases[] = {
      {"G", 22'906'503'168, "G 21845 MB"},
      {"G", 17'179'971'584, "G 16 GB"}, // 16 GiB + 100 KiB: bits below 1 MiB never count
      {"G", 1'074'790'400, "G 1025 MB"},
      {"G", 1'048'575, "G 0 GB"},
      {"G", 0, "G 0 GB"},
      {"G", 1'048'576, "G 1 MB"},
      {"G", gib, "G 1 GB"},
      {"G", gib - 1, "G 1023 MB"},
      {"G", std::uint64_t{1} << 40, "G 1024 GB"}, // bit 30 and above only: still GB
      {"G", (std::uint64_t{1} << 40) + (std::uint64_t{1} << 20), "G 1048577 MB"},
      {"G", UINT64_MAX, "G 17592186044415 MB"},
      {"G", UINT64_MAX & ~std::uint64_t{0x3FFFFFFF}, "G 17179869183 GB"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_EQ(displayNameFor(c.name, c.size), c.expected);
  }
}

TEST(DisplayName, ReadsTheDefaultDeviceOfThePlatform) {
  testing::FakeGpuPlatform platform;
  platform.defaultDevice->deviceName = "Fake(R) AMD GPU(TM)";
  platform.defaultDevice->workingSet = 1'610'612'736;
  platform.gpus = {std::make_shared<testing::FakeDevice>()}; // not the one asked for
  EXPECT_EQ(gpuDisplayName(platform), "Fake GPU 1536 MB");
  EXPECT_EQ(platform.defaultDeviceRequests, 1);
  EXPECT_EQ(platform.allDevicesRequests, 0);
}

TEST(DisplayName, NoDefaultDeviceGivesAnEmptyNameOfNoSize) {
  testing::FakeGpuPlatform platform;
  platform.defaultDevice = nullptr;
  EXPECT_EQ(gpuDisplayName(platform), " 0 GB");
}

} // namespace
} // namespace ventaro
