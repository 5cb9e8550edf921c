#include "bench/library_reference.h"

#include <algorithm>
#include <cblas.h>
#include <chrono>
#include <vector>

namespace ventaro::bench {

double cblasGflops(int dimension, int count, int repeats, int threads) {
  const auto n = static_cast<std::size_t>(dimension);
  // The load's own operands: its matrix times itself, written elsewhere.
  const std::vector<float> a = loadOperands(dimension);
  std::vector<float> c(n * n);

  openblas_set_num_threads(threads);
  auto multiply = [&] {
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, dimension, dimension, dimension, 1.0f,
                a.data(), dimension, a.data(), dimension, 0.0f, c.data(), dimension);
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
