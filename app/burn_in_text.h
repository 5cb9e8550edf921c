#pragma once

// The words of a timed run: the result notice's body when it ends, and the status line that
// shows its progress while it runs.

#include "app/burn_in_series.h"
#include "app/burn_in_verdict.h"

#include <string>
#include <vector>

namespace ventaro {

/// A length of time in words, rounded to the nearest whole unit: seconds under two minutes,
/// minutes under two hours, hours above ("42 seconds", "10 minutes", "3 hours").
std::string durationInWords(double seconds);

/// The result notice's body for a run:
///   "Ventaro measured 5120 GFLOPS for 10 minutes, lowest 4310. Throttled after 4 minutes at
///    86 °C. No errors."
/// The median figure, the time the segments ran, the lowest figure; then, for a run stopped by
/// a signal, "Stopped after 42 seconds of 10 minutes." and for one that failed, "The load failed
/// after 42 seconds: <reason>." in place of the time; then "Steady." or the throttling (also
/// when the results were wrong), and "No errors." or what was wrong. A run without segments
/// says "Ventaro measured 0 GFLOPS." and why it ended.
std::string burnInNoticeBody(const BurnInSeries& series);
/// The same, for a series already judged (`judgement` is judgeBurnIn(series)).
std::string burnInNoticeBody(const BurnInSeries& series, const BurnInJudgement& judgement);

/// One device's progress: "vulkan:0 1:05/10:00 4102 GFLOPS 0 errors 78 °C 1650 MHz". The time
/// run and the time asked for (h:mm:ss from an hour on), the last segment's figure, the segments
/// whose product differed so far, and the last segment's hottest temperature and clock; a part
/// not known yet is left out.
std::string burnInStatusLine(const BurnInSeries& series);

/// The status lines of several devices on one line, joined by " | ".
std::string burnInStatusLine(const std::vector<BurnInSeries>& series);

} // namespace ventaro
