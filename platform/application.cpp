#include "platform/application.h"

#include "platform/termination_signals.h"

#include <cmath>
#include <glib.h>
#include <limits>

namespace ventaro {
namespace {

constexpr std::int64_t kForever = std::numeric_limits<std::int64_t>::max();

// Microseconds from now on the monotonic clock, saturating; a negative or NaN delay is 0.
std::int64_t deadlineAfter(double seconds) {
  const std::int64_t now = g_get_monotonic_time();
  if (!(seconds > 0.0)) {
    return now;
  }
  const double micros = std::ceil(seconds * 1e6);
  const auto room = static_cast<double>(kForever - now);
  if (micros >= room) {
    return kForever;
  }
  return now + static_cast<std::int64_t>(micros);
}

// Whole milliseconds until `deadline`, rounded up, within what a GLib timeout takes.
guint millisecondsUntil(std::int64_t deadline) {
  const std::int64_t now = g_get_monotonic_time();
  if (deadline <= now) {
    return 0;
  }
  const std::int64_t millis = (deadline - now + 999) / 1000;
  return millis >= G_MAXUINT ? G_MAXUINT : static_cast<guint>(millis);
}

} // namespace

GlibApplication::GlibApplication() = default;

GlibApplication::~GlibApplication() {
  signals_.reset();
  disarmTimer();
  if (launchSource_ != 0) {
    g_source_remove(launchSource_);
  }
}

void GlibApplication::asyncAfter(double seconds, WorkItem work) {
  queue_.emplace(QueueKey{deadlineAfter(seconds), nextSequence_++}, std::move(work));
  armTimer();
}

void GlibApplication::terminate(ApplicationDelegate* /*sender*/) {
  terminationRequested_ = true;
  disarmTimer();
  if (loop_ != nullptr) {
    g_main_loop_quit(loop_);
  }
}

int GlibApplication::run(ApplicationDelegate& delegate) {
  delegate_ = &delegate;
  if (!terminationRequested_) {
    loop_ = g_main_loop_new(nullptr, FALSE);
    launchSource_ = g_idle_add(&GlibApplication::onLaunch, this);
    g_main_loop_run(loop_);
    g_main_loop_unref(loop_);
    loop_ = nullptr;
  }
  if (launchSource_ != 0) {
    g_source_remove(launchSource_);
    launchSource_ = 0;
  }
  disarmTimer();
  // Work items that never ran release what they carry now, before the delegate hears the end.
  queue_.clear();
  delegate_ = nullptr;
  if (signals_ && signals_->received() != 0) {
    exitStatus_ = 128 + signals_->received();
  }
  if (failure_) {
    std::rethrow_exception(std::exchange(failure_, nullptr));
  }
  delegate.applicationWillTerminate();
  return exitStatus_;
}

int GlibApplication::receivedSignal() const {
  return signals_ ? signals_->received() : 0;
}

void GlibApplication::watchTerminationSignals(std::function<void(int)> onSignal) {
  signals_ = std::make_unique<TerminationSignals>(std::move(onSignal));
}

bool GlibApplication::beginBlockingWork() {
  return !signals_ || signals_->beginBlockingWork();
}

void GlibApplication::endBlockingWork() {
  if (signals_) {
    signals_->endBlockingWork();
  }
}

int GlibApplication::onLaunch(void* self) {
  auto* app = static_cast<GlibApplication*>(self);
  app->launchSource_ = 0;
  try {
    app->delegate_->applicationDidFinishLaunching();
  } catch (...) {
    app->stopLoop(std::current_exception());
  }
  return G_SOURCE_REMOVE;
}

int GlibApplication::onTimer(void* self) {
  auto* app = static_cast<GlibApplication*>(self);
  app->timerSource_ = 0;
  app->runDueItem();
  return G_SOURCE_REMOVE;
}

void GlibApplication::runDueItem() {
  if (terminationRequested_ || queue_.empty()) {
    return;
  }
  auto first = queue_.begin();
  if (first->first.first > g_get_monotonic_time()) {
    armTimer(); // woke before the deadline (a long delay is waited for in pieces)
    return;
  }
  WorkItem work = std::move(first->second);
  queue_.erase(first);
  try {
    work();
  } catch (...) {
    stopLoop(std::current_exception());
    return;
  }
  armTimer();
}

void GlibApplication::armTimer() {
  disarmTimer();
  if (terminationRequested_ || failure_ || queue_.empty()) {
    return;
  }
  timerSource_ = g_timeout_add(millisecondsUntil(queue_.begin()->first.first),
                               &GlibApplication::onTimer, this);
}

void GlibApplication::disarmTimer() {
  if (timerSource_ != 0) {
    g_source_remove(timerSource_);
    timerSource_ = 0;
  }
}

void GlibApplication::stopLoop(std::exception_ptr failure) {
  failure_ = std::move(failure);
  disarmTimer();
  if (loop_ != nullptr) {
    g_main_loop_quit(loop_);
  }
}

} // namespace ventaro
