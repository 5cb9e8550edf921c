#define G_LOG_DOMAIN "ventaro"

#include "platform/termination_signals.h"

#include <csignal>
#include <glib-unix.h>
#include <system_error>
#include <unistd.h>

namespace ventaro {

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : watches_{Watch{this, SIGINT}, Watch{this, SIGTERM}, Watch{this, SIGHUP}},
      handler_(std::move(onSignal)), context_(g_main_context_new()),
      loop_(g_main_loop_new(context_, FALSE)) {
  // The sources are made here, before the constructor returns, so that no signal that comes
  // later finds the default action in place.
  for (Watch& watch : watches_) {
    GSource* source = g_unix_signal_source_new(watch.number);
    g_source_set_callback(source, &TerminationSignals::onSignal, &watch, nullptr);
    g_source_attach(source, context_);
    g_source_unref(source);
  }
  try {
    thread_ = std::thread([this] { watch(); });
  } catch (const std::system_error& error) {
    g_debug("no thread to watch for termination signals: %s", error.what());
    g_main_loop_unref(loop_);
    g_main_context_unref(context_); // the sources go with it, and the default actions return
    loop_ = nullptr;
    context_ = nullptr;
  }
}

TerminationSignals::~TerminationSignals() {
  if (thread_.joinable()) {
    g_main_context_invoke(
        context_,
        [](gpointer loop) {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }
  const std::lock_guard lock(mutex_);
  if (mainLoopSource_ != 0) {
    g_source_remove(mainLoopSource_);
  }
}

void TerminationSignals::watch() {
  g_main_context_push_thread_default(context_);
  g_main_loop_run(loop_);
  g_main_context_pop_thread_default(context_);
}

int TerminationSignals::received() const {
  const std::lock_guard lock(mutex_);
  return received_;
}

bool TerminationSignals::beginBlockingWork() {
  const std::lock_guard lock(mutex_);
  blocking_ = received_ == 0;
  return blocking_;
}

void TerminationSignals::endBlockingWork() {
  const std::lock_guard lock(mutex_);
  blocking_ = false;
}

// On the watching thread, from its main loop.
int TerminationSignals::onSignal(void* data) {
  const auto* watch = static_cast<const Watch*>(data);
  TerminationSignals* self = watch->self;
  const int number = watch->number;
  const std::lock_guard lock(self->mutex_);
  if (self->blocking_) {
    // The main loop cannot take it before the blocking work ends, which may be hours away.
    ::_exit(128 + number);
  }
  if (self->received_ == 0) {
    self->received_ = number;
    GSource* idle = g_idle_source_new();
    g_source_set_callback(idle, &TerminationSignals::onSignalInMainLoop, self, nullptr);
    self->mainLoopSource_ = g_source_attach(idle, nullptr);
    g_source_unref(idle);
  }
  return G_SOURCE_CONTINUE;
}

// On the main thread, from the default main context.
int TerminationSignals::onSignalInMainLoop(void* data) {
  auto* self = static_cast<TerminationSignals*>(data);
  int number = 0;
  {
    const std::lock_guard lock(self->mutex_);
    self->mainLoopSource_ = 0;
    number = self->received_;
  }
  self->handler_(number);
  return G_SOURCE_REMOVE;
}

} // namespace ventaro
