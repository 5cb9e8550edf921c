#pragma once

// The process's application object: a main queue with delayed work items and a termination
// request, and the delegate it reports the start and the end of the process to.

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <utility>

// GLib's own declaration, repeated so that this header does not pull in <glib.h>.
using GMainLoop = struct _GMainLoop; // NOLINT(bugprone-reserved-identifier)

namespace ventaro {

class TerminationSignals;

/// Receives the two moments of the process's life that the application reports.
class ApplicationDelegate {
public:
  virtual ~ApplicationDelegate() = default;
  /// Called once, from inside the running main loop, before any work item runs.
  virtual void applicationDidFinishLaunching() = 0;
  /// Called once, after the main loop has stopped for a termination request.
  virtual void applicationWillTerminate() = 0;
};

class Application {
public:
  using WorkItem = std::function<void()>;

  virtual ~Application() = default;
  /// Runs `work` once on the main queue, at or after `seconds` from now. Work items run one at
  /// a time, in the order of their deadlines (equal deadlines in the order they were added).
  /// A negative or not-a-number delay counts as 0.
  virtual void asyncAfter(double seconds, WorkItem work) = 0;
  /// Requests termination. The caller's routine runs on to its end; then the main loop stops,
  /// no further work item runs, and the delegate hears `applicationWillTerminate`.
  virtual void terminate(ApplicationDelegate* sender) = 0;
  /// Sets the status the process exits with once it terminates (0 until set; the last call
  /// wins). A run that failed sets a non-zero status before it requests termination.
  virtual void setExitStatus(int status) = 0;
  /// Work that keeps the main queue busy for long (the load) begins: a termination signal that
  /// comes meanwhile cannot wait for the queue and ends the process at once. False when a
  /// termination signal has already come: the caller then leaves the work undone.
  virtual bool beginBlockingWork() { return true; }
  /// The blocking work has ended: termination signals wait for the main queue again.
  virtual void endBlockingWork() {}
  /// The number of the first termination signal that came, 0 while none has. Work that
  /// keeps the main queue busy and can stop early looks at it instead of blocking signals.
  virtual int receivedSignal() const { return 0; }
};

/// The application on the GLib main loop of the default main context. Work items wait in one
/// queue ordered by deadline; a single millisecond timeout is armed for the earliest of them,
/// and one work item runs per dispatch, so other event sources are served in between. A
/// deadline is never met early, and any delay, however long, is an orderly wait.
class GlibApplication final : public Application {
public:
  GlibApplication();
  ~GlibApplication() override;
  GlibApplication(const GlibApplication&) = delete;
  GlibApplication& operator=(const GlibApplication&) = delete;

  void asyncAfter(double seconds, WorkItem work) override;
  void terminate(ApplicationDelegate* sender) override;
  void setExitStatus(int status) override { exitStatus_ = status; }
  bool beginBlockingWork() override;
  void endBlockingWork() override;
  int receivedSignal() const override;

  /// From now on SIGINT, SIGTERM and SIGHUP are handled: the first one runs `onSignal` with
  /// its number from the main loop (never inside a signal handler), and the process exits
  /// with 128 + that number once the loop has stopped. During blocking work the process ends
  /// at once with that status instead.
  void watchTerminationSignals(std::function<void(int)> onSignal);

  /// Calls `applicationDidFinishLaunching` from inside the main loop, runs the loop until
  /// termination is requested, drops the work items that never ran, tells the delegate
  /// `applicationWillTerminate` and returns the process's exit status
  /// (the one set with setExitStatus, else 0). Where termination
  /// was requested before this call, the delegate hears only `applicationWillTerminate`.
  /// An exception thrown by a work item or by the delegate stops the loop and leaves this call.
  int run(ApplicationDelegate& delegate);

  /// Work items scheduled and not yet run.
  std::size_t pendingWorkItems() const { return queue_.size(); }

private:
  using QueueKey = std::pair<std::int64_t, std::uint64_t>; // deadline (µs), order of adding

  static int onLaunch(void* self);
  static int onTimer(void* self);
  void armTimer();
  void disarmTimer();
  void runDueItem();
  void stopLoop(std::exception_ptr failure);

  ApplicationDelegate* delegate_ = nullptr;
  GMainLoop* loop_ = nullptr;
  unsigned timerSource_ = 0;
  unsigned launchSource_ = 0;
  bool terminationRequested_ = false;
  int exitStatus_ = 0;
  std::exception_ptr failure_;
  std::uint64_t nextSequence_ = 0;
  std::map<QueueKey, WorkItem> queue_;
  std::unique_ptr<TerminationSignals> signals_;
};

} // namespace ventaro
