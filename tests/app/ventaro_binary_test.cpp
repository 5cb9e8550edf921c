// The real `ventaro` binary, user starts, on a private bus with the mock server.

#include "tests/app/ventaro_process.h"

#include <gmock/gmock.h>

namespace ventaro::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;
using ::testing::ResultOf;

constexpr char kResultBody[] = "Ventaro measured [0-9]+ GFLOPS\\.";

// In the sanitizer build this is also the leak check of the benchmark: the exit status is
// LeakSanitizer's verdict.
TEST_F(VentaroOnABus, BenchmarkPostsBothNoticesAndExitsCleanly) {
  const Outcome outcome = run({}, bus->address());

  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_GE(outcome.seconds, 5.0) << "the load runs five seconds after the start notice";
  EXPECT_EQ(outcome.out, "");
  const auto notices = server->callsOf("Notify");
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0][appName], "Ventaro");
  EXPECT_EQ(notices[0][summary], "Compute Benchmark");
  EXPECT_EQ(notices[0][body], "Ventaro will test FP32 performance.");
  EXPECT_THAT(notices[1][summary], MatchesRegex(".+ [0-9]+ (MB|GB)"));
  EXPECT_THAT(notices[1][body], MatchesRegex(kResultBody));
  EXPECT_THAT(server->closedIds(), ElementsAre("1")) << "the start notice is withdrawn";
}

TEST_F(VentaroOnABus, SecondStartWhileOneRunsBothEndNormally) {
  VentaroProcess first(home.path(), {}, bus->address());
  ASSERT_TRUE(waitUntil([&] { return !server->callsOf("Notify").empty(); }));
  VentaroProcess second(home.path(), {}, bus->address());
  const Outcome outcomes[] = {first.finish(), second.finish()};

  for (const Outcome& outcome : outcomes) {
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "");
  }
  EXPECT_THAT(server->callsOf("Notify"),
              Contains(ResultOf([](const Arguments& notice) { return notice[body]; },
                                MatchesRegex(kResultBody)))
                  .Times(2));
}

// The largest StressLevel is capped, not overflowed: the load starts and runs on (it would
// take hours) until it is stopped; a signal during the load ends the process at once.
TEST_F(VentaroOnABus, LargestStressLevelStartsAnOrderlyLoad) {
  settings("StressLevel=9223372036854775807\n");
  VentaroProcess process(home.path(), {}, bus->address());
  ASSERT_TRUE(waitUntil([&] { return !server->closedIds().empty(); }, std::chrono::seconds(30)))
      << "the start notice is withdrawn just before the load";
  EXPECT_FALSE(waitUntil([&] { return !process.running(); }, std::chrono::seconds(1)))
      << "the load ended at once";
  process.stop();
  const Outcome outcome = process.finish();
  EXPECT_EQ(outcome.status, 128 + SIGTERM) << "ended by the signal, not by itself: " << outcome.err;
  EXPECT_EQ(server->callsOf("Notify").size(), 1u);
}

} // namespace
} // namespace ventaro::testing
