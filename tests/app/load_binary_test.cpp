// The real binary at start: the libraries it needs and the memory it takes without a load.

#include "tests/app/ventaro_process.h"

#include <array>
#include <cstdio>
#include <gmock/gmock.h>
#include <sys/resource.h>

namespace ventaro::testing {
namespace {

class LoadBinary : public VentaroHome {};

// Runs first in its process: the peak it reads is that of the starts it makes.
TEST_F(LoadBinary, NoCudaLibraryIsNeededAtLoadTimeAndAStartWithoutALoadStaysSmall) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own memory is not the program's footprint";
#endif
  if (std::filesystem::exists("/sys/devices/platform/applesmc.768")) {
    GTEST_SKIP() << "this machine has an applesmc device: a login start may run the load";
  }
  for (const char* argument : {"--version", "--login-item"}) {
    EXPECT_EQ(run({argument}).status, 0) << argument;
  }
  rusage usage{}; // the largest of the finished children, `timeout` and its own included
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 20 * 1024) << "KiB";

  FILE* readelf = popen("readelf -d '" VENTARO_BINARY "' 2>&1", "r");
  ASSERT_NE(readelf, nullptr);
  std::string dynamic;
  std::array<char, 512> chunk{};
  while (fgets(chunk.data(), chunk.size(), readelf) != nullptr) {
    dynamic += chunk.data();
  }
  ASSERT_EQ(pclose(readelf), 0) << "readelf (binutils) is needed: " << dynamic;
  EXPECT_THAT(dynamic, ::testing::HasSubstr("NEEDED"));
  EXPECT_THAT(dynamic, ::testing::Not(::testing::HasSubstr("[libcu")));
}

} // namespace
} // namespace ventaro::testing
