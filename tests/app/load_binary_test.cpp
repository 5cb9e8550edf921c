// The real binary and its load: what it maps at start, and a load whose memory cannot be had.

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

// The library under the load retries a refused allocation for ever; the load must fail first.
TEST_F(LoadBinary, AnAddressSpaceTooSmallForTheLoadFailsCleanly) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any such limit";
#endif
  // 700 MB: where the library used to spin for ever on a two-core machine.
  const Outcome outcome =
      run({}, "unix:path=/nonexistent", {"sh", "-c", "ulimit -v 700000 && exec \"$@\"", "sh"});
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_THAT(outcome.out, ::testing::HasSubstr("Ventaro measured 0 GFLOPS.\n"));
  EXPECT_THAT(outcome.err, ::testing::MatchesRegex("ventaro: load failed: [^\n]+\n"));
  EXPECT_LT(outcome.seconds, 60);
}

} // namespace
} // namespace ventaro::testing
