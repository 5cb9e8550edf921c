#pragma once

// SIGINT, SIGTERM and SIGHUP, caught by a handler that only notes the signal and writes one
// byte into a pipe whose reading end the main loop watches. No thread is started for them:
// GLib's own signal sources need its worker thread, and GLib ends the process with a core
// dump where that thread cannot be made (a thread or address-space limit).

#include <array>
#include <csignal>
#include <functional>

namespace ventaro {

class TerminationSignals {
public:
  /// Starts watching. The first signal runs `onSignal` with its number on the default main
  /// context (from its main loop, never inside the signal handler); later ones are only noted.
  /// Where no pipe can be made the signals keep their default action. One object at a time:
  /// the handler is the process's.
  explicit TerminationSignals(std::function<void(int)> onSignal);
  /// Stops watching: the signals get back the actions they had before.
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
  static int onReadable(int fd, unsigned condition, void* data);

  std::function<void(int)> handler_;
  std::array<int, 2> pipe_{-1, -1};
  unsigned source_ = 0;
  std::array<struct sigaction, 3> previous_{};
  bool installed_ = false;
};

} // namespace ventaro
