// The real binary's timed runs: on the CPU to the end, and on two devices at once until a
// signal stops them.

#include "tests/app/ventaro_process.h"

#include <csignal>
#include <fstream>
#include <gmock/gmock.h>
#include <thread>

namespace ventaro::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class TimedRun : public VentaroHome {};

// Segments of about two seconds, each checked; a verdict, a notice with the median and the
// lowest figure, the JSON and the picture.
TEST_F(TimedRun, ACpuRunGivesSegmentsAVerdictANoticeAndAPicture) {
  const std::filesystem::path plot = home.path() / "run.png";
  const Outcome outcome =
      run({"--duration", "8s", "--device", "cpu", "--json", "--plot", plot.string()});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.err, MatchesRegex("(.|\n)*Ventaro measured [0-9]+ GFLOPS for [89] seconds, "
                                        "lowest [0-9]+\\.(.|\n)*"));
  EXPECT_THAT(outcome.out, StartsWith("{\"schema_version\":1,"));
  EXPECT_THAT(outcome.out, HasSubstr("\"verdict\":\"steady\""));
  EXPECT_THAT(outcome.out, HasSubstr("\"duration_s\":8.0"));
  EXPECT_GE(occurrences(outcome.out, "\"differing_elements\":0"), 3U) << outcome.out;
  EXPECT_EQ(occurrences(outcome.out, "\"differing_elements\":"),
            occurrences(outcome.out, "\"differing_elements\":0"));
  std::ifstream picture(plot, std::ios::binary);
  std::string signature(8, '\0');
  picture.read(signature.data(), 8);
  EXPECT_EQ(signature, "\x89PNG\r\n\x1a\n");
}

// Both devices run at once; SIGINT ends both within a submission, the summary so far goes to
// the notices and the JSON, and the process exits 130.
TEST_F(TimedRun, TwoDevicesAtOnceStopOnASignalAndKeepWhatTheyMeasured) {
  const Outcome listing = run({"--list-devices"});
  if (listing.out.find("vulkan:0\t") == std::string::npos) {
    GTEST_SKIP() << "no Vulkan device here (mesa-vulkan-drivers installs a software one)";
  }
  VentaroProcess process(home.path(), {"--duration", "10m", "--device", "vulkan:0,cpu", "--json"},
                         std::nullopt);
  std::this_thread::sleep_for(std::chrono::seconds(20)); // the start notice's 5 s, then runs
  process.signal(SIGINT);
  const auto signalled = std::chrono::steady_clock::now();
  const Outcome outcome = process.finish();
  const double afterSignal =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
  EXPECT_EQ(outcome.status, 130) << outcome.err;
  EXPECT_LT(afterSignal, 10.0) << "a stop waits for one submission and the checks";
  EXPECT_THAT(outcome.out, StartsWith("[{\"schema_version\":1,"));
  EXPECT_EQ(occurrences(outcome.out, "\"status\":\"interrupted\""), 2U) << outcome.out;
  EXPECT_THAT(outcome.out, HasSubstr("\"device_id\":\"vulkan:0\""));
  EXPECT_THAT(outcome.out, HasSubstr("\"device_id\":\"cpu\""));
  EXPECT_EQ(occurrences(outcome.err, "Ventaro measured "), 2U) << outcome.err;
  EXPECT_GE(occurrences(outcome.out, "\"differing_elements\":0"), 2U);
}

} // namespace
} // namespace ventaro::testing
