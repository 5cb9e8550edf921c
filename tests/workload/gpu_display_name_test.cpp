#include "workload/gpu_display_name.h"

#include <gtest/gtest.h>

namespace ventaro {
namespace {

TEST(DisplayName, RemovesTheMarksInOrderOneScanPerPass) {
  const std::pair<const char*, const char*> cases[] = {
      {"AMD Sample GPU", "Sample GPU 8 GB"},
      {"Vendor(R) GPU(TM) X", "Vendor GPU X 8 GB"},
      {"AM(R)D X", "X 8 GB"},                // pass 1 makes the mark of pass 3
      {"(T(R)M)", " 8 GB"},                  // pass 1 makes the mark of pass 2
      {"AMAMD D X", "AMD X 8 GB"},           // a pass does not rescan its own output
      {"amd (r) (tm)", "amd (r) (tm) 8 GB"}, // case-sensitive
      {"", " 8 GB"},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(displayNameFor(name, std::uint64_t{8} << 30), expected) << name;
  }
}

TEST(DisplayName, ChoosesMegabytesOrGigabytesFromBitsTwentyToTwentyNine) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {22'906'503'168, "G 21845 MB"},
      {17'179'971'584, "G 16 GB"}, // 16 GiB + 100 KiB: bits below 1 MiB never count
      {1'048'576, "G 1 MB"},
      {(std::uint64_t{1} << 40) + (std::uint64_t{1} << 20), "G 1048577 MB"},
      {UINT64_MAX, "G 17592186044415 MB"},
  };
  for (const auto& [size, expected] : cases) {
    EXPECT_EQ(displayNameFor("G", size), expected) << size;
  }
}

} // namespace
} // namespace ventaro
