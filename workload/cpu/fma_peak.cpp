#include "workload/cpu/fma_peak.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ventaro::gpu::cpu {
namespace {

// One chain step is acc = acc × m + a with m just below 1: values settle near a / (1 − m),
// far from overflow and from denormals.
constexpr float factor = 0.9999999f;
constexpr float addend = 1e-7f;

// Each kernel runs `iterations` rounds over its chains and returns a value that depends on
// all of them (so that none is optimised away); `flopsPerIteration` says what a round is.
struct Kernel {
  float (*run)(std::int64_t iterations);
  double flopsPerIteration;
  const char* name;
};

#if defined(__x86_64__)
// 24 chains of 16 lanes: enough independent work to cover the FMA latency on two pipes,
// within the 32 vector registers.
__attribute__((target("avx512f"))) float chainsAvx512(std::int64_t iterations) {
  constexpr int chains = 24;
  // A plain array: a vector type loses its attributes as a template argument.
  __m512 acc[chains]; // NOLINT(modernize-avoid-c-arrays)
  for (int j = 0; j < chains; ++j) {
    acc[j] = _mm512_set1_ps(0.5f + 0.01f * static_cast<float>(j));
  }
  const __m512 m = _mm512_set1_ps(factor);
  const __m512 a = _mm512_set1_ps(addend);
  for (std::int64_t i = 0; i < iterations; ++i) {
#pragma GCC unroll 24
    for (__m512& chain : acc) {
      chain = _mm512_fmadd_ps(chain, m, a);
    }
  }
  __m512 sum = acc[0];
  for (int j = 1; j < chains; ++j) {
    sum = _mm512_add_ps(sum, acc[j]);
  }
  alignas(64) std::array<float, 16> lanes{};
  _mm512_store_ps(lanes.data(), sum);
  float total = 0;
  for (float lane : lanes) {
    total += lane;
  }
  return total;
}

// 12 chains of 8 lanes within the 16 vector registers.
__attribute__((target("avx2,fma"))) float chainsAvx2(std::int64_t iterations) {
  constexpr int chains = 12;
  __m256 acc[chains]; // NOLINT(modernize-avoid-c-arrays): as above
  for (int j = 0; j < chains; ++j) {
    acc[j] = _mm256_set1_ps(0.5f + 0.01f * static_cast<float>(j));
  }
  const __m256 m = _mm256_set1_ps(factor);
  const __m256 a = _mm256_set1_ps(addend);
  for (std::int64_t i = 0; i < iterations; ++i) {
#pragma GCC unroll 12
    for (__m256& chain : acc) {
      chain = _mm256_fmadd_ps(chain, m, a);
    }
  }
  __m256 sum = acc[0];
  for (int j = 1; j < chains; ++j) {
    sum = _mm256_add_ps(sum, acc[j]);
  }
  alignas(32) std::array<float, 8> lanes{};
  _mm256_store_ps(lanes.data(), sum);
  float total = 0;
  for (float lane : lanes) {
    total += lane;
  }
  return total;
}
#endif

// Whatever the compiler makes of 32 scalar chains (vectorised where it can).
float chainsPortable(std::int64_t iterations) {
  constexpr int chains = 32;
  std::array<float, chains> acc{};
  for (int j = 0; j < chains; ++j) {
    acc[j] = 0.5f + 0.01f * static_cast<float>(j);
  }
  for (std::int64_t i = 0; i < iterations; ++i) {
#pragma GCC unroll 32
    for (float& chain : acc) {
      chain = chain * factor + addend;
    }
  }
  float total = 0;
  for (float value : acc) {
    total += value;
  }
  return total;
}

// The processor time the calling thread has used.
std::optional<double> threadCpuSeconds() {
  timespec now{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) {
    return std::nullopt;
  }
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

Kernel widestKernel() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) {
    return {chainsAvx512, 24.0 * 16 * 2, "AVX-512"};
  }
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    return {chainsAvx2, 12.0 * 8 * 2, "AVX2 + FMA"};
  }
#endif
  return {chainsPortable, 32.0 * 2, "portable"};
}

} // namespace

std::optional<FmaPeak> measureFmaPeak(int threads, double seconds) {
  const Kernel kernel = widestKernel();
  constexpr std::int64_t chunk = 1 << 20;
  std::vector<double> rates(static_cast<std::size_t>(std::max(threads, 0)), 0.0);
  std::atomic<float> sink{0.0f};
  std::vector<std::thread> workers;
  workers.reserve(rates.size());
  bool allStarted = true;
  for (double& rate : rates) {
    try {
      workers.emplace_back([&] {
        using Clock = std::chrono::steady_clock;
        kernel.run(chunk / 16); // wake the vector units before timing
        const auto start = Clock::now();
        const std::optional<double> startCpu = threadCpuSeconds();
        std::int64_t iterations = 0;
        float value = 0;
        double elapsed = 0;
        do {
          value += kernel.run(chunk);
          iterations += chunk;
          elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < seconds);
        // The time the thread ran, not the time it took: other work on a shared machine
        // would otherwise show as a slower processor.
        const std::optional<double> endCpu = threadCpuSeconds();
        const double ran =
            startCpu && endCpu && *endCpu > *startCpu ? *endCpu - *startCpu : elapsed;
        rate = static_cast<double>(iterations) * kernel.flopsPerIteration / ran / 1e9;
        sink.store(value, std::memory_order_relaxed);
      });
    } catch (const std::system_error&) {
      // Fewer threads than asked for would measure a part of the processor as all of it.
      allStarted = false;
      break;
    }
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  if (!allStarted || rates.empty()) {
    return std::nullopt;
  }
  FmaPeak peak{0, kernel.name};
  for (double rate : rates) {
    peak.gflops += rate;
  }
  return peak;
}

} // namespace ventaro::gpu::cpu
