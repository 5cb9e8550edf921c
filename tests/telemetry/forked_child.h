#pragma once

// Runs a piece of a test in a forked child, bounded by the test's own timer: for what changes
// process-wide state (a private mount namespace, libsensors' one start, the log writer) or may
// hang.

#include "telemetry/sample.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace ventaro::telemetry::testing {

struct ChildOutcome {
  bool finished = false; // false: killed when the time ran out
  std::string output;    // what the body returned
};

/// Runs `body` in a forked child and gives back what it returned; the child is killed when it
/// has not finished within `limit`. An exception in the body comes back as "error: <what>".
ChildOutcome runInChild(const std::function<std::string()>& body,
                        std::chrono::milliseconds limit = std::chrono::seconds(20));

/// What a child read: the names of the sources and one sample, as text and back.
struct ChildReport {
  std::vector<std::string> names;
  Sample sample;
};
std::string toText(const ChildReport& report);
ChildReport fromText(const std::string& text);

} // namespace ventaro::telemetry::testing
