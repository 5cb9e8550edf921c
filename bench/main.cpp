// ventaro-bench: the matrix load's throughput through each backend that was built, next to
// the plain library call it stands on and the device's FP32 peak with the fraction of it the
// load reaches (measured FMA chains for the processor, SMs × lanes × 2 × clock for a CUDA
// device, the device's own figure for a Vulkan one). One line per backend, and one per Vulkan
// device (beside cuBLAS on an NVIDIA GPU):
//   cpu: load N GFLOPS, library N GFLOPS, ratio R, peak N GFLOPS, F of peak
//   vulkan:0: load N GFLOPS, peak N GFLOPS, F of peak, cuBLAS N GFLOPS, ratio R
// With --shader-report it runs no load: it prints how the compiler of each AMD GPU family
// compiles the Vulkan multiplication shader (bench/shader_report.h), with no GPU needed.

#include "bench/library_reference.h"
#include "bench/peak_text.h"
#include "bench/shader_report.h"
#include "bench/vulkan_lines.h"
#include "workload/cpu/cpu_device.h"
#include "workload/cpu/fma_peak.h"
#include "workload/gpu_device.h"
#include "workload/matrix_load.h"

#include <algorithm>
#include <cblas.h>
#include <cstdio>
#include <cstring>
#include <glib.h>
#include <optional>
#include <string>

namespace {

struct Options {
  int dimension = 4096;
  std::optional<int> count; // default: one multiplication per 64 MiB of the working set
  int repeats = 3;
  double peakSeconds = 1.0;
};

void usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s [--dimension N] [--count N] [--repeat N] [--peak-seconds S]\n"
               "       %s --shader-report\n"
               "  --dimension N     matrix size (default 4096)\n"
               "  --count N         multiplications per measurement (default: one per 64 MiB\n"
               "                    of the device's recommended working set)\n"
               "  --repeat N        measurements per figure, the best is kept (default 3)\n"
               "  --peak-seconds S  duration of the FMA peak measurement (default 1)\n"
               "  --shader-report   the Vulkan shader as each AMD GPU family's compiler sees it\n",
               program, program);
}

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) {
      return std::nullopt;
    }
    const char* value = argv[++i];
    char* end = nullptr;
    if (flag == "--peak-seconds") {
      options.peakSeconds = std::strtod(value, &end);
      if (*end != '\0' || !(options.peakSeconds > 0)) {
        return std::nullopt;
      }
      continue;
    }
    const long number = std::strtol(value, &end, 10);
    if (*end != '\0' || number < 1 || number > 1'000'000) {
      return std::nullopt;
    }
    if (flag == "--dimension") {
      options.dimension = static_cast<int>(number);
    } else if (flag == "--count") {
      options.count = static_cast<int>(number);
    } else if (flag == "--repeat") {
      options.repeats = static_cast<int>(number);
    } else {
      return std::nullopt;
    }
  }
  return options;
}

int countFor(const Options& options, const ventaro::gpu::Device& device) {
  if (options.count) {
    return *options.count;
  }
  return static_cast<int>(std::max<std::uint64_t>(1, device.recommendedMaxWorkingSetSize() >> 26));
}

// The best of the repeats, after one warm-up run.
std::int64_t loadGflops(ventaro::gpu::Device& device, int dimension, int count, int repeats) {
  ventaro::runMatrixLoad(device, dimension, 1);
  std::int64_t best = 0;
  for (int r = 0; r < repeats; ++r) {
    const ventaro::LoadOutcome outcome = ventaro::runMatrixLoad(device, dimension, count);
    if (outcome.failed() || outcome.wrongResults()) {
      std::fprintf(stderr, "load on %s: %s\n", device.name().c_str(),
                   outcome.failure.value_or("the results were wrong").c_str());
      return 0;
    }
    best = std::max(best, outcome.gflops);
  }
  return best;
}

void printLine(const char* backend, std::int64_t load, double library, std::optional<double> peak) {
  std::printf("%s: load %lld GFLOPS, library %lld GFLOPS, ratio %.2f", backend,
              static_cast<long long>(load), static_cast<long long>(library),
              library > 0 ? static_cast<double>(load) / library : 0.0);
  std::printf("%s\n", ventaro::bench::peakText(load, peak).c_str());
  std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--shader-report") == 0) {
    gchar* self = g_file_read_link("/proc/self/exe", nullptr);
    const std::string executable = self != nullptr ? self : argv[0];
    g_free(self);
    return ventaro::bench::printShaderReport(executable);
  }
  if (argc == 2 && std::strcmp(argv[1], "--shader-family") == 0) {
    return ventaro::bench::printCompiledShader(); // one family, for the report's parent
  }
  const std::optional<Options> options = parse(argc, argv);
  if (!options) {
    usage(argv[0]);
    return 2;
  }
  const int n = options->dimension;

  ventaro::gpu::cpu::CpuDevice cpu;
  const int cpuCount = countFor(*options, cpu);
  const std::optional<ventaro::gpu::cpu::FmaPeak> peak =
      ventaro::gpu::cpu::measureFmaPeak(cpu.threads(), options->peakSeconds);
  std::printf("# cpu: %s, %d threads, BLAS core %s, FMA path %s; %d x %d, %d multiplications\n",
              cpu.name().c_str(), cpu.threads(), openblas_get_corename(),
              peak ? peak->instructions.c_str() : "not measured", n, n, cpuCount);
  const std::int64_t cpuLoad = loadGflops(cpu, n, cpuCount, options->repeats);
  const double cpuLibrary =
      ventaro::bench::cblasGflops(n, cpuCount, options->repeats, cpu.threads());
  printLine("cpu", cpuLoad, cpuLibrary,
            peak ? std::optional<double>(peak->gflops) : std::optional<double>());

  ventaro::bench::NvidiaReference nvidia;
  // Every backend's devices are listed; the CUDA line measures the first CUDA device.
  const auto gpus = ventaro::gpu::systemGpuPlatform().copyAllDevices();
  const auto cuda = std::find_if(gpus.begin(), gpus.end(),
                                 [](const auto& device) { return device->backend() == "cuda"; });
  if (cuda != gpus.end()) {
    ventaro::gpu::Device& gpu = **cuda;
    const int gpuCount = countFor(*options, gpu);
    std::string figures;
    const std::optional<double> gpuPeak = ventaro::bench::cudaPeakGflops(figures);
    std::printf("# cuda: %s, %s; %d x %d, %d multiplications\n", gpu.name().c_str(),
                figures.c_str(), n, n, gpuCount);
    const std::int64_t gpuLoad = loadGflops(gpu, n, gpuCount, options->repeats);
    const std::optional<double> gpuLibrary =
        ventaro::bench::cublasGflops(n, gpuCount, options->repeats);
    printLine("cuda", gpuLoad, gpuLibrary.value_or(0.0), gpuPeak);
    nvidia = {gpuLibrary, gpuPeak};
  }
  ventaro::bench::printVulkanLines(
      n, [&](const ventaro::gpu::Device& device) { return countFor(*options, device); },
      [&](ventaro::gpu::Device& device) {
        return loadGflops(device, n, countFor(*options, device), options->repeats);
      },
      nvidia);
  return 0;
}
