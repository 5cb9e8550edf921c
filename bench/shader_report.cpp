#include "bench/shader_report.h"

#include "bench/shader_compile.h"

#include <cstdio>
#include <gio/gio.h>
#include <sstream>

namespace ventaro::bench {
namespace {

constexpr int unavailableStatus = 77;

struct ChildOutput {
  bool started = false;
  bool finished = false; // ended on its own before the limit
  int status = -1;       // its exit status; -1 when a signal ended it
  std::string out, err;
};

struct Communication {
  bool done = false;
  bool timedOut = false;
  GAsyncResult* result = nullptr;
};

// Runs `argv` with `environment` changes (an empty value unsets), collecting its output,
// killed after `limitSeconds`.
ChildOutput runChild(const std::vector<std::string>& argv,
                     const std::vector<std::pair<std::string, std::string>>& environment,
                     unsigned limitSeconds) {
  ChildOutput output;
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
      G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE));
  for (const auto& [name, value] : environment) {
    if (value.empty()) {
      g_subprocess_launcher_unsetenv(launcher, name.c_str());
    } else {
      g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
    }
  }
  std::vector<const char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (const std::string& argument : argv) {
    pointers.push_back(argument.c_str());
  }
  pointers.push_back(nullptr);
  GError* error = nullptr;
  GSubprocess* process = g_subprocess_launcher_spawnv(launcher, pointers.data(), &error);
  g_object_unref(launcher);
  if (process == nullptr) {
    output.err = "cannot start " + argv.front() + ": " + error->message;
    g_error_free(error);
    return output;
  }
  output.started = true;
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  Communication communication;
  g_subprocess_communicate_utf8_async(
      process, nullptr, nullptr,
      [](GObject*, GAsyncResult* result, gpointer data) {
        auto* state = static_cast<Communication*>(data);
        state->result = G_ASYNC_RESULT(g_object_ref(result));
        state->done = true;
      },
      &communication);
  GSource* timer = g_timeout_source_new_seconds(limitSeconds);
  g_source_set_callback(
      timer,
      [](gpointer data) {
        static_cast<Communication*>(data)->timedOut = true;
        return G_SOURCE_REMOVE;
      },
      &communication, nullptr);
  g_source_attach(timer, context);
  while (!communication.done) {
    g_main_context_iteration(context, TRUE);
    if (communication.timedOut && !communication.done) {
      g_subprocess_force_exit(process); // the communication ends once the pipes close
    }
  }
  g_source_destroy(timer);
  g_source_unref(timer);
  gchar* out = nullptr;
  gchar* err = nullptr;
  if (g_subprocess_communicate_utf8_finish(process, communication.result, &out, &err, &error)) {
    output.out = out != nullptr ? out : "";
    output.err = err != nullptr ? err : "";
    g_free(out);
    g_free(err);
  } else {
    output.err = error->message;
    g_error_free(error);
  }
  g_object_unref(communication.result);
  output.finished = !communication.timedOut;
  if (g_subprocess_get_if_exited(process)) {
    output.status = g_subprocess_get_exit_status(process);
  }
  g_object_unref(process);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  return output;
}

std::string lastLine(const std::string& text) {
  std::string last;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) {
      last = line;
    }
  }
  return last;
}

// Reads the child's record into `report`; false when it is malformed.
bool readRecord(const std::string& record, FamilyReport& report,
                std::map<std::string, std::uint64_t>& stats, std::string& assembly) {
  std::istringstream lines(record);
  bool tiles = false;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    if (key == "assembly") {
      std::ostringstream rest;
      rest << lines.rdbuf();
      assembly = rest.str();
      break;
    }
    if (key == "device") {
      std::getline(fields >> std::ws, report.device);
    } else if (key == "tiles") {
      auto& t = report.tiles;
      tiles = static_cast<bool>(fields >> t.invocations >> t.blockRows >> t.blockColumns >>
                                t.depth >> t.threadRows >> t.threadColumns);
    } else if (key == "subgroup") {
      fields >> report.waveSize;
    } else if (key == "stat") {
      std::uint64_t value = 0;
      std::string name;
      if (fields >> value && std::getline(fields >> std::ws, name)) {
        stats[name] = value;
      }
    }
  }
  return tiles && report.waveSize != 0 && !assembly.empty();
}

unsigned stat(const std::map<std::string, std::uint64_t>& stats, const char* name) {
  const auto found = stats.find(name);
  return found == stats.end() ? 0 : static_cast<unsigned>(found->second);
}

} // namespace

std::vector<FamilyRun> reportedFamilies() {
  return {{"polaris10", false}, {"vega10", false}, {"navi10", false},
          {"navi10", true},     {"navi21", false}, {"navi21", true}};
}

