// An AMD GPU's peak: the kernel driver's list of shader clock levels, read as an untrusted
// file, and the arithmetic over compute units and clock.

#include "workload/vulkan/amd_peak.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventaro::gpu::vulkan {
namespace {

namespace fs = std::filesystem;

TEST(ShaderClockLevels, TheHighestLevelCountsWhateverElseTheListHolds) {
  const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
      {"0: 500Mhz\n1: 1340Mhz *\n", 1340},
      {"0: 700Mhz *\n1: 2615Mhz\n2: 1800Mhz\n", 2615}, // the highest, not the last or current
      {"S: 19Mhz *\n0: 500Mhz\n1: 2250Mhz\n", 2250},   // a sleep level is no level
      {"0: 500MHz\r\n1: 900MHz\r\n", 900},
      {"0: 500Mhz\n1: 2250Mhz", 2250},                                     // no final newline
      {"0: 500Mhz\nsomething else\n1: 99999Mhz\n2: 4294967296Mhz\n", 500}, // beyond a clock
      {"", std::nullopt},
      {"\n\n\n", std::nullopt},
      {"0: Mhz\n1: 12\n: 500Mhz\n1 500Mhz\n1: 500 GHz\n1: 0Mhz\n-1: 500Mhz\n", std::nullopt},
  };
  for (const auto& [levels, highest] : cases) {
    EXPECT_EQ(highestShaderClockMhz(levels), highest) << levels;
  }
}

TEST(AmdPeak, ComputeUnitsTimesOperationsPerClockTimesClock) {
  // 60 compute units at 1340 MHz: 60 × 128 × 1.34 GHz.
  EXPECT_DOUBLE_EQ(*amdPeakGflops(60, false, 1340), 10291.2);
  EXPECT_DOUBLE_EQ(*amdPeakGflops(96, true, 2500), 61440.0); // lanes issuing two per clock
  EXPECT_EQ(amdPeakGflops(0, false, 1340), std::nullopt);
  EXPECT_EQ(amdPeakGflops(60, false, std::nullopt), std::nullopt);
  EXPECT_EQ(amdPeakGflops(60, false, 0), std::nullopt);
}

// The file under the device's PCI folder: only a small regular file counts; a FIFO is never
// waited on, a link is not followed, an address cannot leave the root.
TEST(ShaderClockLevels, OnlyASmallRegularFileUnderTheDevicesFolderIsRead) {
  const fs::path root = fs::temp_directory_path() / ("ventaro-sclk-" + std::to_string(getpid()));
  fs::remove_all(root);
  const auto levels = [&](const std::string& address) {
    fs::create_directories(root / address);
    return root / address / kShaderClockLevelsFile;
  };
  std::ofstream(levels("0000:03:00.0")) << "0: 500Mhz\n1: 1340Mhz *\n";
  std::ofstream(levels("0000:04:00.0")) << std::string(1 << 20, '7');
  std::ofstream(levels("0000:05:00.0")) << "0: 500Mhz\n" << std::string(8192, ' ');
  ASSERT_EQ(mkfifo(levels("0000:06:00.0").c_str(), 0600), 0);
  fs::create_symlink(levels("0000:03:00.0"), levels("0000:07:00.0"));
  std::ofstream(root / kShaderClockLevelsFile) << "0: 900Mhz\n";
  const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
      {"0000:03:00.0", 1340},
      {"0000:04:00.0", std::nullopt}, // huge
      {"0000:05:00.0", std::nullopt}, // longer than an attribute
      {"0000:06:00.0", std::nullopt}, // a FIFO
      {"0000:07:00.0", std::nullopt}, // a link
      {"0000:08:00.0", std::nullopt}, // missing
      {"", std::nullopt},
      {".", std::nullopt},
      {"../x", std::nullopt},
  };
  for (const auto& [address, highest] : cases) {
    EXPECT_EQ(readHighestShaderClockMhz(root.string(), address), highest) << address;
  }
  fs::remove_all(root);
}

} // namespace
} // namespace ventaro::gpu::vulkan
