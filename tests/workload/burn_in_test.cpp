#include "tests/workload/fake_gpu.h"
#include "workload/burn_in.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <stop_token>

namespace ventaro {
namespace {

// A fake device of a given rate on its virtual clock.
struct TimedDevice {
  testing::FakeDevice device;
  BurnInOptions options;

  TimedDevice(double gflops, bool processor, double seconds) {
    device.gflopsRate = gflops;
    device.processor = processor;
    options.seconds = seconds;
  }
  BurnInResult run(std::stop_token stop = {}, const BurnInHooks& hooks = {}) {
    return runBurnIn(device, options, stop, hooks, [this] { return device.clock; });
  }
  std::int64_t calls(const std::string& prefix) const {
    return std::count_if(device.calls.begin(), device.calls.end(),
                         [&](const std::string& call) { return call.starts_with(prefix); });
  }
};

TEST(BurnInSizing, OrderAndSubmissionsFollowTheRate) {
  struct Row {
    double gflops, bound;
    std::int64_t order;
  };
  for (const Row& row : {Row{5000, 0.5, 4096}, Row{100, 0.5, 2048}, Row{100, 2.0, 4096},
                         Row{1, 0.5, 512}, Row{0.001, 0.5, 64}, Row{1e12, 0.5, 4096}}) {
    EXPECT_EQ(burnInDimension(row.gflops, row.bound, 64, 4096), row.order) << row.gflops;
  }
  const BurnInOptions options;
  EXPECT_EQ(submissionPlan(0.0275, options).perSubmission, 18);
  EXPECT_EQ(submissionPlan(0.0275, options).submissionsPerSegment, 4);
  EXPECT_EQ(submissionPlan(1.37, options).perSubmission, 1) << "never less than one";
  EXPECT_EQ(submissionPlan(1.37, options).submissionsPerSegment, 1);
  EXPECT_EQ(submissionPlan(0.0, options).perSubmission, 1) << "a clock that did not move";
}

// A fast GPU gets the full order in bounded submissions; a processor-type device may take a
// whole segment per multiplication; the figure of every segment is the device's rate.
TEST(BurnIn, SegmentsOfAboutTwoSecondsInBoundedSubmissions) {
  TimedDevice gpu(5000, false, 20.0);
  const BurnInResult onGpu = gpu.run();
  ASSERT_FALSE(onGpu.failure) << *onGpu.failure;
  EXPECT_EQ(onGpu.dimension, 4096);
  EXPECT_EQ(onGpu.perSubmission, 18);
  EXPECT_EQ(onGpu.submissionsPerSegment, 4);
  EXPECT_GE(onGpu.segments.size(), 9U);
  EXPECT_LE(onGpu.segments.size(), 10U);
  for (const BurnInSegment& segment : onGpu.segments) {
    EXPECT_NEAR(static_cast<double>(segment.gflops), 5000, 1);
    // The last one takes the time left, up to one and a half segments.
    EXPECT_LE(segment.seconds, &segment == &onGpu.segments.back() ? 3.1 : 2.1);
    EXPECT_EQ(segment.differingElements, 0);
  }
  EXPECT_NEAR(onGpu.segments.back().t, 20.0, 0.1) << "the last segment takes the time left";
  EXPECT_EQ(onGpu.valuesChecked, 512) << "the first and the last products";
  EXPECT_EQ(onGpu.valuesOutsideBound, 0);

  TimedDevice processor(100, true, 10.0);
  const BurnInResult onProcessor = processor.run();
  EXPECT_EQ(onProcessor.dimension, 4096);
  EXPECT_EQ(onProcessor.perSubmission, 1);

  TimedDevice slowGpu(1, false, 10.0);
  EXPECT_EQ(slowGpu.run().dimension, 512);
}

TEST(BurnIn, EverySegmentIsComparedWithTheFirstProduct) {
  TimedDevice gpu(5000, false, 8.0);
  gpu.device.differenceSeries = {0, 7, 0};
  const BurnInResult result = gpu.run();
  ASSERT_GE(result.segments.size(), 3U);
  EXPECT_EQ(result.segments[0].differingElements, 0);
  EXPECT_EQ(result.segments[1].differingElements, 7);
  EXPECT_EQ(result.segments[2].differingElements, 0);

  TimedDevice wrong(5000, false, 4.0);
  wrong.device.productError = 1.0f;
  const BurnInResult inaccurate = wrong.run();
  EXPECT_EQ(inaccurate.valuesOutsideBound, inaccurate.valuesChecked);
}

// A stop ends the run after the submission under way, and what was measured stays, with the
// last product checked; a device that fails keeps the segments before the failure.
TEST(BurnIn, AStopOrAFailureKeepsWhatWasMeasured) {
  TimedDevice stopped(5000, false, 60.0);
  std::stop_source source;
  BurnInHooks hooks;
  hooks.onSegment = [&](const BurnInSegment&) {
    if (stopped.calls("countDifferences") == 3) {
      source.request_stop();
    }
  };
  const BurnInResult result = stopped.run(source.get_token(), hooks);
  EXPECT_TRUE(result.stopped);
  EXPECT_FALSE(result.failure);
  EXPECT_EQ(result.segments.size(), 3U);
  EXPECT_EQ(result.valuesChecked, 512);

  TimedDevice failing(5000, false, 60.0);
  int segments = 0;
  hooks.onSegment = [&](const BurnInSegment&) {
    if (++segments == 2) {
      failing.device.commandError = gpu::CommandError{"device lost"};
    }
  };
  const BurnInResult lost = failing.run({}, hooks);
  EXPECT_EQ(lost.segments.size(), 2U);
  ASSERT_TRUE(lost.failure);
  EXPECT_EQ(*lost.failure, "device lost");
  EXPECT_FALSE(lost.stopped);

  TimedDevice refused(5000, false, 60.0);
  refused.device.refuse = "newBuffer";
  const BurnInResult none = refused.run();
  EXPECT_TRUE(none.segments.empty());
  ASSERT_TRUE(none.failure);
  EXPECT_NE(none.failure->find("cannot allocate"), std::string::npos);
}

TEST(BurnIn, ASensorHookRunsOncePerSegmentWhileTheDeviceIsBusy) {
  TimedDevice gpu(5000, false, 6.0);
  int reads = 0;
  BurnInHooks hooks;
  hooks.whileBusy = [&] {
    ++reads;
    EXPECT_GT(gpu.calls("commit"), gpu.calls("waitUntilCompleted"))
        << "a submission is on the device";
  };
  const BurnInResult result = gpu.run({}, hooks);
  EXPECT_EQ(static_cast<std::size_t>(reads), result.segments.size());
}

} // namespace
} // namespace ventaro
