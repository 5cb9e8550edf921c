#pragma once

// SIGINT, SIGTERM and SIGHUP, watched on a thread of its own so that a signal is seen even
// while the main thread is busy, and handed to the main loop when the main loop can take it.

#include <array>
#include <functional>
#include <mutex>
#include <thread>

// GLib's own declarations, repeated so that this header does not pull in <glib.h>.
using GMainContext = struct _GMainContext; // NOLINT(bugprone-reserved-identifier)
using GMainLoop = struct _GMainLoop;       // NOLINT(bugprone-reserved-identifier)

namespace ventaro {

class TerminationSignals {
public:
  /// Starts watching. The first signal runs `onSignal` with its number on the default main
  /// context (from an idle source, never inside a signal handler); later ones are only noted.
  /// Where no thread can be started the signals keep their default action.
  explicit TerminationSignals(std::function<void(int)> onSignal);
  /// Stops watching: the signals get their default action back.
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  /// The number of the first signal that came, 0 while none has.
  int received() const;
  /// From now until endBlockingWork a signal ends the process at once with 128 + its number.
  /// False, and nothing changes, when a signal has already come.
  bool beginBlockingWork();
  void endBlockingWork();

private:
  static int onSignal(void* data);
  static int onSignalInMainLoop(void* data);
  void watch();

  struct Watch {
    TerminationSignals* self;
    int number;
  };

  std::array<Watch, 3> watches_;
  std::function<void(int)> handler_;
  mutable std::mutex mutex_;
  int received_ = 0;
  bool blocking_ = false;
  unsigned mainLoopSource_ = 0;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::thread thread_;
};

} // namespace ventaro
