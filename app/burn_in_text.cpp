#include "app/burn_in_text.h"

#include "app/burn_in_verdict.h"
#include "platform/display_text.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace ventaro {

namespace {

// A time or a reading as a whole number, for text; anything not finite or out of range as 0.
long long whole(double value) {
  constexpr double kLargest = 1e15;
  return std::isfinite(value) && std::fabs(value) < kLargest ? std::llround(value) : 0;
}

// "1 element", "12 elements".
std::string counted(long long count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string degrees(double celsius) {
  return std::to_string(whole(celsius)) + " °C";
}

// m:ss, or h:mm:ss with hours; whole seconds, rounded down.
std::string clockTime(double seconds, bool withHours) {
  const long long total = std::isfinite(seconds) && seconds > 0 ? whole(std::floor(seconds)) : 0;
  std::array<char, 32> text{};
  if (withHours) {
    std::snprintf(text.data(), text.size(), "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text.data(), text.size(), "%lld:%02lld", total / 60, total % 60);
  }
  return text.data();
}

// A reason from outside made safe to show, without the blanks and full stop it may end with.
std::string reasonText(const std::string& reason) {
  std::string text = displayText(reason);
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

// How the run ended, when it ended before its time: "Stopped after …" or "The load failed …".
std::string endingSentence(const BurnInSeries& series, const BurnInJudgement& judgement) {
  const bool measured = !series.segments.empty();
  if (series.failure) {
    return std::string("The load failed") +
           (measured ? " after " + durationInWords(judgement.secondsRun) : "") + ": " +
           reasonText(*series.failure) + ".";
  }
  if (series.stoppedBySignal != 0) {
    return measured ? "Stopped after " + durationInWords(judgement.secondsRun) + " of " +
                          durationInWords(series.requestedSeconds) + "."
                    : "Stopped before the first segment ended.";
  }
  return "";
}

std::string wrongResultsSentence(const BurnInSeries& series, const BurnInJudgement& judgement) {
  std::string sentence = "The results were wrong: ";
  if (judgement.segmentsWithErrors > 0) {
    sentence += (judgement.segmentsWithErrors > 1 ? "up to " : "") +
                counted(judgement.mostDifferingElements, "element") + " differed in " +
                std::to_string(judgement.segmentsWithErrors) + " of " +
                counted(static_cast<long long>(series.segments.size()), "segment");
  }
  if (series.accuracyFailed()) {
    sentence += std::string(judgement.segmentsWithErrors > 0 ? ", and " : "") +
                "the product lay outside the FP32 error bound";
  }
  return sentence + ".";
}

void appendSentence(std::string& text, const std::string& sentence) {
  if (!sentence.empty()) {
    text += " " + sentence;
  }
}

} // namespace

std::string durationInWords(double seconds) {
  const long long wholeSeconds = std::isfinite(seconds) && seconds > 0 ? whole(seconds) : 0;
  if (wholeSeconds < 120) {
    return counted(wholeSeconds, "second");
  }
  const long long minutes = whole(seconds / 60);
  if (minutes < 120) {
    return counted(minutes, "minute");
  }
  return counted(whole(seconds / 3600), "hour");
}

std::string burnInNoticeBody(const BurnInSeries& series) {
  return burnInNoticeBody(series, judgeBurnIn(series));
}

std::string burnInNoticeBody(const BurnInSeries& series, const BurnInJudgement& judgement) {
  const bool measured = !series.segments.empty();
  const std::string ending = endingSentence(series, judgement);

  std::string body = "Ventaro measured " + std::to_string(judgement.medianGflops) + " GFLOPS";
  if (measured && ending.empty()) {
    body += " for " + durationInWords(judgement.secondsRun);
  }
  if (measured) {
    body += ", lowest " + std::to_string(judgement.lowestGflops);
  }
  body += ".";
  appendSentence(body, ending);

  if (judgement.throttling) {
    const Throttling& throttling = *judgement.throttling;
    appendSentence(
        body, "Throttled after " + durationInWords(throttling.t) +
                  (throttling.temperature ? " at " + degrees(*throttling.temperature) : "") + ".");
  } else if (judgement.verdict == Verdict::steady && measured) {
    appendSentence(body, judgement.hottest
                             ? "Steady, hottest " + degrees(judgement.hottest->value) + "."
                             : std::string("Steady."));
  }
  if (judgement.verdict == Verdict::unstable) {
    appendSentence(body, wrongResultsSentence(series, judgement));
  } else if (measured && !series.failure) {
    appendSentence(body, "No errors.");
  }
  return body;
}

std::string burnInStatusLine(const BurnInSeries& series) {
  const double elapsed = series.segments.empty() ? 0.0 : series.segments.back().t;
  constexpr double kHour = 3600.0;
  const bool withHours = elapsed >= kHour || series.requestedSeconds >= kHour;

  std::string line = displayText(series.deviceId) + " " + clockTime(elapsed, withHours);
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "text" + a temporary.
  if (series.requestedSeconds > 0) {
    line += '/';
    line += clockTime(series.requestedSeconds, withHours);
  }
  if (series.segments.empty()) {
    return line;
  }
  const SegmentRecord& last = series.segments.back();
  long long errors = 0;
  for (const SegmentRecord& segment : series.segments) {
    errors += segment.differingElements > 0 ? 1 : 0;
  }
  line += ' ';
  line += std::to_string(last.gflops);
  line += " GFLOPS ";
  line += counted(errors, "error");
  if (const std::optional<telemetry::Reading> hottest = hottestTemperature(last.sensors)) {
    line += ' ';
    line += degrees(hottest->value);
  }
  if (const std::optional<double> clock = segmentClock(last.sensors)) {
    line += ' ';
    line += std::to_string(whole(*clock));
    line += " MHz";
  }
  return line;
}

std::string burnInStatusLine(const std::vector<BurnInSeries>& series) {
  std::string line;
  for (const BurnInSeries& one : series) {
    line += (line.empty() ? "" : " | ") + burnInStatusLine(one);
  }
  return line;
}

} // namespace ventaro
