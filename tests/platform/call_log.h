#pragma once

// A virtual clock and one record of the calls that the platform fakes receive, in order, so
// that a test can check the order of calls across services and when each happened.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace ventaro::testing {

struct CallLog {
  struct Entry {
    double time;
    std::string call;
  };

  double now = 0.0; // virtual seconds; FakeApplication moves it forward
  std::vector<Entry> entries;

  void record(std::string call) { entries.push_back({now, std::move(call)}); }

  /// The calls made at virtual time `time` (every call when none is given), in order.
  std::vector<std::string> calls(std::optional<double> time = std::nullopt) const {
    std::vector<std::string> result;
    for (const Entry& entry : entries) {
      if (!time || entry.time == *time) {
        result.push_back(entry.call);
      }
    }
    return result;
  }

  std::optional<double> timeOf(const std::string& call) const {
    for (const Entry& entry : entries) {
      if (entry.call == call) {
        return entry.time;
      }
    }
    return std::nullopt;
  }

  long count(const std::string& call) const {
    return std::count_if(entries.begin(), entries.end(),
                         [&](const Entry& entry) { return entry.call == call; });
  }
};

} // namespace ventaro::testing
