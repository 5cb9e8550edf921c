#pragma once

// An application in virtual time: work items run only when the test moves time forward, and
// a termination request stops the loop as the real one does, after the requesting routine.

#include "platform/application.h"
#include "tests/platform/call_log.h"

#include <cstdint>
#include <limits>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

namespace ventaro::testing {

class FakeApplication final : public Application {
public:
  explicit FakeApplication(CallLog& log) : log_(log) {}

  std::vector<double> delays;                // of every asyncAfter call
  std::vector<ApplicationDelegate*> senders; // of every terminate call

  /// Records "asyncAfter <seconds>".
  void asyncAfter(double seconds, WorkItem work) override {
    std::ostringstream call;
    call << "asyncAfter " << seconds;
    log_.record(call.str());
    delays.push_back(seconds);
    queue_.emplace(std::pair{log_.now + std::max(seconds, 0.0), sequence_++}, std::move(work));
  }
  /// Records "terminate".
  void terminate(ApplicationDelegate* sender) override {
    log_.record("terminate");
    senders.push_back(sender);
  }

  bool terminationRequested() const { return !senders.empty(); }
  std::size_t pendingWorkItems() const { return queue_.size(); }

  /// Moves virtual time on by `seconds`, running each item that falls due at its deadline.
  void advance(double seconds) {
    const double target = log_.now + seconds;
    while (runNextDueBy(target)) {
    }
    log_.now = std::max(log_.now, target);
  }
  void runUntilIdle() {
    while (runNextDueBy(std::numeric_limits<double>::infinity())) {
    }
  }

private:
  bool runNextDueBy(double limit) {
    if (terminationRequested() || queue_.empty() || queue_.begin()->first.first > limit) {
      return false;
    }
    auto first = queue_.begin();
    log_.now = std::max(log_.now, first->first.first);
    WorkItem work = std::move(first->second);
    queue_.erase(first);
    work();
    return true;
  }

  CallLog& log_;
  std::uint64_t sequence_ = 0;
  std::map<std::pair<double, std::uint64_t>, WorkItem> queue_;
};

} // namespace ventaro::testing