FamilyReport compileFamily(const std::string& executable, const FamilyRun& run,
                           unsigned limitSeconds) {
  FamilyReport report;
  const std::optional<GpuFamily> family = gpuFamily(run.family);
  if (!family) {
    report.reason = "unknown family " + run.family;
    return report;
  }
  // The loader searches its usual places whatever driver list the caller chose, and loads
  // RADV's manifest alone; the null device is the one RADV_FORCE_FAMILY makes.
  const ChildOutput child = runChild({executable, "--shader-family"},
                                     {{"RADV_FORCE_FAMILY", run.family},
                                      {"RADV_PERFTEST", run.wave32 ? "cswave32" : ""},
                                      {"VK_ICD_FILENAMES", ""},
                                      {"VK_DRIVER_FILES", ""},
                                      {"VK_LOADER_DRIVERS_SELECT", "*radeon*"}},
                                     limitSeconds);
  if (!child.started) {
    report.reason = child.err;
    return report;
  }
  if (!child.finished) {
    report.reason = "the compilation ran past " + std::to_string(limitSeconds) + " s";
    return report;
  }
  if (child.status != 0) {
    report.status = child.status == unavailableStatus ? FamilyReport::Status::unavailable
                                                      : FamilyReport::Status::failed;
    report.reason =
        child.status < 0 ? "the compilation was ended by a signal" : lastLine(child.err);
    return report;
  }
  std::map<std::string, std::uint64_t> stats;
  std::string assembly;
  if (!readRecord(child.out, report, stats, assembly)) {
    report.reason = "the compilation printed no complete record";
    return report;
  }
  report.vgprs = stat(stats, "VGPRs");
  report.sgprs = stat(stats, "SGPRs");
  report.spills = stat(stats, "Spilled VGPRs") + stat(stats, "Spilled SGPRs");
  report.sharedBytes = stat(stats, "LDS size");
  report.waves = wavesPerSimd(*family, {report.waveSize, report.vgprs, report.sgprs,
                                        report.sharedBytes, report.tiles.invocations});
  const auto& t = report.tiles;
  report.loop = analyseMainLoop(assembly, double(t.threadRows) * t.threadColumns * t.depth);
  report.status = FamilyReport::Status::compiled;
  return report;
}

int printCompiledShader() {
  auto compiled = compileOnAmdCompilerDevice();
  if (const auto* failed = std::get_if<NotCompiled>(&compiled)) {
    std::fprintf(stderr, "%s\n", failed->reason.c_str());
    return failed->noDevice ? unavailableStatus : 1;
  }
  const CompiledShader& shader = std::get<CompiledShader>(compiled);
  const auto& t = shader.tiles;
  std::printf("device %s\ntiles %u %u %u %u %u %u\nsubgroup %u\n", shader.device.c_str(),
              t.invocations, t.blockRows, t.blockColumns, t.depth, t.threadRows, t.threadColumns,
              shader.subgroupSize);
  for (const auto& [name, value] : shader.stats) {
    std::printf("stat %llu %s\n", static_cast<unsigned long long>(value), name.c_str());
  }
  std::printf("assembly\n%s", shader.assembly.c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int printShaderReport(const std::string& executable) {
  std::printf(
      "# the multiplication shader (aligned strides) as RADV's null device compiles it\n"
      "# waves/SIMD from the family's occupancy rules; the loop figures count one iteration of\n"
      "# the main loop, inner loops by their trips; overlap: the fewest FMAs a global load\n"
      "# runs beside before it is waited for, '!' where that is less than one step's FMAs\n");
  std::printf("%-14s %-18s %5s %5s %6s %6s %10s %5s %7s %7s %5s %7s  %s\n", "family", "tiles",
              "VGPRs", "SGPRs", "spills", "shared", "waves/SIMD", "FMAs", "FMA/vec", "FMA/all",
              "loads", "overlap", "shared-memory reads");
  int status = 0;
  for (const FamilyRun& run : reportedFamilies()) {
    const FamilyReport r = compileFamily(executable, run);
    if (r.status != FamilyReport::Status::compiled) {
      std::printf("%-14s not compiled: %s\n", run.label().c_str(), r.reason.c_str());
      std::fflush(stdout);
      status = 1;
      continue;
    }
    const auto& t = r.tiles;
    const std::string tiles = std::to_string(t.invocations) + "/" + std::to_string(t.blockRows) +
                              "/" + std::to_string(t.blockColumns) + "/" + std::to_string(t.depth) +
                              "/" + std::to_string(t.threadRows) + "/" +
                              std::to_string(t.threadColumns);
    std::printf("%-14s %-18s %5u %5u %6u %4u K %10u ", run.label().c_str(), tiles.c_str(), r.vgprs,
                r.sgprs, r.spills, r.sharedBytes / 1024, r.waves);
    if (!r.loop) {
      std::printf("no main loop found\n");
      status = 1;
      continue;
    }
    const LoopFigures& l = *r.loop;
    std::printf("%5.0f %6.1f%% %6.1f%% %5.0f %5.0f%s ", l.fmas, 100 * l.fmaShareOfVector(),
                100 * l.fmaShareOfAll(), l.globalLoads, l.fmasInFlight,
                l.globalWaitBeforeFmas ? "!" : " ");
    for (const auto& [mnemonic, count] : l.sharedReads) {
      std::printf(" %s x%.0f", mnemonic.c_str(), count);
    }
    if (l.innerLoops > 0) {
      std::printf("  (%zu inner loops x%.0f)", l.innerLoops, l.innerTrips);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  return status;
}

} // namespace ventaro::bench
