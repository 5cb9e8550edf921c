#include "platform/application.h"

#include <chrono>
#include <cmath>
#include <glib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdexcept>

namespace ventaro {
namespace {

using ::testing::ElementsAre;

class Delegate : public ApplicationDelegate {
public:
  std::vector<std::string> events;
  std::function<void()> onLaunch;

  void applicationDidFinishLaunching() override {
    events.push_back(g_main_depth() > 0 ? "launched in loop" : "launched outside loop");
    onLaunch();
  }
  void applicationWillTerminate() override { events.push_back("will terminate"); }
};

class GlibApplicationTest : public ::testing::Test {
protected:
  GlibApplication::WorkItem mark(std::string name, bool terminate = false) {
    return [this, name, terminate] {
      ran.push_back(name);
      if (terminate) {
        app.terminate(&delegate);
      }
    };
  }

  GlibApplication app;
  Delegate delegate;
  std::vector<std::string> ran;
};

TEST_F(GlibApplicationTest, TerminationDuringLaunchIsHonouredAfterTheLaunchRoutine) {
  delegate.onLaunch = [&] {
    app.terminate(&delegate);
    delegate.events.push_back("launch goes on");
    app.asyncAfter(0.0, mark("scheduled after the request"));
  };
  EXPECT_EQ(app.run(delegate), 0);
  EXPECT_THAT(delegate.events, ElementsAre("launched in loop", "launch goes on", "will terminate"));
  EXPECT_TRUE(ran.empty());
}

TEST_F(GlibApplicationTest, WorkItemsRunByDeadlineThenInOrderAdded) {
  delegate.onLaunch = [&] {
    app.asyncAfter(0.030, mark("c"));
    app.asyncAfter(0.010, mark("a"));
    app.asyncAfter(0.020, mark("b"));
    app.asyncAfter(0.0, mark("now 1"));
    app.asyncAfter(-3.0, mark("now 2"));
    app.asyncAfter(std::nan(""), mark("now 3"));
    app.asyncAfter(INFINITY, mark("never"));
    app.asyncAfter(9.2e18, mark("never either"));
    app.asyncAfter(0.040, mark("end", true));
  };
  EXPECT_EQ(app.run(delegate), 0);
  EXPECT_THAT(ran, ElementsAre("now 1", "now 2", "now 3", "a", "b", "c", "end"));
}

TEST_F(GlibApplicationTest, DeadlineIsNeverMetEarly) {
  std::vector<double> lateness;
  delegate.onLaunch = [&] {
    for (double delay : {0.001, 0.0155, 0.05}) {
      const auto scheduled = std::chrono::steady_clock::now();
      app.asyncAfter(delay, [&lateness, scheduled, delay] {
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - scheduled;
        lateness.push_back(waited.count() - delay);
      });
    }
    app.asyncAfter(0.06, mark("end", true));
  };
  app.run(delegate);
  ASSERT_EQ(lateness.size(), 3u);
  EXPECT_THAT(lateness, ::testing::Each(::testing::Ge(0.0)));
}

TEST_F(GlibApplicationTest, NothingRunsAfterTheRoutineThatRequestedTermination) {
  delegate.onLaunch = [&] {
    app.asyncAfter(0.01, [&] {
      app.terminate(&delegate);
      ran.push_back("requester ran on");
      app.asyncAfter(0.0, mark("added after the request"));
    });
    app.asyncAfter(0.01, mark("due at the same moment"));
    app.asyncAfter(0.02, mark("due later"));
  };
  EXPECT_EQ(app.run(delegate), 0);
  EXPECT_THAT(ran, ElementsAre("requester ran on"));
  EXPECT_THAT(delegate.events, ElementsAre("launched in loop", "will terminate"));
  EXPECT_EQ(app.pendingWorkItems(), 0u);
}

TEST_F(GlibApplicationTest, LeftoverWorkDoesNotReachALaterApplication) {
  {
    GlibApplication first;
    Delegate firstDelegate;
    firstDelegate.onLaunch = [&] {
      first.asyncAfter(0.01, mark("from the first application"));
      first.terminate(&firstDelegate);
    };
    first.run(firstDelegate);
  }
  delegate.onLaunch = [&] { app.asyncAfter(0.05, mark("second", true)); };
  app.run(delegate);
  EXPECT_THAT(ran, ElementsAre("second"));
}

TEST_F(GlibApplicationTest, ErrorInAWorkItemStopsTheLoopAndLeavesRun) {
  delegate.onLaunch = [&] {
    app.asyncAfter(0.0, [] { throw std::runtime_error("broken work item"); });
    app.asyncAfter(0.01, mark("after the error"));
  };
  EXPECT_THROW(app.run(delegate), std::runtime_error);
  EXPECT_TRUE(ran.empty());
  EXPECT_THAT(delegate.events, ElementsAre("launched in loop"));
}

} // namespace
} // namespace ventaro
