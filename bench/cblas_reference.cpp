#include "bench/library_reference.h"

#include <algorithm>
#include <cblas.h>
#include <chrono>
#include <random>
#include <vector>

namespace ventaro::bench {

double cblasGflops(int dimension, int count, int repeats, int threads) {
  const auto n = static_cast<std::size_t>(dimension);
  std::vector<float> a(n * n), b(n * n), c(n * n);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::generate(a.begin(), a.end(), [&] { return uniform(random); });
  std::generate(b.begin(), b.end(), [&] { return uniform(random); });

  openblas_set_num_threads(threads);
  auto multiply = [&] {
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, dimension, dimension, dimension, 1.0f,
                a.data(), dimension, b.data(), dimension, 0.0f, c.data(), dimension);
  };
  multiply();
  double best = 0;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
      multiply();
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::max(best, multiplicationGflops(dimension, count, elapsed));
  }
  return best;
}

} // namespace ventaro::bench
