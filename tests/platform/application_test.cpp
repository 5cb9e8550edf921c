#include "platform/application.h"

#include <chrono>
#include <cmath>
#include <glib.h>
#include <gmock/gmock.h>

namespace ventaro {
namespace {

using ::testing::ElementsAre;

struct Delegate : ApplicationDelegate {
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
  // A work item that notes its name.
  GlibApplication::WorkItem mark(std::string name) {
    return [this, name] { ran.push_back(name); };
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

TEST_F(GlibApplicationTest,
       WorkItemsRunByDeadlineThenInOrderAddedNeverEarlyAndNoneAfterTermination) {
  std::vector<double> lateness;
  delegate.onLaunch = [&] {
    app.asyncAfter(0.030, mark("c"));
    app.asyncAfter(0.010, mark("a"));
    app.asyncAfter(0.0155, mark("b"));
    for (const double now : {0.0, -3.0, std::nan("")}) {
      app.asyncAfter(now, mark("now"));
    }
    app.asyncAfter(INFINITY, mark("never"));
    app.asyncAfter(9.2e18, mark("never either"));
    for (const double delay : {0.001, 0.0155, 0.03}) {
      const auto scheduled = std::chrono::steady_clock::now();
      app.asyncAfter(delay, [&lateness, scheduled, delay] {
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - scheduled;
        lateness.push_back(waited.count() - delay);
      });
    }
    // Nothing runs after the routine that requests termination, whatever is due.
    app.asyncAfter(0.040, [&] {
      app.terminate(&delegate);
      ran.push_back("requester ran on");
      app.asyncAfter(0.0, mark("added after the request"));
    });
    app.asyncAfter(0.040, mark("due at the same moment"));
    app.asyncAfter(0.050, mark("due later"));
  };
  EXPECT_EQ(app.run(delegate), 0);
  EXPECT_THAT(ran, ElementsAre("now", "now", "now", "a", "b", "c", "requester ran on"));
  EXPECT_THAT(lateness, ElementsAre(::testing::Ge(0.0), ::testing::Ge(0.0), ::testing::Ge(0.0)));
  EXPECT_THAT(delegate.events, ElementsAre("launched in loop", "will terminate"));
  EXPECT_EQ(app.pendingWorkItems(), 0u);
}

} // namespace
} // namespace ventaro
