// The real binary at start: the libraries it needs and the memory it takes without a load.

#include "tests/app/ventaro_process.h"

#include <cstdlib>
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

  // The dynamic section, searched for the libraries needed at load time.
  const std::string dynamic = "readelf -d '" VENTARO_BINARY "' | grep ";
  ASSERT_EQ(std::system((dynamic + "-q NEEDED").c_str()), 0) << "readelf (binutils) is needed";
  EXPECT_NE(std::system((dynamic + "'NEEDED.*\\[libcu'").c_str()), 0) << "CUDA at load time";
}

} // namespace
} // namespace ventaro::testing
