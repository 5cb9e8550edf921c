#pragma once

// What one run of the matrix load measured and found: the figure, the work done, whether the
// results were checked and held, and why the load failed where it did.

#include <cstdint>
#include <optional>
#include <string>

namespace ventaro {

/// Whether the results of a load were checked, and what the check found.
enum class ResultCheck { notRun, passed, failed };

struct LoadOutcome {
  /// Whole GFLOPS, truncated toward zero; 0 when the load failed.
  std::int64_t gflops = 0;
  /// Order of the square matrices multiplied.
  std::int64_t dimension = 0;
  /// Multiplications submitted (after the cap).
  std::int64_t multiplications = 0;
  /// Seconds between submission and completion; 0 when nothing was timed.
  double seconds = 0.0;
  /// The last product against the first, bit for bit.
  ResultCheck check = ResultCheck::notRun;
  /// Values of the last product that differed from the first one (when the check failed).
  std::int64_t mismatchedValues = 0;
  /// Values of the product read back at positions drawn from the seed, against the exact
  /// product within the FP32 error bound.
  ResultCheck accuracyCheck = ResultCheck::notRun;
  /// Values the accuracy check read back, and how many of them lay outside their bound.
  std::int64_t valuesChecked = 0;
  std::int64_t valuesOutsideBound = 0;
  /// Why the load failed (no queue, a library error, memory refused ...); none when it ran.
  std::optional<std::string> failure;

  bool failed() const { return failure.has_value(); }
  /// Either check failed.
  bool wrongResults() const {
    return check == ResultCheck::failed || accuracyCheck == ResultCheck::failed;
  }
};

} // namespace ventaro
