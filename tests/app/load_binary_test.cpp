// The real binary and its load: what it maps at start, and a load whose memory cannot be had.

#include "tests/app/ventaro_process.h"

#include <cstdlib>
#include <gmock/gmock.h>
#include <sys/resource.h>

namespace ventaro::testing {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

class LoadBinary : public VentaroHome {};

// Runs first in its process: the peak it reads is that of the starts it makes.
TEST_F(LoadBinary, NoGpuLibraryIsNeededAtLoadTimeAndAStartWithoutALoadStaysSmall) {
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

  // The dynamic section, searched for the libraries needed at load time.
  const std::string dynamic = "readelf -d '" VENTARO_BINARY "' | grep ";
  ASSERT_EQ(std::system((dynamic + "-q NEEDED").c_str()), 0) << "readelf (binutils) is needed";
  EXPECT_NE(std::system((dynamic + "'NEEDED.*\\[libcu'").c_str()), 0) << "CUDA at load time";
  EXPECT_NE(std::system((dynamic + "'NEEDED.*\\[libvulkan'").c_str()), 0) << "Vulkan at load time";
  // Its thread pool would start before main, and hold up the exit under an address-space limit.
  EXPECT_NE(std::system((dynamic + "'NEEDED.*\\[libopenblas'").c_str()), 0)
      << "OpenBLAS at load time";
}

// The library under the load retries a refused allocation for ever; the load must fail first,
// within seconds: status 1, the result and the reason on stderr (beside --json), and a
// load-failed object that gives the reason.
TEST_F(LoadBinary, AnAddressSpaceTooSmallForTheLoadFailsCleanly) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any such limit";
#endif
  // 700 MB: where the library used to spin for ever on a two-core machine.
  const Outcome outcome = run({"--json"}, "unix:path=/nonexistent",
                              {"sh", "-c", "ulimit -v 700000 && exec \"$@\"", "sh"});
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_LT(outcome.seconds, 60);
  EXPECT_THAT(outcome.err, HasSubstr("Ventaro measured 0 GFLOPS.\n"));
  EXPECT_THAT(outcome.err, ContainsRegex("\nventaro: load failed: [^\n]+\n$"));
  EXPECT_THAT(outcome.out, HasSubstr("\"status\":\"load-failed\""));
  EXPECT_THAT(outcome.out, Not(HasSubstr("\"reason\":null")));
}

} // namespace
} // namespace ventaro::testing
