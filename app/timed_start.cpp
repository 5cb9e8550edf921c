#include "app/timed_start.h"

#include "app/burn_in_json.h"
#include "app/burn_in_text.h"
#include "app/burn_in_verdict.h"
#include "app/command_line.h"
#include "app/plot/render_plot.h"
#include "app/workload_run.h"
#include "platform/display_text.h"
#include "workload/gpu_display_name.h"

#include <cstdio>
#include <unistd.h>

namespace ventaro {
namespace {

const char* verdictName(Verdict verdict) {
  switch (verdict) {
  case Verdict::steady:
    return "steady";
  case Verdict::throttled:
    return "throttled";
  case Verdict::unstable:
    break;
  }
  return "unstable";
}

// Reasons on standard error for what went wrong on a device.
void reportProblems(const BurnInSeries& series, const BurnInJudgement& judgement) {
  const std::string id = displayText(series.deviceId);
  if (series.failure) {
    std::fprintf(stderr, "ventaro: %s: the load failed: %s\n", id.c_str(),
                 displayText(*series.failure).c_str());
  }
  if (judgement.segmentsWithErrors > 0) {
    std::fprintf(stderr,
                 "ventaro: %s: the results were wrong: in %lld segments the product differed "
                 "from the first (at most %lld elements)\n",
                 id.c_str(), static_cast<long long>(judgement.segmentsWithErrors),
                 static_cast<long long>(judgement.mostDifferingElements));
  }
  if (series.accuracyFailed()) {
    std::fprintf(stderr,
                 "ventaro: %s: the results were wrong: values of the product lay outside the "
                 "FP32 error bound of the exact product\n",
                 id.c_str());
  }
}

} // namespace

int runTimedStart(const TimedStart& start) {
  LiveOutput live;
  live.stream = start.live;
  live.terminal = start.live != nullptr && isatty(fileno(start.live)) != 0;
  live.line = [](const std::vector<BurnInSeries>& series) { return burnInStatusLine(series); };
  Application* application = start.application;
  const std::vector<BurnInSeries> runs = runTimedLoads(
      start.request, start.telemetryFor,
      [application] { return application != nullptr ? application->receivedSignal() : 0; }, live);

  int status = 0;
  std::vector<TimedRunSummary> summaries;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const BurnInSeries& series = runs[i];
    const BurnInJudgement judgement = judgeBurnIn(series);
    const gpu::Device* device = start.request.devices[i].device.get();
    summaries.push_back({&series, device, verdictName(judgement.verdict), judgement.medianGflops,
                         judgement.lowestGflops, device->peakGflops()});
    reportProblems(series, judgement);
    if (series.failure || judgement.verdict == Verdict::unstable) {
      status = kExitFailed;
    }
    // One notice per device; several devices keep theirs apart by the device's name.
    NotificationContent content{series.deviceName, burnInNoticeBody(series, judgement), true};
    const std::string identifier =
        runs.size() == 1 ? std::string(kResultNoticeIdentifier)
                         : std::string(kResultNoticeIdentifier) + " " + series.deviceId;
    start.center->add(identifier, content);
  }
  if (start.output.json && start.output.out != nullptr) {
    *start.output.out << timedRunJson(summaries) << std::flush;
  }
  if (start.request.plotPath) {
    std::string why;
    const bool drawn = renderPlot(runs, *start.request.plotPath, why);
    // The process draws one picture: the font caches go now, so that nothing is held at exit.
    releasePictureCaches();
    if (!drawn) {
      std::fprintf(stderr, "ventaro: cannot draw %s: %s\n",
                   displayText(*start.request.plotPath).c_str(), displayText(why).c_str());
      status = kExitFailed;
    }
  }
  const int signal = application != nullptr ? application->receivedSignal() : 0;
  return signal != 0 ? 128 + signal : status;
}

} // namespace ventaro
