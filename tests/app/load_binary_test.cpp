// The real binary and its load: what it maps at start, and a load whose memory cannot be had.

#include "tests/app/ventaro_process.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gmock/gmock.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ; // NOLINT(readability-redundant-declaration): POSIX declares it nowhere

namespace ventaro::testing {
namespace {

// The peak resident size, in KiB, of `ventaro arguments` run to its end in `home`.
long maxResidentKib(const std::filesystem::path& home, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {"/usr/bin/env",
                                   "-u",
                                   "DBUS_SESSION_BUS_ADDRESS",
                                   "HOME=" + home.string(),
                                   "XDG_RUNTIME_DIR=" + home.string(),
                                   "timeout",
                                   "60",
                                   VENTARO_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& argument : argv) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0) {
    return -1;
  }
  int status = 0;
  rusage usage{}; // the child's and, through `timeout`, its own child's
  return wait4(child, &status, 0, &usage) == child ? usage.ru_maxrss : -1;
}

TEST(LoadBinary, NoCudaLibraryIsNeededAtLoadTimeAndAStartWithoutALoadStaysSmall) {
  FILE* readelf = popen("readelf -d '" VENTARO_BINARY "' 2>&1", "r");
  ASSERT_NE(readelf, nullptr);
  std::string dynamic;
  std::array<char, 512> chunk{};
  while (fgets(chunk.data(), chunk.size(), readelf) != nullptr) {
    dynamic += chunk.data();
  }
  if (pclose(readelf) != 0) {
    GTEST_SKIP() << "readelf (binutils) is not installed";
  }
  EXPECT_NE(dynamic.find("NEEDED"), std::string::npos) << dynamic;
  EXPECT_EQ(dynamic.find("[libcu"), std::string::npos) << dynamic;

#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own memory is not the program's footprint";
#endif
  if (std::filesystem::exists("/sys/devices/platform/applesmc.768")) {
    GTEST_SKIP() << "this machine has an applesmc device: a login start may run the load";
  }
  const TemporaryDirectory home;
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--version"}, {"--login-item"}}) {
    const long kib = maxResidentKib(home.path(), arguments);
    EXPECT_GT(kib, 0) << arguments[0];
    EXPECT_LT(kib, 20 * 1024) << arguments[0] << ": " << kib << " KiB";
  }
}

class LoadUnderLimits : public VentaroHome {};

// The library under the load retries a refused allocation for ever; the load must fail first.
TEST_F(LoadUnderLimits, AnAddressSpaceTooSmallForTheLoadFailsCleanly) {
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
