#define G_LOG_DOMAIN "ventaro"

#include "platform/termination_signals.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <glib-unix.h>
#include <unistd.h>

namespace ventaro {
namespace {

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

// The handler's whole state in one word, so that it changes in one atomic step: the number of
// the first signal in the low byte, and whether blocking work is under way.
constexpr int kNumberMask = 0xff;
constexpr int kBlocking = 0x100;
// Process-wide: a signal handler is given nothing but the signal's number.
std::atomic<int> state{0};
std::atomic<int> writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only use lock-free atomics");

// Async-signal-safe: atomics, write(2) and _exit(2) only.
void onSignal(int number) {
  const int savedErrno = errno;
  int now = state.load();
  while (true) {
    if ((now & kBlocking) != 0) {
      // The main loop cannot take it before the blocking work ends, which may be hours away.
      ::_exit(128 + number);
    }
    if ((now & kNumberMask) != 0) {
      break; // only the first one counts
    }
    if (state.compare_exchange_weak(now, now | number)) {
      const char byte = 1;
      [[maybe_unused]] const ssize_t written = ::write(writeEnd.load(), &byte, 1);
      break;
    }
  }
  errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : handler_(std::move(onSignal)) {
  state.store(0);
  if (::pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    g_debug("no pipe to watch for termination signals: %s", g_strerror(errno));
    pipe_ = {-1, -1};
    return;
  }
  writeEnd.store(pipe_[1]);
  // The main loop's source exists before the handler, so that no signal finds nothing to wake.
  source_ = g_unix_fd_add(
      pipe_[0], G_IO_IN,
      [](int fd, GIOCondition condition, gpointer self) -> gboolean {
        return TerminationSignals::onReadable(fd, condition, self);
      },
      this);
  struct sigaction action {};
  action.sa_handler = &ventaro::onSignal;
  sigemptyset(&action.sa_mask);
  for (const int number : kSignals) {
    sigaddset(&action.sa_mask, number);
  }
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    ::sigaction(kSignals.at(i), &action, &previous_.at(i));
  }
  installed_ = true;
}

TerminationSignals::~TerminationSignals() {
  if (installed_) {
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
      ::sigaction(kSignals.at(i), &previous_.at(i), nullptr);
    }
  }
  if (source_ != 0) {
    g_source_remove(source_);
  }
  writeEnd.store(-1);
  for (const int fd : pipe_) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  state.store(0);
}

int TerminationSignals::received() const {
  return state.load() & kNumberMask;
}

bool TerminationSignals::beginBlockingWork() {
  int now = state.load();
  do {
    if ((now & kNumberMask) != 0) {
      return false;
    }
  } while (!state.compare_exchange_weak(now, now | kBlocking));
  return true;
}

void TerminationSignals::endBlockingWork() {
  state.fetch_and(~kBlocking);
}

// On the main thread, from the default main context.
int TerminationSignals::onReadable(int fd, unsigned /*condition*/, void* data) {
  auto* self = static_cast<TerminationSignals*>(data);
  std::array<char, 16> drained{};
  while (::read(fd, drained.data(), drained.size()) > 0) {
  }
  const int number = self->received();
  if (number == 0) {
    return G_SOURCE_CONTINUE;
  }
  self->source_ = 0;
  self->handler_(number);
  return G_SOURCE_REMOVE;
}

} // namespace ventaro
